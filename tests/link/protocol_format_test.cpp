// The texts sent to the unit and the readings taken from its replies.

#include "link/protocol_format.h"
#include "platform/socket.h"

#include <gtest/gtest.h>

#include <string>

namespace {

uint32_t Addr(const char* dotted) {
    return platform::InetAddr(dotted);
}

TEST(PortCommand, AnnouncesAddressInDottedOrderAndPortAsTwoBytes) {
    EXPECT_EQ(FormatPortCommand(Addr("192.168.0.5"), 4097), "PORT 192,168,0,5,16,1\r\n");
    EXPECT_EQ(FormatPortCommand(Addr("127.0.0.1"), 1234), "PORT 127,0,0,1,4,210\r\n");
    EXPECT_EQ(FormatPortCommand(Addr("10.0.0.9"), 256), "PORT 10,0,0,9,1,0\r\n");
    EXPECT_EQ(FormatPortCommand(Addr("10.0.0.9"), 255), "PORT 10,0,0,9,0,255\r\n");
    // The longest command still comes out whole.
    const std::string longest = FormatPortCommand(Addr("255.255.255.255"), 65535);
    EXPECT_EQ(longest, "PORT 255,255,255,255,255,255\r\n");
    EXPECT_EQ(longest.size(), 30u);
}

TEST(StorCommand, LowersOnlyTheThreeCharactersBehindTheFirstDot) {
    EXPECT_EQ(FormatStorCommand("LOGO.BMP"), "STOR  LOGO.bmp\r\n");
    EXPECT_EQ(FormatStorCommand("CAM.TAR.GZ"), "STOR  CAM.tar.GZ\r\n");
    EXPECT_EQ(FormatStorCommand("X.B"), "STOR  X.b\r\n"); // the line end stays as it is
    EXPECT_EQ(FormatStorCommand("X."), "STOR  X.\r\n");
    EXPECT_EQ(FormatStorCommand("Web.A_1"), "STOR  Web.a_1\r\n"); // only A-Z change
    EXPECT_EQ(FormatStorCommand("icon.bin"), "STOR  icon.bin\r\n");
    EXPECT_EQ(FormatStorCommand("\xC4X.\xC4QZ"), "STOR  \xC4X.\xC4qz\r\n"); // 8-bit bytes kept
}

TEST(StorCommand, NameWithoutDotOrOfAnyLengthIsSentWhole) {
    EXPECT_EQ(FormatStorCommand("README"), "STOR  README\r\n");
    const std::string longName = std::string(300, 'N') + ".DAT";
    EXPECT_EQ(FormatStorCommand(longName.c_str()), "STOR  " + std::string(300, 'N') + ".dat\r\n");
    EXPECT_EQ(FormatStorCommand(""), "STOR  \r\n");
}

TEST(ModelText, TakesFiveCharactersFromTheFirstModelName) {
    EXPECT_EQ(FindModelText("200 Model KQ-A2 ready\r\n"), "KQ-A2");
    EXPECT_EQ(FindModelText("200 KQ-B2XYZ KQ-A2\r\n"), "KQ-B2");
    EXPECT_EQ(FindModelText("200 KQ-A"), "KQ-A"); // the reply ends sooner
    EXPECT_EQ(FindModelText("200 kq-a2 no model\r\n"), "NODEV");
    EXPECT_EQ(FindModelText(""), "NODEV");
}

TEST(UnameReply, VersionTextStartsBehindCodeAndSeparator) {
    EXPECT_EQ(UnameVersionText("200 KQ-A2.01.02.45\r\n"), "KQ-A2.01.02.45\r\n");
    EXPECT_EQ(UnameVersionText("200 \r\n"), "\r\n");
    EXPECT_EQ(UnameVersionText("200 "), "");
    EXPECT_EQ(UnameVersionText("2\r\n"), "");
    EXPECT_EQ(UnameVersionText(""), "");
}

TEST(VersionText, DropsTheLineEndAndStaysSafeForShortTexts) {
    EXPECT_EQ(VersionTextWithoutLineEnd("1.2.3.45\r\n"), "1.2.3.45");
    EXPECT_EQ(VersionTextWithoutLineEnd("\r\n"), "");
    EXPECT_EQ(VersionTextWithoutLineEnd("x"), "");
    EXPECT_EQ(VersionTextWithoutLineEnd(""), "");
}

TEST(DeviceVersion, TwoDigitsBehindTheThirdToken) {
    EXPECT_EQ(ParseDeviceVersion("1.2.3.45\r\n"), 45);
    EXPECT_EQ(ParseDeviceVersion("KQ-A2.01.02.45\r\n"), 45);
    EXPECT_EQ(ParseDeviceVersion("1..2.3.07\r\n"), 7);   // a run of '.' is one separator
    EXPECT_EQ(ParseDeviceVersion("..1.2.3.99\r\n"), 99); // leading '.' are skipped
    EXPECT_EQ(ParseDeviceVersion("1.2.3.456\r\n"), 45);  // cut after two characters
    EXPECT_EQ(ParseDeviceVersion("1.2.3.00\r\n"), 0);
}

TEST(DeviceVersion, NoNumberWithoutTwoDigitsOrAFourthPart) {
    EXPECT_EQ(ParseDeviceVersion("1.2.3.4\r\n"), 0);   // the digit and the CR
    EXPECT_EQ(ParseDeviceVersion("1.2.3..07\r\n"), 0); // another '.' behind the third token
    EXPECT_EQ(ParseDeviceVersion("1.2.3.4"), 0);       // ends right behind one digit
    EXPECT_EQ(ParseDeviceVersion("1.2.3."), 0);
    EXPECT_EQ(ParseDeviceVersion("1.2.3\r\n"), 0); // fewer than three '.'
    EXPECT_EQ(ParseDeviceVersion("1.2\r\n"), 0);
    EXPECT_EQ(ParseDeviceVersion("...\r\n"), 0);
    EXPECT_EQ(ParseDeviceVersion(""), 0);
    EXPECT_EQ(ParseDeviceVersion("1.2.3.-5\r\n"), 0);
}

TEST(Failed500, FoundAnywhereButOnlyAsTheWholePhrase) {
    EXPECT_TRUE(ContainsFailed500("500 failed.\r\n"));
    EXPECT_TRUE(ContainsFailed500("421 busy; 500 failed.\r\n"));
    EXPECT_FALSE(ContainsFailed500("500 command failed.\r\n"));
    EXPECT_FALSE(ContainsFailed500("500 failed\r\n"));
    EXPECT_FALSE(ContainsFailed500(""));
}

} // namespace
