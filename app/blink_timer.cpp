// The blink timer's tick: the current step's label and the status line are hidden for 200 ms and
// shown for 500 ms in turn while a run is going on.

#include "app/blink_timer.h"
#include "app/updater_dlg.h"

#include "app/res/resource.h"

namespace {

constexpr int kNoLabel = 0;  // only the status line blinks
constexpr int kNoBlink = -1; // nothing blinks

int BlinkLabelFor(int step) {
    if (step >= kStepCpu && step <= kStepScene) {
        return IDC_STEP1 + (step - kStepCpu);
    }
    switch (step) {
    case kStepLogo:
        return IDC_STEP11;
    case kStepDefaultSetting:
        return IDC_DEFAULT_SETTING;
    case kStepFpga2m:
        return IDC_STEP12;
    case kStepConnecting:
    case kStepBetween:
        return kNoLabel;
    default:
        return kNoBlink;
    }
}

} // namespace

void CUpdaterDlg::OnTimer(unsigned timerId) {
    const int label = BlinkLabelFor(m_nUpdateStep);
    if (label == kNoBlink) {
        return;
    }
    const bool show = !m_bLabelsShown;
    if (label != kNoLabel) {
        ShowDlgItem(label, show);
    }
    ShowDlgItem(IDC_STATUS, show);
    m_nTimerId = SetTimer(kBlinkTimerId, show ? kBlinkShownMs : kBlinkHiddenMs);
    m_bLabelsShown = show;
    CDialog::OnTimer(timerId);
}
