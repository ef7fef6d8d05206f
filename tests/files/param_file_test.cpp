// The parameter file: reading it into its 100-byte buffer, splitting it into lines, and what the
// main dialog shows and keeps once it has applied it.

#include "files/param_file.h"

#include "app/res/resource.h"
#include "app/updater_dlg.h"
#include "platform/headless/desktop.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

namespace {

using Lines = std::vector<std::string>;

TEST(ReadParamFile, AbsentFileLeavesTheBufferUntouched) {
    TempFolder folder("prm");
    auto buffer = std::make_unique<char[]>(kParamFileCapacity);
    std::fill_n(buffer.get(), kParamFileCapacity, 'x');
    EXPECT_EQ(ReadParamFile(buffer.get()), 0);
    EXPECT_EQ(std::string(buffer.get(), kParamFileCapacity), std::string(100, 'x'));
}

TEST(ReadParamFile, ReadsTheWholeFileIntoAClearedBuffer) {
    TempFolder folder("prm");
    WriteTextFile(kParamFileName, "Camera\nU\nD\n");
    auto buffer = std::make_unique<char[]>(kParamFileCapacity);
    std::fill_n(buffer.get(), kParamFileCapacity, 'x');
    EXPECT_EQ(ReadParamFile(buffer.get()), 11);
    EXPECT_EQ(std::string(buffer.get(), kParamFileCapacity),
              "Camera\nU\nD\n" + std::string(89, '\0'));
}

TEST(ReadParamFile, EmptyFileCountsAsNone) {
    TempFolder folder("prm");
    WriteTextFile(kParamFileName, "");
    auto buffer = std::make_unique<char[]>(kParamFileCapacity);
    EXPECT_EQ(ReadParamFile(buffer.get()), 0);
}

TEST(ReadParamFile, FileOfHundredBytesOrMoreYieldsItsFirst99AndKeepsTheZero) {
    for (const size_t size : {99u, 100u, 101u, 4096u}) {
        TempFolder folder("prm");
        std::string content;
        for (size_t i = 0; i < size; ++i)
            content += static_cast<char>('a' + i % 26);
        WriteTextFile(kParamFileName, content);
        // Exactly 100 bytes on the heap, so a read past the end is caught by the sanitizer too.
        auto buffer = std::make_unique<char[]>(kParamFileCapacity);
        std::fill_n(buffer.get(), kParamFileCapacity, 'x');
        EXPECT_EQ(ReadParamFile(buffer.get()), 99) << size;
        EXPECT_EQ(std::string(buffer.get()), content.substr(0, 99)) << size;
        EXPECT_EQ(buffer[99], '\0') << size;
    }
}

TEST(ParamFileLines, SplitAtLineFeedsOnlySkippingEmptyLines) {
    EXPECT_EQ(ParamFileLines("Camera\nU\nD\n"), (Lines{"Camera", "U", "D"}));
    EXPECT_EQ(ParamFileLines("Camera\r\nU\r\nD\r\n"), (Lines{"Camera\r", "U\r", "D\r"}));
    EXPECT_EQ(ParamFileLines("\n\nCamera\n\n\nU\nD"), (Lines{"Camera", "U", "D"}));
    EXPECT_EQ(ParamFileLines("\n\n\n"), Lines{});
    EXPECT_EQ(ParamFileLines(""), Lines{});
    EXPECT_EQ(ParamFileHeading("\n\nCamera\r\nU"), "Camera\r");
    EXPECT_EQ(ParamFileHeading("\n\n"), "");
}

TEST(ParamFileLines, LookNoFurtherThanTheBuffersText) {
    // A text that fills more than the buffer is taken as the buffer would hold it: 99 bytes.
    const std::string longText = std::string(98, 'h') + "\nU\nD\n";
    EXPECT_EQ(ParamFileLines(longText.c_str()), (Lines{std::string(98, 'h')}));
}

// The dialog opened in a folder that holds the given parameter file (or none).
class ParamFileDialogTest : public ::testing::Test {
  protected:
    void SetUp() override { headless::Desktop::Instance().Reset(); }
    void TearDown() override {
        m_runner.reset();
        m_dialog.reset();
        m_folder.reset();
        headless::Desktop::Instance().Reset();
    }

    headless::DialogView& Open(const std::string* content) {
        m_folder = std::make_unique<TempFolder>("prm-dlg");
        if (content)
            WriteTextFile(kParamFileName, *content);
        m_dialog = std::make_unique<CUpdaterDlg>();
        m_runner = std::make_unique<headless::DialogRunner>(*m_dialog);
        return m_runner->View();
    }

    struct Seen {
        std::string heading;
        std::string modelLabel;
        std::string model;
        bool defaultLabelShown;
        int defaultSetting;
    };

    Seen Look() {
        headless::DialogView& view = m_runner->View();
        return {view.Control(IDC_TITLE).text, view.Control(IDC_MODEL).text, m_dialog->m_szModel,
                view.Control(IDC_DEFAULT_SETTING).visible, m_dialog->m_bDefaultSetting};
    }

    std::unique_ptr<TempFolder> m_folder;
    std::unique_ptr<CUpdaterDlg> m_dialog;
    std::unique_ptr<headless::DialogRunner> m_runner;
};

TEST_F(ParamFileDialogTest, HeadingModelAndDefaultSettingFromTheFile) {
    struct Case {
        std::string content;
        std::string heading;
        std::string model;
        bool defaultSetting;
    };
    const Case cases[] = {
        {"Plant 7 Update\nU\nD\n", "Plant 7 Update", "KQ-B2", true},
        {"Plant 7 Update\r\nU\r\nD\r\n", "Plant 7 Update\r", "KQ-B2", true},
        {"Plant 7 Update\n\n\nU\n\nD", "Plant 7 Update", "KQ-B2", true},
        // "D" as the second non-empty line is the model line.
        {"Plant 7 Update\n\nD\n", "Plant 7 Update", "KQ-A2", false},
        {"Only a heading", "Only a heading", "KQ-A2", false},
        {"\n\n\n", "", "KQ-A2", false},
        {"Lower case\nu\nd\n", "Lower case", "KQ-A2", false},
        {"Spelled out\nKQ-B2\nDefault\n", "Spelled out", "KQ-A2", true},
        {"Extra lines\nUse B2\nDo it\nmore\nand more\n", "Extra lines", "KQ-B2", true},
        // Only the first 99 bytes count: lines behind them are not seen.
        {std::string(98, 'h') + "\nU\nD\n", std::string(98, 'h'), "KQ-A2", false},
        {std::string(150, 'h'), std::string(99, 'h'), "KQ-A2", false},
    };
    for (const Case& c : cases) {
        Open(&c.content);
        const Seen seen = Look();
        const std::string context = "content: " + c.content;
        EXPECT_EQ(seen.heading, c.heading) << context;
        EXPECT_EQ(seen.modelLabel, c.model) << context;
        EXPECT_EQ(seen.model, c.model) << context;
        EXPECT_EQ(seen.defaultLabelShown, c.defaultSetting) << context;
        EXPECT_EQ(seen.defaultSetting, c.defaultSetting ? 1 : 0) << context;
        TearDown();
    }
}

TEST_F(ParamFileDialogTest, NoFileOrAnEmptyOneGivesTheDefaults) {
    const std::string empty;
    for (const std::string* content : {static_cast<const std::string*>(nullptr), &empty}) {
        Open(content);
        const Seen seen = Look();
        EXPECT_EQ(seen.heading, "KQ-A2  Update");
        EXPECT_EQ(seen.modelLabel, "KQ-A2");
        EXPECT_EQ(seen.model, "KQ-A2");
        EXPECT_FALSE(seen.defaultLabelShown);
        EXPECT_EQ(seen.defaultSetting, 0);
        TearDown();
    }
}

TEST_F(ParamFileDialogTest, ApplyWorksOnACopyAndLeavesTheHeadingToItsCaller) {
    Open(nullptr);
    char text[kParamFileCapacity] = "New heading\nU\nD\n";
    const std::string before(text, sizeof text);
    m_dialog->RunOnDialogThread([&] { m_dialog->ApplyParamFile(text); });
    EXPECT_EQ(std::string(text, sizeof text), before);
    const Seen seen = Look();
    EXPECT_EQ(seen.heading, "KQ-A2  Update");
    EXPECT_EQ(seen.modelLabel, "KQ-B2");
    EXPECT_STREQ(m_dialog->m_szModel, "KQ-B2");
    EXPECT_TRUE(seen.defaultLabelShown);
    EXPECT_EQ(seen.defaultSetting, 1);
}

} // namespace
