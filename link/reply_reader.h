#pragma once
// Reading one whole reply from a connection, however the network cuts it into receives. A reply
// ends with its line (CR LF, LF alone or CR alone); an FTP reply of several lines ("200-" ...)
// ends with the line that starts with its code and a blank ("200 "). Line ends that arrive right
// behind a reply belong to it; what arrives behind that is kept for the next reply.

#include "platform/socket.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// How a connection's replies end: FTP lines, or telnet's option commands and lines of text.
enum class ReplyForm { Ftp, Telnet };

// The bytes of one connection that arrived behind the last reply read: the next reply's start.
struct UnreadBytes {
    std::string bytes;
    void Clear() { std::string().swap(bytes); }
};

// The length of the first whole reply at the start of `bytes` (line ends right behind it
// included), or 0 while its end has not arrived. A telnet reply is every whole option command
// and line of text at hand.
size_t WholeReplyLength(std::string_view bytes, ReplyForm form);

enum class ReplyEnd {
    Whole,  // the reply's end arrived, or the unit fell quiet behind part of a reply
    Closed, // the unit closed the connection before any byte of a reply
    Failed, // the receive failed or nothing came within the bound; the socket error is set
};

struct ReplyRead {
    ReplyEnd end = ReplyEnd::Failed;
    std::string reply; // at most `capacity` bytes; the rest of a longer reply is read and dropped
};

// Reads the next reply within boundMs of protocol time. A reply whose end does not come while
// the unit stays quiet for quietMs behind part of it is taken as it stands.
ReplyRead ReadWholeReply(const platform::Socket& socket, UnreadBytes& unread, ReplyForm form,
                         uint32_t boundMs, uint32_t quietMs, size_t capacity);
