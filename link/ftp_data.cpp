// One active-mode upload: PORT, TYPE I, STOR, the unit's data connection, the bytes.

#include "app/updater_dlg.h"
#include "files/activity_log.h"
#include "files/socket_error_text.h"
#include "link/protocol_format.h"
#include "link/socket_exchange.h"
#include "platform/clock.h"

#include <string>

namespace {

// Waits for the unit's data connection while the control connection stays watched: every reply
// the unit sends meanwhile is read and judged, so that a refusal, or the unit hanging up, ends
// the wait at once instead of at its bound. A connection from any other address is closed and
// the wait goes on. Returns the data connection, or an invalid socket after a failure that has
// been reported. firstReplyRead tells whether the unit's first answer to STOR has been read.
platform::Socket AcceptUnitConnection(CUpdaterDlg& dialog, const platform::Socket& listening,
                                      uint32_t unitAddr, bool& firstReplyRead) {
    const uint64_t deadline = platform::NowMs() + platform::ScaledMs(kDataConnectionWaitMs);
    ReplyBuffer reply;
    for (;;) {
        const uint64_t now = platform::NowMs();
        if (now >= deadline) {
            platform::SetLastSocketError(platform::kWsaEtimedout);
            dialog.ReportSocketError("accept() Error");
            return {};
        }
        // Remaining real time, handed back in protocol time for the platform to scale.
        const double scale = platform::TimeScale();
        const auto remaining =
            static_cast<uint32_t>(static_cast<double>(deadline - now) / scale) + 1;

        // A reply that arrived together with an earlier one is read before any wait.
        const int ready =
            dialog.HasUnreadReply(dialog.m_sockCtrl)
                ? 1
                : platform::WaitEitherReadable(listening, dialog.m_sockCtrl, remaining);
        if (ready == -1)
            continue; // the deadline check above reports it
        if (ready == -2) {
            dialog.ReportSocketError("accept() Error");
            return {};
        }
        if (ready == 1) {
            int received = 0;
            if (dialog.ReceiveReply(dialog.m_sockCtrl, reply, received, 0) != 0)
                return {};
            firstReplyRead = true;
            continue;
        }

        platform::SockAddrIn peer;
        platform::Socket data = platform::AcceptWithin(listening, remaining, peer);
        if (!data.IsValid()) {
            if (platform::LastSocketError() == platform::kWsaEtimedout)
                continue;
            dialog.ReportSocketError("accept() Error");
            return {};
        }
        if (peer.addrNet == unitAddr)
            return data;
        dialog.WriteLog("Data connection from " + platform::DottedAddress(peer.addrNet) +
                            " refused: not the unit's address",
                        "");
    }
}

enum class DataCall { Send, Shutdown };

// A failure of the data connection. A unit that aborted the transfer says why on the control
// connection ("426 ... transfer aborted.", 451, 550), and the socket error is only what followed
// from it: the unit's own refusal is then the failure shown, and the socket error is logged.
// A failed send stops the blink timer before its box, as every failed send does; a failed
// shutdown does not.
int ReportDataFailure(CUpdaterDlg& dialog, DataCall call) {
    const char* caption = call == DataCall::Send ? "send() Error" : "ShutDown() Error";
    char text[kErrorTextCapacity] = {}; // read first: nothing else may touch the error code
    GetSocketErrorText(text);
    if (dialog.HasUnreadReply(dialog.m_sockCtrl) ||
        platform::WaitReadable(dialog.m_sockCtrl, kQuietPeriodMs) == 1) {
        ReplyBuffer reply;
        if (dialog.ReadReply(dialog.m_sockCtrl, reply, ReplyWait::Ordinary) == ReplyEnd::Whole &&
            IsRefusal(reply.Text(), false)) {
            dialog.WriteLog(text, caption);
            dialog.StopBlinkTimer();
            dialog.MessageBox(reply.Text(), platform::kMbIconWarning);
            return 1;
        }
    }
    if (call == DataCall::Send)
        dialog.StopBlinkTimer();
    dialog.ReportError(text, caption);
    return 1;
}

} // namespace

int CUpdaterDlg::SendFileOverData(const uint8_t* data, uint32_t length, const char* remoteName,
                                  int showProgress) {
    WriteLog("FTP Data Socket get", "");
    const platform::Socket listening = platform::CreateTcpSocket();
    if (!listening.IsValid()) {
        ReportSocketError("socket() Error");
        return 1;
    }
    WriteLog("FTP Data Port bind", "");
    if (!platform::Bind(listening, platform::SockAddrIn{})) { // any address, a free port
        ReportSocketError("bind() Error");
        return 1;
    }
    WriteLog("Server listen", "");
    if (!platform::Listen(listening)) {
        ReportSocketError("listen() Error");
        return 1;
    }
    WriteLog("FTP Data Port No. get", "");
    platform::SockAddrIn bound;
    if (!platform::GetSockName(listening, bound)) {
        ReportSocketError("getsockname() Error");
        return 1;
    }

    WriteLog("PORT Command send", "");
    // The address by which the unit reaches us is the local end of the control connection,
    // whichever of the computer's addresses that is.
    platform::SockAddrIn local;
    platform::SockAddrIn unit;
    if (!platform::GetSockName(m_sockCtrl, local)) {
        ReportSocketError("getsockname() Error");
        return 1;
    }
    if (!platform::GetPeerName(m_sockCtrl, unit)) {
        ReportSocketError("getpeername() Error");
        return 1;
    }
    ReplyBuffer reply;
    const std::string port = FormatPortCommand(local.addrNet, platform::NetToHost16(bound.portNet));
    if (Exchange(m_sockCtrl, port.c_str(), reply, 0) != 0)
        return 1;
    WriteLog("TYPE Command send", "");
    if (Exchange(m_sockCtrl, "TYPE I\r\n", reply, 0) != 0)
        return 1;

    WriteLog("STOR Command send", "");
    const std::string stor = FormatStorCommand(remoteName);
    if (ReadUnaskedReplies(m_sockCtrl) != 0)
        return 1;
    WriteLog(stor, "PC -> Device");
    if (SendCommand(m_sockCtrl, stor.data(), static_cast<uint32_t>(stor.size()), 0) != 0)
        return 1;

    WriteLog("Server accept", "");
    bool firstReplyRead = false;
    const platform::Socket connection =
        AcceptUnitConnection(*this, listening, unit.addrNet, firstReplyRead);
    if (!connection.IsValid())
        return 1;
    int received = 0;
    if (!firstReplyRead && ReceiveReply(m_sockCtrl, reply, received, 0) != 0)
        return 1;

    if (!SendAll(connection, data, length, showProgress))
        return ReportDataFailure(*this, DataCall::Send);
    WriteLog("Data connection close", "");
    if (!platform::ShutdownBoth(connection))
        return ReportDataFailure(*this, DataCall::Shutdown);
    return ReceiveReply(m_sockCtrl, reply, received, 0, ReplyWait::Writing);
}
