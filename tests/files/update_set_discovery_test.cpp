// Update-set discovery in real folders: which files each component records, and which step labels
// the dialog hides, as the dialog shows them after it has opened.

#include "files/update_set_discovery.h"

#include "app/res/resource.h"
#include "app/updater_dlg.h"
#include "platform/headless/desktop.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace {

using Names = std::vector<std::string>;

const std::vector<int> kStepLabels = {IDC_STEP1, IDC_STEP2,  IDC_STEP3,  IDC_STEP4,
                                      IDC_STEP5, IDC_STEP6,  IDC_STEP7,  IDC_STEP8,
                                      IDC_STEP9, IDC_STEP10, IDC_STEP11, IDC_STEP12};

class DiscoveryTest : public ::testing::Test {
  protected:
    void SetUp() override {
        headless::Desktop::Instance().Reset();
        m_folder = std::make_unique<TempFolder>("discovery");
    }
    void TearDown() override {
        m_runner.reset();
        m_dialog.reset();
        m_folder.reset();
        headless::Desktop::Instance().Reset();
    }

    // A file with content (or empty), optionally with a last-write time in seconds since 1970.
    static void Put(const std::string& name, const std::string& content = "data",
                    std::optional<int64_t> seconds = std::nullopt) {
        WriteTextFile(name, content);
        if (seconds)
            SetLastWriteTime(name, *seconds);
    }

    // Opens the dialog, which runs discovery while it initialises.
    CUpdaterDlg& Open() {
        m_dialog = std::make_unique<CUpdaterDlg>();
        m_runner = std::make_unique<headless::DialogRunner>(*m_dialog);
        return *m_dialog;
    }

    bool Shown(int id) { return m_runner->View().Control(id).visible; }

    std::vector<int> HiddenStepLabels() {
        std::vector<int> hidden;
        for (const int id : kStepLabels) {
            if (!Shown(id))
                hidden.push_back(id);
        }
        return hidden;
    }

    std::unique_ptr<TempFolder> m_folder;
    std::unique_ptr<CUpdaterDlg> m_dialog;
    std::unique_ptr<headless::DialogRunner> m_runner;
};

TEST_F(DiscoveryTest, FolderWithoutComponentsHidesEveryStepAndData) {
    Put("readme.txt");
    Put("other.bmp");
    CUpdaterDlg& dialog = Open();
    EXPECT_EQ(HiddenStepLabels(), kStepLabels);
    EXPECT_FALSE(Shown(IDC_DATA));
    EXPECT_EQ(dialog.m_bDataFound, 0);
    EXPECT_TRUE(dialog.m_pszCpuFile.empty());
    EXPECT_TRUE(dialog.m_arrWeb1Files.empty());
    EXPECT_TRUE(dialog.m_pszLogoFile.empty());
}

TEST_F(DiscoveryTest, OnlyEmptyFilesCountAsAbsent) {
    for (const char* name : {"a.cpu", "f.bin", "Rf.bin", "Tf.bin", "oem.htm", "x.html", "CUR1.bmp",
                             "BUT1.bmp", "ICON1.bmp", "s.sdt", "g.tbl", "c.cst", "LOGO.bmp"})
        Put(name, "");
    CUpdaterDlg& dialog = Open();
    EXPECT_EQ(HiddenStepLabels(), kStepLabels);
    EXPECT_FALSE(Shown(IDC_DATA));
    EXPECT_EQ(dialog.m_bDataFound, 0);
}

TEST_F(DiscoveryTest, FullSetRecordsEveryComponentAndKeepsItsLabel) {
    for (const char* name : {"ab12.cpu", "f5m.bin", "Rsz.bin", "T2m.bin", "oemtop.htm", "index.htm",
                             "CUR1.bmp", "ICON1.bmp", "sh.sdt", "ga.tbl", "sc.cst", "LOGO.bmp"})
        Put(name);
    CUpdaterDlg& dialog = Open();
    EXPECT_EQ(dialog.m_pszCpuFile, "ab12.cpu");
    EXPECT_EQ(dialog.m_nCpuFileVersion, 12);
    EXPECT_EQ(dialog.m_pszFpga5mFile, "f5m.bin");
    EXPECT_EQ(dialog.m_pszResizeFpgaFile, "Rsz.bin");
    EXPECT_EQ(dialog.m_pszFpga2mFile, "T2m.bin");
    EXPECT_EQ(dialog.m_arrWeb0Files, Names{"oemtop.htm"});
    EXPECT_EQ(dialog.m_arrWeb1Files, Names{"index.htm"});
    EXPECT_EQ(dialog.m_arrCursorFiles, Names{"CUR1.bmp"});
    EXPECT_EQ(dialog.m_arrIconFiles, Names{"ICON1.bmp"});
    EXPECT_EQ(dialog.m_arrShadingFiles, Names{"sh.sdt"});
    EXPECT_EQ(dialog.m_arrGammaFiles, Names{"ga.tbl"});
    EXPECT_EQ(dialog.m_arrSceneFiles, Names{"sc.cst"});
    EXPECT_EQ(dialog.m_pszLogoFile, "LOGO.bmp");
    EXPECT_EQ(HiddenStepLabels(), std::vector<int>{});
    EXPECT_TRUE(Shown(IDC_DATA));
    EXPECT_EQ(dialog.m_bDataFound, 1);
    // Discovery leaves the default-setting label to the parameter file.
    EXPECT_FALSE(Shown(IDC_DEFAULT_SETTING));
}

TEST_F(DiscoveryTest, WebFilesByPatternOrderThenNameWithOemPrefixForWeb0) {
    for (const char* name : {"oem.htm", "OEM.htm", "a.htm", "a.html", "b.jpg", "c.gif",
                             "oemlogo.gif", "d.HTM", "e.htmx", "f.jpeg"})
        Put(name);
    CUpdaterDlg& dialog = Open();
    EXPECT_EQ(dialog.m_arrWeb0Files, (Names{"oem.htm", "oemlogo.gif"}));
    // a.htm once by "*.htm", a.html once by "*.html"; never twice.
    EXPECT_EQ(dialog.m_arrWeb1Files,
              (Names{"a.htm", "d.HTM", "OEM.htm", "a.html", "b.jpg", "c.gif"}));
    EXPECT_EQ(HiddenStepLabels(),
              (std::vector<int>{IDC_STEP1, IDC_STEP2, IDC_STEP3, IDC_STEP6, IDC_STEP7, IDC_STEP8,
                                IDC_STEP9, IDC_STEP10, IDC_STEP11, IDC_STEP12}));
    EXPECT_TRUE(Shown(IDC_DATA));
}

TEST_F(DiscoveryTest, BitmapsGoToCursorIconOrLogoByTheirPrefix) {
    for (const char* name : {"CURSOR1.bmp", "BUTTON1.bmp", "CUR2.bmp", "ICON1.bmp", "Icon2.bmp",
                             "cursor3.bmp", "logo.bmp", "other.bmp", "CUR3.bmpx"})
        Put(name);
    CUpdaterDlg& dialog = Open();
    // All "CUR" files first, then the "BUT" files, each group in name order.
    EXPECT_EQ(dialog.m_arrCursorFiles, (Names{"CUR2.bmp", "CURSOR1.bmp", "BUTTON1.bmp"}));
    EXPECT_EQ(dialog.m_arrIconFiles, Names{"ICON1.bmp"});
    EXPECT_EQ(dialog.m_pszLogoFile, "logo.bmp");
    EXPECT_TRUE(Shown(IDC_STEP6));
    EXPECT_TRUE(Shown(IDC_STEP7));
    EXPECT_TRUE(Shown(IDC_STEP11));
}

TEST_F(DiscoveryTest, FpgaProgramsByTheirFirstCharacterAndNewest) {
    Put("r_fpga.bin", "x", 1000); // lower case r: a 5M candidate
    Put("t_late.bin", "x", 2000); // lower case t: a 5M candidate too, and newer
    Put("Rfpga.bin", "x", 1500);
    Put("Rnewer.bin", "", 9000); // empty: never chosen, however new
    Put("Tfpga.bin", "x", 1200);
    CUpdaterDlg& dialog = Open();
    EXPECT_EQ(dialog.m_pszFpga5mFile, "t_late.bin");
    EXPECT_EQ(dialog.m_pszResizeFpgaFile, "Rfpga.bin");
    EXPECT_EQ(dialog.m_pszFpga2mFile, "Tfpga.bin");
}

TEST_F(DiscoveryTest, NewestCpuFileWinsAndATieKeepsTheFirstInNameOrder) {
    Put("x.cpu", "x", 1000);
    Put("AB12.cpu", "x", 5000);
    Put("ab07.cpu", "x", 5000); // same time, sorts before AB12.cpu without regard to case
    Put("z.cpu", "x", 2000);
    Put("w.cpu", "", 9000);
    CUpdaterDlg& dialog = Open();
    EXPECT_EQ(dialog.m_pszCpuFile, "ab07.cpu");
    EXPECT_EQ(dialog.m_nCpuFileVersion, 7);
}

TEST_F(DiscoveryTest, ReadOnlyFilesCountByTheirSizeAndEmptyOnesAreSkipped) {
    Put("s1.sdt", "");
    Put("s2.sdt");
    Put("g.tbl");
    Put("h.cst", "");
    ASSERT_EQ(chmod("g.tbl", 0444), 0);
    ASSERT_EQ(chmod("h.cst", 0444), 0);
    CUpdaterDlg& dialog = Open();
    EXPECT_EQ(dialog.m_arrShadingFiles, Names{"s2.sdt"});
    EXPECT_EQ(dialog.m_arrGammaFiles, Names{"g.tbl"});
    EXPECT_TRUE(dialog.m_arrSceneFiles.empty());
    EXPECT_TRUE(Shown(IDC_STEP9));
    EXPECT_FALSE(Shown(IDC_STEP10));
}

TEST(ChooseNewest, StrictlyLaterWinsTiesKeepTheHeadAndTimeZeroStillCounts) {
    using platform::FindEntry;
    const auto all = [](const std::string&) { return true; };
    const std::vector<FindEntry> tied = {{"a.cpu", 7}, {"b.cpu", 7}, {"c.cpu", 3}};
    EXPECT_EQ(ChooseNewest(tied, all)->name, "a.cpu");
    const std::vector<FindEntry> rising = {{"a.cpu", 1}, {"b.cpu", 9}, {"c.cpu", 9}};
    EXPECT_EQ(ChooseNewest(rising, all)->name, "b.cpu");
    // A file whose time reads as zero is still a file: it is chosen when it is the only one.
    const std::vector<FindEntry> zero = {{"old.cpu", 0}};
    ASSERT_NE(ChooseNewest(zero, all), nullptr);
    EXPECT_EQ(ChooseNewest(zero, all)->name, "old.cpu");
    // Entries that fail the test are never chosen, however new.
    const auto notB = [](const std::string& name) { return name[0] != 'b'; };
    EXPECT_EQ(ChooseNewest(rising, notB)->name, "c.cpu");
    EXPECT_EQ(ChooseNewest(rising, [](const std::string&) { return false; }), nullptr);
    EXPECT_EQ(ChooseNewest({}, all), nullptr);
}

TEST(CpuFileVersion, ThirdAndFourthCharactersAsTwoDigitsOtherwiseFive) {
    EXPECT_EQ(CpuFileVersion("ab12.cpu"), 12);
    EXPECT_EQ(CpuFileVersion("ab07.cpu"), 7);
    EXPECT_EQ(CpuFileVersion("xx00.cpu"), 0);
    EXPECT_EQ(CpuFileVersion("KQ99final.cpu"), 99);
    EXPECT_EQ(CpuFileVersion("ab7x.cpu"), 5);
    EXPECT_EQ(CpuFileVersion("abx7.cpu"), 5);
    EXPECT_EQ(CpuFileVersion("a1.cpu"), 5);         // '.' and 'c'
    EXPECT_EQ(CpuFileVersion("ab\xB2\xB3.cpu"), 5); // superscript digits are no decimal digits
    EXPECT_EQ(CpuFileVersion("ab1"), 5);
}

} // namespace
