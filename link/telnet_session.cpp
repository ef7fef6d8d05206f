// The telnet connection over which the CPU program is committed.

#include "app/updater_dlg.h"
#include "files/activity_log.h"
#include "link/socket_exchange.h"
#include "platform/clock.h"

namespace {
constexpr uint16_t kTelnetPort = 23;

// IAC WILL TERMINAL-TYPE, IAC DO SUPPRESS-GO-AHEAD, IAC WILL SUPPRESS-GO-AHEAD, IAC DO ECHO,
// IAC WILL NAWS.
constexpr char kOptionOffer[] = "\xFF\xFB\x18\xFF\xFD\x03\xFF\xFB\x03\xFF\xFD\x01\xFF\xFB\x1F";
constexpr uint32_t kOptionOfferLength = sizeof kOptionOffer - 1;
} // namespace

int CUpdaterDlg::ConnectTelnet() {
    WriteLog("TELNET Control Socket get", "");
    m_sockTelnet = platform::CreateTcpSocket();
    m_unreadTelnet.Clear();
    if (!m_sockTelnet.IsValid()) {
        ReportSocketError("socket() Error");
        return 1;
    }
    WriteLog("TELNET Control Port connect", "");
    m_addrTelnet = platform::SockAddrIn{};
    m_addrTelnet.addrNet = m_ulDeviceAddr;
    m_addrTelnet.portNet = platform::ServicePortNet("telnet", "tcp", kTelnetPort);
    if (!platform::Connect(m_sockTelnet, m_addrTelnet, kConnectAttemptMs)) {
        ReportSocketError("connect() Error");
        return 2;
    }
    platform::EnableKeepAlive(m_sockTelnet);

    WriteLog("Negotiate Command", "");
    WriteLog(kOptionOffer, static_cast<int>(kOptionOfferLength), "PC -> Device");
    if (SendCommand(m_sockTelnet, kOptionOffer, kOptionOfferLength, 0) != 0)
        return 1;

    // Read what the unit says until it has been quiet for a while. Its option answers start
    // with IAC (0xFF) and pass the judgement; they are logged, not answered. A unit that never
    // falls quiet is given up at the reply deadline: nobody can end the program during a run.
    const uint64_t deadline = platform::NowMs() + platform::ScaledMs(kReplyWaitOrdinaryMs);
    ReplyBuffer reply;
    while (HasUnreadReply(m_sockTelnet) || WaitReadable(m_sockTelnet) == 0) {
        if (platform::NowMs() >= deadline) {
            platform::SetLastSocketError(platform::kWsaEtimedout);
            ReportTransferFailure(*this, "recv() Error");
            return 1;
        }
        int received = 0;
        // A unit that closes the connection fails here too (ReceiveReply reports it).
        if (ReceiveReply(m_sockTelnet, reply, received, 0) != 0)
            return 1;
    }
    return 0;
}
