// The fixed texts of the Windows Sockets error codes.

#include "files/socket_error_text.h"
#include "platform/socket.h"

#include <gtest/gtest.h>

#include <algorithm>
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
}

} // namespace
