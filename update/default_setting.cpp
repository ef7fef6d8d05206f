#include "app/res/resource.h"
#include "app/updater_dlg.h"
#include "platform/clock.h"

int CUpdaterDlg::SetDefaultData() {
    static constexpr char kCommand[] = "EXCM w_stupall\r\n";
    SetProgressRange(IDC_PROGRESS, 0, 2);
    SetDlgItemFont(IDC_DEFAULT_SETTING, m_fontBold);
    SetDlgItemText(IDC_STATUS, "");
    SetProgressPos(IDC_PROGRESS, 1);
    platform::SleepMs(100);
    // The unit's default-setting command is the one command that the log does not show.
    if (ReadUnaskedReplies(m_sockCtrl) != 0 ||
        SendCommand(m_sockCtrl, kCommand, sizeof kCommand - 1, 0) != 0)
        return kRunEndProgram;
    ReplyBuffer reply;
    int received = 0;
    // The unit answers once it has rewritten its settings.
    if (ReceiveReply(m_sockCtrl, reply, received, 0, ReplyWait::Writing) != 0)
        return kRunEndProgram;
    SetProgressPos(IDC_PROGRESS, 2);
    platform::SleepMs(100);
    SetDlgItemFont(IDC_DEFAULT_SETTING, m_fontNormal);
    SetProgressPos(IDC_PROGRESS, 0);
    return kRunOk;
}
