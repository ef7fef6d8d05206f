// The activity log as it lies on disk, and the box and entry of a failed file operation.

#include "app/updater_dlg.h"
#include "files/activity_log.h"
#include "platform/dialog.h"
#include "platform/file.h"
#include "platform/headless/desktop.h"
#include "tests/support/scoped_time_zone.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <regex>
#include <string>

namespace {

const std::string kStampPattern = R"(\d{4}/\d{2}/\d{2} \d{2}:\d{2}:\d{2})";

std::string StampOf(std::time_t t, bool local) {
    std::tm tm{};
    if (local)
        localtime_r(&t, &tm);
    else
        gmtime_r(&t, &tm);
    char text[32];
    std::strftime(text, sizeof text, "%Y/%m/%d %H:%M:%S", &tm);
    return text;
}

TEST(ActivityLog, EntriesAreAppendedWithStampCaptionTextAndCrLf) {
    TempFolder folder("log");
    WriteTextFile(kActivityLogName, "earlier entry\r\n");
    WriteLog("WinSock initialize", "");
    WriteLog("EXCM r_INF\r\n", "PC -> Device");
    const std::string log = ReadTextFile(kActivityLogName);
    // The earlier content stays; an empty caption gives two blanks; a text with its own CR LF
    // is followed by an empty line.
    const std::regex expected("earlier entry\r\n" + kStampPattern + "  WinSock initialize\r\n" +
                              kStampPattern + " PC -> Device EXCM r_INF\r\n\r\n");
    EXPECT_TRUE(std::regex_match(log, expected)) << log;
}

TEST(ActivityLog, TextWithLineFeedContinuesOnNextLineAndLengthIsIgnored) {
    TempFolder folder("log");
    const std::string text = "Error 0x00000002\nThe system cannot find the file specified.";
    WriteLog(text.c_str(), 3, "Error"); // shorter than the text
    WriteLog("short", 4000, "");        // far longer than the text
    const std::string log = ReadTextFile(kActivityLogName);
    const std::regex expected(kStampPattern + " Error " + text + "\r\n" + kStampPattern +
                              "  short\r\n");
    EXPECT_TRUE(std::regex_match(log, expected)) << log;
}

TEST(ActivityLog, StampIsTheLocalTimeNotUniversalTime) {
    TempFolder folder("log");
    // Nine hours east of UTC without summer time, so local and universal stamps always differ.
    ScopedTimeZone zone("JST-9");
    const std::time_t before = std::time(nullptr);
    WriteLog("tick", "");
    const std::time_t after = std::time(nullptr);
    const std::string stamp = ReadTextFile(kActivityLogName).substr(0, 19);
    EXPECT_GE(stamp, StampOf(before, true));
    EXPECT_LE(stamp, StampOf(after, true));
    EXPECT_NE(stamp.substr(11, 2), StampOf(before, false).substr(11, 2));
}

TEST(ActivityLog, FormatsAnEntryForAGivenStamp) {
    EXPECT_EQ(FormatLogEntry("2026/12/06 14:23:21", "", "WinSock initialize"),
              "2026/12/06 14:23:21  WinSock initialize\r\n");
    // No length limit: a long reply is kept whole.
    const std::string reply(70000, 'r');
    EXPECT_EQ(FormatLogEntry("2026/12/06 14:23:21", "PC <- Device", reply.c_str()).size(),
              19u + 1 + 12 + 1 + reply.size() + 2);
}

TEST(ActivityLog, UnwritableLogLosesEntriesSilently) {
    TempFolder folder("log");
    std::filesystem::create_directory(kActivityLogName);
    WriteLog("lost", "");
    EXPECT_TRUE(std::filesystem::is_directory(kActivityLogName));
    EXPECT_TRUE(std::filesystem::is_empty(kActivityLogName));
    // Once the obstacle is gone, entries are written again.
    std::filesystem::remove(kActivityLogName);
    WriteLog("kept", "");
    EXPECT_NE(ReadTextFile(kActivityLogName).find("  kept\r\n"), std::string::npos);
}

class ShowFileErrorTest : public ::testing::Test {
  protected:
    void SetUp() override { headless::Desktop::Instance().Reset(); }
    void TearDown() override { headless::Desktop::Instance().Reset(); }
};

TEST_F(ShowFileErrorTest, MissingFileShowsWarningBoxAndLogsTheSameText) {
    TempFolder folder("showerror");
    platform::ReadOnlyFile missing("missing.cpu");
    ASSERT_FALSE(missing.IsOpen());
    ASSERT_EQ(platform::LastFileError(), 2u);
    const std::string systemText = platform::SystemErrorText(2);
    ASSERT_FALSE(systemText.empty());
    CUpdaterDlg dialog;
    dialog.ShowFileError(platform::LastFileError());

    const std::string boxText = "Error 0x00000002\n" + systemText;
    const auto boxes = headless::Desktop::Instance().MessageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, boxText);
    EXPECT_EQ(boxes[0].caption, "KQVorlink");
    EXPECT_EQ(boxes[0].style, 0x30u);
    EXPECT_FALSE(boxes[0].owned);

    const std::string log = ReadTextFile(kActivityLogName);
    ASSERT_GT(log.size(), 20u);
    EXPECT_TRUE(std::regex_match(log.substr(0, 20), std::regex(kStampPattern + " "))) << log;
    // The platform's own CR LF and then the writer's: an empty line follows the entry.
    EXPECT_EQ(log.substr(20), "Error " + boxText + "\r\n");
}

TEST_F(ShowFileErrorTest, CodeWithoutPlatformTextStillExplainsItself) {
    TempFolder folder("showerror");
    const uint32_t code = 0x2000ABCD; // a customer code: no system text
    if (!platform::SystemErrorText(code).empty())
        GTEST_SKIP() << "the platform has a text for this code";
    CUpdaterDlg dialog;
    dialog.ShowFileError(code);
    const auto boxes = headless::Desktop::Instance().MessageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Error 0x2000abcd\nUnknown error.\r\n");
}

TEST(ErrorBoxText, LongSystemTextIsCutToTheBoxBuffer) {
    EXPECT_EQ(FormatErrorBoxText(5, "Access is denied.\r\n"),
              "Error 0x00000005\nAccess is denied.\r\n");
    const std::string longText(500, 'x');
    const std::string text = FormatErrorBoxText(0xFFFFFFFF, longText);
    EXPECT_EQ(text.size(), 199u);
    EXPECT_EQ(text, "Error 0xffffffff\n" + longText.substr(0, 199 - 17));
}

} // namespace
