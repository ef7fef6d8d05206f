// The fixed texts of the Windows Sockets error codes.

#include "files/socket_error_text.h"
#include "platform/socket.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

namespace {

const std::string kDefaultText = "Error : Windows Socket error.";

TEST(SocketErrorText, ListedCodesHaveTheirOwnTexts) {
    EXPECT_STREQ(SocketErrorTextFor(10061), "Error : Connection refused.");
    EXPECT_STREQ(SocketErrorTextFor(10060), "Error : Connection timed out.");
    EXPECT_STREQ(SocketErrorTextFor(10050), "Error : Network is down.");
    EXPECT_STREQ(SocketErrorTextFor(10004), "Error : A blocking socket call was canceled.");
    EXPECT_STREQ(SocketErrorTextFor(11003), "Error : This is a nonrecoverable error.");
    EXPECT_STREQ(SocketErrorTextFor(11004),
                 "Error : Valid name, no data record of requested type.");
}

TEST(SocketErrorText, UnlistedCodesZeroAndNegativeGiveTheDefault) {
    for (const int code : {10059, 10062, 10066, 10094, 11000, 11005, 0, -1, -10061, 61, 111})
        EXPECT_EQ(SocketErrorTextFor(code), kDefaultText) << code;
}

TEST(SocketErrorText, TableHoldsFortyOneDistinctTextsThatFitSeventyBytes) {
    int listed = 0;
    size_t longest = 0;
    for (int code = 9000; code <= 12000; ++code) {
        const std::string text = SocketErrorTextFor(code);
        ASSERT_EQ(text.rfind("Error : ", 0), 0u) << code;
        if (text == kDefaultText)
            continue;
        ++listed;
        longest = std::max(longest, text.size());
        // The callers put these texts into printf-style formats and single log lines.
        EXPECT_EQ(text.find_first_of("%\r\n"), std::string::npos) << code;
    }
    EXPECT_EQ(listed, 41);
    EXPECT_EQ(longest, 69u);
}

struct CodeText {
    int code;
    const char* text;
};

std::ostream& operator<<(std::ostream& out, const CodeText& c) {
    return out << c.code;
}

class SocketErrorTable : public ::testing::TestWithParam<CodeText> {};

// Every listed code, as the service texts give it.
TEST_P(SocketErrorTable, CodeGivesItsText) {
    EXPECT_EQ(SocketErrorTextFor(GetParam().code), std::string("Error : ") + GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    FortyOneCodes, SocketErrorTable,
    ::testing::Values(
        CodeText{10004, "A blocking socket call was canceled."},
        CodeText{10013, "Permission denied."}, CodeText{10014, "Bad address."},
        CodeText{10022, "Invalid argument."}, CodeText{10024, "Too many open files."},
        CodeText{10035, "Resource temporarily unavailable."},
        CodeText{10036, "Operation now in progress."},
        CodeText{10037, "Operation already in progress."},
        CodeText{10038, "Socket operation on nonsocket."},
        CodeText{10039, "A required address was omitted from an operation on a socket."},
        CodeText{10040, "Message too long."}, CodeText{10041, "Protocol wrong type for socket."},
        CodeText{10042, "Bad protocol option."}, CodeText{10043, "Protocol not supported."},
        CodeText{10044, "Socket type not supported."}, CodeText{10045, "Operation not supported."},
        CodeText{10046, "Protocol family not supported."},
        CodeText{10047, "Address family not supported by protocol family."},
        CodeText{10048, "Address already in use."},
        CodeText{10049, "Cannot assign requested address."}, CodeText{10050, "Network is down."},
        CodeText{10051, "Network is unreachable."},
        CodeText{10052, "Network dropped connection on reset."},
        CodeText{10053, "Software caused connection to abort."},
        CodeText{10054, "Connection reset by peer."}, CodeText{10055, "No buffer space available."},
        CodeText{10056, "Socket is already connected."},
        CodeText{10057, "Socket is not connected."},
        CodeText{10058, "Cannot send after socket shutdown."},
        CodeText{10060, "Connection timed out."}, CodeText{10061, "Connection refused."},
        CodeText{10064, "Host is down."}, CodeText{10065, "No route to host."},
        CodeText{10067, "Too many processes."},
        CodeText{10091, "Network subsystem is unavailable."},
        CodeText{10092, "Winsock.dll out of range."},
        CodeText{10093, "Successful startup not yet performed."},
        CodeText{11001, "Host not found."}, CodeText{11002, "Nonauthoritative host not found."},
        CodeText{11003, "This is a nonrecoverable error."},
        CodeText{11004, "Valid name, no data record of requested type."}));

TEST(SocketErrorText, GetSocketErrorTextReadsTheThreadsLastError) {
    char buffer[kErrorTextCapacity];
    std::memset(buffer, '#', sizeof buffer);
    platform::SetLastSocketError(10054);
    GetSocketErrorText(buffer);
    EXPECT_STREQ(buffer, "Error : Connection reset by peer.");
    // Nothing is written beyond the text and its zero.
    EXPECT_EQ(buffer[std::strlen(buffer) + 1], '#');

    platform::SetLastSocketError(0);
    GetSocketErrorText(buffer);
    EXPECT_EQ(buffer, kDefaultText);

    // An error that has no Windows Sockets code is named in the system's own words.
    platform::SetLastSocketError(platform::kSystemErrorBase + EIO);
    GetSocketErrorText(buffer);
    EXPECT_STREQ(buffer, "Error : Input/output error.");
}

} // namespace
