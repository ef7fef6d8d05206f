// Asking the unit who it is, and switching it to update mode.

#include "app/updater_dlg.h"
#include "link/protocol_format.h"

#include <cstring>

int CUpdaterDlg::IdentifyDevice(char* modelText, char* versionText) {
    ReplyBuffer info;
    ReplyBuffer uname;
    if (Exchange(m_sockCtrl, "EXCM r_INF\r\n", info, 0) != 0 ||
        Exchange(m_sockCtrl, "EXCM uname\r\n", uname, 0) != 0)
        return 0;

    // No terminator: the caller's zeroed buffer ends the model text.
    const std::string model = FindModelText(info.Text());
    std::memcpy(modelText, model.data(), model.size());
    // At most 65,532 characters and the zero: the reply less its code and separator.
    const std::string version = UnameVersionText(uname.Text());
    std::memcpy(versionText, version.c_str(), version.size() + 1);
    m_strUnitVersion = UnitVersionText(uname.Bytes());
    return 1;
}

int CUpdaterDlg::EnterUpdateMode() {
    ReplyBuffer reply;
    if (Exchange(m_sockCtrl, "EXCM k_prism\r\n", reply, 0) != 0 ||
        Exchange(m_sockCtrl, "EXCM c_Varek\r\n", reply, 1) != 0 ||
        Exchange(m_sockCtrl, "CWD \\UpdateBx\r\n", reply, 0) != 0)
        return 1;
    return 0;
}
