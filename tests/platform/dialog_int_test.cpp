// The classic unsigned read of a control's text, directly and through a dialog's edit field.

#include "app/res/resource.h"
#include "platform/dialog.h"
#include "platform/headless/desktop.h"

#include <gtest/gtest.h>

#include <thread>

using platform::ParseDialogUnsigned;

namespace {

TEST(DialogInt, DecimalDigitsAfterBlanks) {
    EXPECT_EQ(ParseDialogUnsigned("010"), 10u);
    EXPECT_EQ(ParseDialogUnsigned(" 7"), 7u);
    EXPECT_EQ(ParseDialogUnsigned("   192"), 192u);
    EXPECT_EQ(ParseDialogUnsigned("0"), 0u);
    EXPECT_EQ(ParseDialogUnsigned("4294967295"), 4294967295u);
}

// Above the unsigned range the read fails rather than wrap into a small, valid-looking number.
TEST(DialogInt, ValueAboveTheUnsignedRangeDoesNotTranslate) {
    EXPECT_FALSE(ParseDialogUnsigned("4294967296").has_value());
    EXPECT_FALSE(ParseDialogUnsigned("4294967298").has_value());
    EXPECT_FALSE(ParseDialogUnsigned("99999999999999999999").has_value());
    EXPECT_EQ(ParseDialogUnsigned("0004294967295"), 4294967295u); // leading zeros do not count
}

TEST(DialogInt, AnythingElseDoesNotTranslate) {
    for (const char* text : {"", "   ", "12a", "-1", "+1", "1 ", "1.5", "0x10", "\t7", "1\n"})
        EXPECT_FALSE(ParseDialogUnsigned(text).has_value()) << '"' << text << '"';
}

TEST(DialogInt, ReadsTheFieldOnAnyThread) {
    headless::Desktop::Instance().Reset();
    platform::CDialog dialog(IDD_UPDATER_DIALOG);
    headless::DialogRunner runner(dialog);
    runner.View().Type(IDC_IP1, "010");
    runner.View().Type(IDC_IP2, "12a");

    bool translated1 = false, translated2 = true;
    unsigned v1 = 99, v2 = 99;
    std::thread([&] {
        v1 = dialog.GetDlgItemInt(IDC_IP1, &translated1);
        v2 = dialog.GetDlgItemInt(IDC_IP2, &translated2);
    }).join();
    EXPECT_TRUE(translated1);
    EXPECT_EQ(v1, 10u);
    EXPECT_FALSE(translated2);
    EXPECT_EQ(v2, 0u);
    EXPECT_EQ(dialog.GetDlgItemInt(IDC_IP1, nullptr), 10u);
}

} // namespace
