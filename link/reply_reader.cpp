#include "link/reply_reader.h"

#include "platform/clock.h"

#include <algorithm>

namespace {

constexpr unsigned char kIac = 255, kSb = 250, kSe = 240, kWill = 251, kDont = 254;
constexpr size_t kReceiveSize = 65536;
constexpr size_t kNone = std::string_view::npos;

bool IsLineEnd(char c) {
    return c == '\r' || c == '\n';
}

// Where the line that starts at `from` ends (behind its CR LF, LF or CR), or kNone. A CR that
// arrived last may still be followed by its LF: the line's end is not known yet.
size_t LineEnd(std::string_view bytes, size_t from) {
    const size_t at = bytes.find_first_of("\r\n", from);
    if (at == kNone || (bytes[at] == '\r' && at + 1 == bytes.size()))
        return kNone;
    return bytes[at] == '\r' && bytes[at + 1] == '\n' ? at + 2 : at + 1;
}

size_t BehindLineEnds(std::string_view bytes, size_t at) {
    while (at < bytes.size() && IsLineEnd(bytes[at]))
        ++at;
    return at;
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// "200-": the first line of a reply that goes on until a line starting "200 ".
bool OpensMultiLineReply(std::string_view bytes) {
    return bytes.size() >= 4 && IsDigit(bytes[0]) && IsDigit(bytes[1]) && IsDigit(bytes[2]) &&
           bytes[3] == '-';
}

size_t FtpReplyLength(std::string_view bytes) {
    size_t end = LineEnd(bytes, 0);
    if (end == kNone)
        return 0;
    if (OpensMultiLineReply(bytes)) {
        const std::string last = std::string(bytes.substr(0, 3)) + ' ';
        for (;;) {
            const size_t lineStart = end;
            end = LineEnd(bytes, lineStart);
            if (end == kNone)
                return 0;
            if (bytes.substr(lineStart, 4) == last)
                break;
        }
    }
    return BehindLineEnds(bytes, end);
}

// The end of the telnet command that starts at `at` (an IAC), or kNone while it is incomplete.
size_t TelnetCommandEnd(std::string_view bytes, size_t at) {
    if (at + 1 >= bytes.size())
        return kNone;
    const auto verb = static_cast<unsigned char>(bytes[at + 1]);
    if (verb >= kWill && verb <= kDont)
        return at + 2 < bytes.size() ? at + 3 : kNone;
    if (verb != kSb)
        return at + 2;
    for (size_t i = at + 2; i + 1 < bytes.size(); ++i) {
        if (static_cast<unsigned char>(bytes[i]) == kIac &&
            static_cast<unsigned char>(bytes[i + 1]) == kSe)
            return i + 2;
    }
    return kNone;
}

size_t TelnetReplyLength(std::string_view bytes) {
    size_t whole = 0;
    while (whole < bytes.size()) {
        size_t end = kNone;
        if (static_cast<unsigned char>(bytes[whole]) == kIac) {
            end = TelnetCommandEnd(bytes, whole);
        } else {
            // Text goes up to its line end, or up to a command that interrupts it.
            const size_t command = bytes.find(static_cast<char>(kIac), whole);
            end = std::min(LineEnd(bytes, whole), command);
        }
        if (end == kNone)
            break;
        whole = BehindLineEnds(bytes, end);
    }
    return whole;
}

// Protocol milliseconds left until a real-time deadline (at least 1 while any is left).
uint32_t ProtocolMsUntil(uint64_t deadline) {
    const uint64_t now = platform::NowMs();
    if (now >= deadline)
        return 0;
    return static_cast<uint32_t>(static_cast<double>(deadline - now) / platform::TimeScale()) + 1;
}

enum class Arrival { Bytes, Quiet, Closed, Failed };

// Appends what the next receive brings, waiting at most waitMs (protocol time) for it.
Arrival ReceiveMore(const platform::Socket& socket, std::string& bytes, uint32_t waitMs) {
    const int ready = platform::WaitReadable(socket, waitMs);
    if (ready == 0)
        return Arrival::Quiet;
    if (ready < 0)
        return Arrival::Failed;
    const size_t had = bytes.size();
    bytes.resize(had + kReceiveSize);
    const long got = platform::Receive(socket, bytes.data() + had, kReceiveSize, waitMs);
    bytes.resize(had + static_cast<size_t>(std::max(got, 0L)));
    if (got < 0)
        return Arrival::Failed;
    return got == 0 ? Arrival::Closed : Arrival::Bytes;
}

// Line ends ahead of a reply belong to the one before it (they arrived late).
void DropLeadingLineEnds(std::string& bytes) {
    bytes.erase(0, BehindLineEnds(bytes, 0));
}

// The rest of a reply longer than the capacity: read and dropped up to the end of its line.
void DropRestOfLine(const platform::Socket& socket, UnreadBytes& unread, uint64_t deadline,
                    uint32_t quietMs) {
    for (;;) {
        const size_t end = LineEnd(unread.bytes, 0);
        if (end != kNone) {
            unread.bytes.erase(0, BehindLineEnds(unread.bytes, end));
            return;
        }
        unread.bytes.clear();
        const uint32_t left = ProtocolMsUntil(deadline);
        if (left == 0 ||
            ReceiveMore(socket, unread.bytes, std::min(left, quietMs)) != Arrival::Bytes)
            return;
    }
}

} // namespace

size_t WholeReplyLength(std::string_view bytes, ReplyForm form) {
    return form == ReplyForm::Ftp ? FtpReplyLength(bytes) : TelnetReplyLength(bytes);
}

ReplyRead ReadWholeReply(const platform::Socket& socket, UnreadBytes& unread, ReplyForm form,
                         uint32_t boundMs, uint32_t quietMs, size_t capacity) {
    const uint64_t deadline = platform::NowMs() + platform::ScaledMs(boundMs);
    ReplyRead read;
    DropLeadingLineEnds(unread.bytes);
    for (;;) {
        size_t length = WholeReplyLength(unread.bytes, form);
        if (length == 0 && unread.bytes.size() >= capacity)
            length = capacity; // cut: the rest of its line is dropped below
        if (length > 0) {
            read.end = ReplyEnd::Whole;
            read.reply = unread.bytes.substr(0, std::min(length, capacity));
            unread.bytes.erase(0, length);
            if (length >= capacity && !IsLineEnd(read.reply.back()))
                DropRestOfLine(socket, unread, deadline, quietMs);
            return read;
        }
        const uint32_t left = ProtocolMsUntil(deadline);
        const bool partial = !unread.bytes.empty();
        const Arrival arrival =
            left == 0 ? Arrival::Quiet
                      : ReceiveMore(socket, unread.bytes, partial ? std::min(left, quietMs) : left);
        if (arrival == Arrival::Bytes) {
            DropLeadingLineEnds(unread.bytes);
            continue;
        }
        if (partial && arrival != Arrival::Failed) {
            // The unit fell quiet (or hung up) behind part of a reply: that part is its reply.
            read.end = ReplyEnd::Whole;
            read.reply.swap(unread.bytes);
            return read;
        }
        if (arrival == Arrival::Closed) {
            read.end = ReplyEnd::Closed;
            return read;
        }
        if (arrival == Arrival::Quiet)
            platform::SetLastSocketError(platform::kWsaEtimedout);
        read.end = ReplyEnd::Failed;
        return read;
    }
}
