// The FTP control session: connect, log in, identify the unit, switch it to update mode.

#include "app/res/resource.h"
#include "app/updater_dlg.h"
#include "files/activity_log.h"
#include "files/socket_error_text.h"
#include "link/protocol_format.h"
#include "link/socket_exchange.h"

#include <cstring>
#include <vector>

namespace {
constexpr uint16_t kFtpPort = 21;
constexpr int kModelLength = 5;
constexpr size_t kVersionTextCapacity = 65536;
} // namespace

int CUpdaterDlg::LogInFtp(int attempts) {
    WriteLog("FTP Control Socket get", "");
    m_sockCtrl = platform::CreateTcpSocket();
    m_unreadCtrl.Clear(); // an earlier connection's bytes are no part of this one's replies
    if (!m_sockCtrl.IsValid()) {
        ReportSocketError("socket() Error");
        return 1;
    }
    m_nUpdateStep = kStepConnecting;
    if (m_nUnitContact == kContactNone)
        m_nUnitContact = kContactTried;
    SetDlgItemText(IDC_STATUS, "connecting...");
    m_addrCtrl = platform::SockAddrIn{};
    m_addrCtrl.addrNet = m_ulDeviceAddr;
    m_addrCtrl.portNet = platform::ServicePortNet("ftp", "tcp", kFtpPort);

    char lastError[kErrorTextCapacity] = {};
    bool connected = false;
    for (int attempt = 0; attempt < attempts && !connected; ++attempt) {
        // A socket whose connection failed cannot be connected again everywhere: each attempt
        // gets a fresh one.
        if (attempt > 0) {
            m_sockCtrl = platform::CreateTcpSocket();
            if (!m_sockCtrl.IsValid()) {
                m_nUpdateStep = kStepBetween;
                ReportSocketError("socket() Error");
                return 1;
            }
        }
        WriteLog("FTP Control Port connect", "");
        connected = platform::Connect(m_sockCtrl, m_addrCtrl, kConnectAttemptMs);
        if (!connected) {
            GetSocketErrorText(lastError);
            WriteLog(lastError, static_cast<int>(std::strlen(lastError)), "connect() Error");
        }
    }
    m_nUpdateStep = kStepBetween;
    if (!connected) {
        MessageBox(lastError, platform::kMbIconError);
        return 2;
    }
    platform::EnableKeepAlive(m_sockCtrl);

    ReplyBuffer reply;
    int received = 0;
    if (ReceiveReply(m_sockCtrl, reply, received, 0) != 0)
        return 1;
    WriteLog("FTP login", "");
    if (Exchange(m_sockCtrl, "USER anonymous\r\n", reply, 0) != 0 ||
        Exchange(m_sockCtrl, "PASS\r\n", reply, 0) != 0)
        return 1;
    return 0;
}

int CUpdaterDlg::ConnectFtp(int attempts) {
    if (const int result = LogInFtp(attempts); result != 0)
        return result;

    char modelText[kModelLength + 2] = {};
    std::vector<char> versionText(kVersionTextCapacity, '\0');
    if (IdentifyDevice(modelText, versionText.data()) == 0)
        return 1;
    m_strDeviceModel = modelText;
    if (std::strncmp(m_szModel, modelText, kModelLength) != 0) {
        ReportError("Error : Device Type Wrong.", "");
        return 2;
    }

    m_record.VersionTold(m_strUnitVersion);
    const std::string shown = VersionTextWithoutLineEnd(versionText.data());
    std::memcpy(m_szDeviceVersion, shown.c_str(), shown.size() + 1);
    SetDlgItemText(IDC_VERSION_LINE, m_szDeviceVersion);
    WriteLog(shown, "Upload");
    m_nDeviceVersion = ParseDeviceVersion(versionText.data());
    m_nUpdateStep = kStepNone;

    WriteLog("Change to Update mode", "");
    return EnterUpdateMode();
}
