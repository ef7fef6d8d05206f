// The main dialog's buttons, address fields, close guard, system menu, painting and colours.

#include "app/updater_dlg.h"

#include "app/about_dlg.h"
#include "app/blink_timer.h"
#include "app/res/resource.h"
#include "platform/process.h"

namespace {

// Three characters make a full address byte, so the cursor moves on.
constexpr size_t kFieldFullLength = 3;

constexpr uint32_t kRed = platform::Rgb(255, 0, 0);
constexpr uint32_t kBlack = platform::Rgb(0, 0, 0);
constexpr uint32_t kNavy = platform::Rgb(0, 0, 128);

} // namespace

void CUpdaterDlg::OnCommand(int id, int notifyCode) {
    if (id == IDC_UPDATE && notifyCode == platform::kBnClicked) {
        OnUpdateButton();
    } else if (id == IDC_EXIT && notifyCode == platform::kBnClicked) {
        OnExitButton();
    } else if (id >= IDC_IP1 && id <= IDC_IP4 && notifyCode == platform::kEnChange) {
        OnChangeIp(id);
    } else {
        CDialog::OnCommand(id, notifyCode);
    }
}

void CUpdaterDlg::OnChangeIp(int fieldId) {
    if (GetDlgItemText(fieldId).size() < kFieldFullLength) {
        return;
    }
    if (fieldId == IDC_IP4) {
        SetFocusTo(IDC_UPDATE);
        return;
    }
    SetFocusTo(fieldId + 1);
    SelectAllText(fieldId + 1);
}

void CUpdaterDlg::OnUpdateButton() {
    m_nTimerId = SetTimer(kBlinkTimerId, kBlinkShownMs);
    m_bUpdateDone = 0;
    EnableDlgItem(IDC_UPDATE, false);
    EnableDlgItem(IDC_EXIT, false);
    if (m_bRunning == 0) {
        m_bRunning = 1;
        JoinWorker(); // the previous run's thread has cleared m_bRunning and is ending
        m_pWorkerThread = platform::StartThread([this] { UpdateWorker(this); });
    }
}

// Every way of closing goes through the close guard.
void CUpdaterDlg::OnExitButton() {
    PostClose();
}

void CUpdaterDlg::OnClose() {
    if (m_bRunning != 0) {
        MessageBox("Cannot be ended during download processing.", platform::kMbIconWarning);
        return;
    }
    if (m_bUpdateDone != 0) {
        MessageBox("KQVorlink.EXE end.  Please restart all devices.", platform::kMbIconInformation);
    }
    EndDialog(platform::kIdCancel);
}

// The worker uses this object until it returns: Enter and Escape must not end the dialog then.
void CUpdaterDlg::OnOK() {
    if (m_bRunning == 0) {
        CDialog::OnOK();
    }
}

void CUpdaterDlg::OnCancel() {
    if (m_bRunning == 0) {
        CDialog::OnCancel();
    }
}

bool CUpdaterDlg::OnSysCommand(unsigned commandId) {
    if ((commandId & 0xFFF0) != IDM_ABOUTBOX) {
        return CDialog::OnSysCommand(commandId);
    }
    CAboutDlg about;
    about.DoModal();
    return true;
}

bool CUpdaterDlg::OnPaint() {
    if (!IsIconic()) {
        return false;
    }
    PaintIconCentered(m_hIcon);
    return true;
}

std::optional<uint32_t> CUpdaterDlg::OnCtlColor(int id, platform::ControlKind kind) {
    if (kind != platform::ControlKind::Static) {
        return std::nullopt;
    }
    switch (id) {
    case IDC_CAUTION:
        return kRed;
    case IDC_MODEL:
    case IDC_TITLE:
    case IDC_IP_CAPTION:
    case IDC_DOT1:
    case IDC_DOT2:
    case IDC_DOT3:
        return kBlack;
    default:
        return kNavy;
    }
}
