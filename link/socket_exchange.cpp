// Sending, receiving and judging replies, and the short readable-wait.

#include "link/socket_exchange.h"

#include "app/res/resource.h"
#include "app/updater_dlg.h"
#include "files/activity_log.h"
#include "files/socket_error_text.h"
#include "link/protocol_format.h"
#include "platform/clock.h"

#include <algorithm>
#include <cstring>

void ReportTransferFailure(CUpdaterDlg& dialog, const char* caption) {
    // The text first: nothing else may touch the thread's error code before it is read.
    char text[kErrorTextCapacity] = {};
    GetSocketErrorText(text);
    dialog.StopBlinkTimer();
    dialog.ReportError(text, caption);
}

namespace {

// Hands over a whole chunk, continuing when the socket takes fewer bytes than asked. A unit that
// takes nothing for kSendStallMs fails the send (timed out).
bool SendWhole(const platform::Socket& socket, const uint8_t* data, uint32_t length) {
    while (length > 0) {
        const long sent = platform::Send(socket, data, length, kSendStallMs);
        if (sent <= 0)
            return false;
        data += sent;
        length -= static_cast<uint32_t>(sent);
    }
    return true;
}

} // namespace

bool CUpdaterDlg::SendAll(const platform::Socket& socket, const void* data, uint32_t length,
                          int showProgress) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    uint32_t sent = 0;
    while (sent < length) {
        const uint32_t chunk = std::min(length - sent, kSendChunk);
        if (!SendWhole(socket, bytes + sent, chunk))
            return false;
        sent += chunk;
        if (showProgress) {
            SetProgressRange(IDC_PROGRESS, 0, length);
            SetProgressPos(IDC_PROGRESS, sent);
        }
    }
    if (showProgress) {
        // The bar is seen full for a moment, then emptied.
        platform::SleepMs(100);
        SetProgressPos(IDC_PROGRESS, 0);
        platform::SleepMs(100);
    }
    return true;
}

int CUpdaterDlg::SendCommand(const platform::Socket& socket, const void* data, uint32_t length,
                             int showProgress) {
    if (SendAll(socket, data, length, showProgress))
        return 0;
    ReportTransferFailure(*this, "send() Error");
    return 1;
}

ReplyEnd CUpdaterDlg::ReadReply(const platform::Socket& socket, ReplyBuffer& buffer,
                                ReplyWait wait) {
    const uint32_t bound = wait == ReplyWait::Writing ? kReplyWaitWritingMs : kReplyWaitOrdinaryMs;
    const ReplyForm form = &socket == &m_sockTelnet ? ReplyForm::Telnet : ReplyForm::Ftp;
    ReplyRead read = ReadWholeReply(socket, UnreadOf(socket), form, bound, kQuietPeriodMs,
                                    ReplyBuffer::kReplyCapacity);
    std::memcpy(buffer.Data(), read.reply.data(), read.reply.size());
    buffer.Data()[read.reply.size()] = '\0';
    buffer.SetLength(read.reply.size());
    if (read.end != ReplyEnd::Whole)
        return read.end;
    if (!read.reply.empty() && m_nUnitContact.exchange(kContactAnswered) != kContactAnswered)
        m_record.Answered();
    WriteLog(buffer.Text(), static_cast<int>(read.reply.size()), "PC <- Device");
    return read.end;
}

int CUpdaterDlg::ReceiveReply(const platform::Socket& socket, ReplyBuffer& buffer,
                              int& receivedLength, int tolerateFailed500, ReplyWait wait) {
    const ReplyEnd end = ReadReply(socket, buffer, wait);
    receivedLength = end == ReplyEnd::Failed ? -1 : static_cast<int>(buffer.Bytes().size());
    if (end == ReplyEnd::Closed) {
        WriteLog("", 0, "PC <- Device");
        // The unit closed the connection instead of answering: whatever was asked of it, it
        // did not confirm, so the step must not pass as done.
        platform::SetLastSocketError(platform::kWsaEconnreset);
    }
    if (end != ReplyEnd::Whole) {
        ReportTransferFailure(*this, "recv() Error");
        return 1;
    }
    if (IsRefusal(buffer.Text(), tolerateFailed500 != 0)) {
        StopBlinkTimer();
        MessageBox(buffer.Text(), platform::kMbIconWarning);
        return 1;
    }
    return 0;
}

bool CUpdaterDlg::HasUnreadReply(const platform::Socket& socket) {
    return !UnreadOf(socket).bytes.empty();
}

int CUpdaterDlg::ReadUnaskedReplies(const platform::Socket& socket) {
    // A unit that never stops talking is given up at the reply deadline.
    const uint64_t deadline = platform::NowMs() + platform::ScaledMs(kReplyWaitOrdinaryMs);
    ReplyBuffer reply;
    while (HasUnreadReply(socket) || platform::WaitReadable(socket, 0) == 1) {
        if (platform::NowMs() >= deadline) {
            platform::SetLastSocketError(platform::kWsaEtimedout);
            ReportTransferFailure(*this, "recv() Error");
            return 1;
        }
        const ReplyEnd end = ReadReply(socket, reply, ReplyWait::Ordinary);
        if (end == ReplyEnd::Closed)
            return 0;
        if (end == ReplyEnd::Failed) {
            ReportTransferFailure(*this, "recv() Error");
            return 1;
        }
        if (IsRefusal(reply.Text(), false)) {
            StopBlinkTimer();
            MessageBox(reply.Text(), platform::kMbIconWarning);
            return 1;
        }
    }
    return 0;
}

int CUpdaterDlg::WaitReadable(const platform::Socket& socket) {
    return platform::WaitReadable(socket, kQuietPeriodMs) == 1 ? 0 : 1;
}

int CUpdaterDlg::Exchange(const platform::Socket& socket, const char* command, ReplyBuffer& reply,
                          int tolerateFailed500, ReplyWait wait) {
    if (ReadUnaskedReplies(socket) != 0)
        return 1;
    const auto length = static_cast<uint32_t>(std::strlen(command));
    WriteLog(command, static_cast<int>(length), "PC -> Device");
    if (SendCommand(socket, command, length, 0) != 0)
        return 1;
    int received = 0;
    return ReceiveReply(socket, reply, received, tolerateFailed500, wait);
}
