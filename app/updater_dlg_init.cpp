// Opening the main dialog: socket library, default address, parameter file, caption, discovery.

#include "app/updater_dlg.h"

#include "app/res/resource.h"
#include "files/activity_log.h"
#include "files/param_file.h"
#include "files/socket_error_text.h"
#include "files/version_info.h"
#include "platform/file.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr const char* kDefaultModel = "KQ-A2";

} // namespace

bool CUpdaterDlg::OnInitDialog() {
    CDialog::OnInitDialog();

    const std::string aboutItem = platform::LoadStringResource(IDS_ABOUTBOX);
    if (!aboutItem.empty()) {
        AppendSystemMenuItem(aboutItem, IDM_ABOUTBOX);
    }
    SetWindowIcon(m_hIcon);

    m_log.Delete();
    WriteLog("WinSock initialize", "");
    if (const int code = platform::StartupSockets(); code != 0) {
        // The start-up reports its error as its result; make it the error the text describes.
        platform::SetLastSocketError(code);
        char text[kErrorTextCapacity] = {};
        GetSocketErrorText(text);
        WriteLog(text, static_cast<int>(std::strlen(text)), "WSAStartup() Error");
        MessageBox(text, platform::kMbIconError);
        std::exit(1);
    }

    // Like typing: each field's change notification runs the auto-advance.
    SetDlgItemText(IDC_IP1, "192");
    SetDlgItemText(IDC_IP2, "168");
    SetDlgItemText(IDC_IP3, "010");
    SetDlgItemText(IDC_IP4, "002");

    char param[kParamFileCapacity] = {};
    if (const int length = ReadParamFile(param); length > 0) {
        ApplyParamFile(param);
        SetDlgItemText(IDC_TITLE, ParamFileHeading(param));
    } else {
        SetDlgItemText(IDC_TITLE, platform::LoadStringResource(IDS_DEFAULT_TITLE));
        std::snprintf(m_szModel, sizeof m_szModel, "%s", kDefaultModel);
    }

    for (const int id :
         {IDC_MODEL, IDC_TITLE, IDC_CAUTION, IDC_VERSION_LINE, IDC_STATUS, IDC_DATA}) {
        SetDlgItemFont(id, m_fontBold);
    }

    SetCaption(ComposeCaption());

    FindUpdateFiles();

    SetFocusTo(IDC_IP1);
    SelectAllText(IDC_IP1);
    return true;
}
