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

int CUpdaterDlg::SendCommand(const platform::Socket& socket, const void* data, uint32_t length,
                             int showProgress) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    uint32_t sent = 0;
    while (sent < length) {
        const uint32_t chunk = std::min(length - sent, kSendChunk);
        if (!SendWhole(socket, bytes + sent, chunk)) {
            ReportTransferFailure(*this, "send() Error");
            return 1;
        }
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
    return 0;
}

int CUpdaterDlg::ReceiveReply(const platform::Socket& socket, ReplyBuffer& buffer,
                              int& receivedLength, int tolerateFailed500, ReplyWait wait) {
    const uint32_t bound = wait == ReplyWait::Writing ? kReplyWaitWritingMs : kReplyWaitOrdinaryMs;
    const long received =
        platform::Receive(socket, buffer.Data(), ReplyBuffer::kReplyCapacity, bound);
    receivedLength = static_cast<int>(received);
    if (received < 0) {
        ReportTransferFailure(*this, "recv() Error");
        return 1;
    }
    buffer.Data()[received] = '\0';
    buffer.SetLength(static_cast<size_t>(received));
    if (received > 0 && m_nUnitContact.exchange(kContactAnswered) != kContactAnswered)
        m_record.Answered();
    WriteLog(buffer.Text(), receivedLength, "PC <- Device");
    if (received == 0) {
        // The unit closed the connection instead of answering: whatever was asked of it, it
        // did not confirm, so the step must not pass as done.
        platform::SetLastSocketError(platform::kWsaEconnreset);
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

int CUpdaterDlg::WaitReadable(const platform::Socket& socket) {
    return platform::WaitReadable(socket, kQuietPeriodMs) == 1 ? 0 : 1;
}

int CUpdaterDlg::Exchange(const platform::Socket& socket, const char* command, ReplyBuffer& reply,
                          int tolerateFailed500, ReplyWait wait) {
    const auto length = static_cast<uint32_t>(std::strlen(command));
    WriteLog(command, static_cast<int>(length), "PC -> Device");
    if (SendCommand(socket, command, length, 0) != 0)
        return 1;
    int received = 0;
    return ReceiveReply(socket, reply, received, tolerateFailed500, wait);
}
