// Finding component files: the extension-length filter, the order of the result, and which files
// count as having content.

#include "files/file_search.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

namespace {

using Names = std::vector<std::string>;

Names Find(const char* pattern, int extLength) {
    std::vector<platform::FindEntry> list;
    const bool found = FindFiles(&list, pattern, extLength);
    Names names;
    for (const platform::FindEntry& entry : list)
        names.push_back(entry.name);
    EXPECT_EQ(found, !names.empty()) << pattern;
    return names;
}

TEST(FindFiles, KeepsOnlyNamesWithTheExactExtensionLength) {
    TempFolder folder("find");
    for (const char* name : {"a.htm", "a.html", "B.HTM", "c.htmx", "d.htm.bak", "htm", "e.HtMl"})
        WriteTextFile(name, "x");
    EXPECT_EQ(Find("*.htm", 3), (Names{"a.htm", "B.HTM"}));
    EXPECT_EQ(Find("*.html", 4), (Names{"a.html", "e.HtMl"}));

    WriteTextFile("A.CPU", "x");
    WriteTextFile("a.cpux", "x");
    EXPECT_EQ(Find("*.cpu", 3), (Names{"A.CPU"}));
}

TEST(FindFiles, NothingMatchingGivesAnEmptyListAndFalse) {
    TempFolder folder("find");
    WriteTextFile("only.html", "x");
    std::vector<platform::FindEntry> list;
    EXPECT_FALSE(FindFiles(&list, "*.cpu", 3));
    EXPECT_FALSE(FindFiles(&list, "*.htm", 3)); // found by the search, dropped by the filter
    EXPECT_TRUE(list.empty());
}

TEST(FindFiles, WithoutAListOnlyTellsWhetherAKeptNameExists) {
    TempFolder folder("find");
    WriteTextFile("LOGO.bmpx", "x");
    EXPECT_FALSE(FindFiles(nullptr, "LOGO.bmp", 3));
    WriteTextFile("logo.BMP", "x");
    EXPECT_TRUE(FindFiles(nullptr, "LOGO.bmp", 3));
    EXPECT_TRUE(FindFiles(nullptr, "*.bmp", 3));
    EXPECT_FALSE(FindFiles(nullptr, "*.cst", 3));
}

TEST(FindFiles, SortsByNameIgnoringCaseWithUnderscoreFirstAndHighBytesLast) {
    TempFolder folder("find");
    const Names created = {"b.cpu",        "Z.cpu", "_a.cpu", "A2.cpu", "a1.cpu",
                           "\xC3\xA9.cpu", "a.cpu", "~.cpu",  "a10.cpu"};
    for (const std::string& name : created)
        WriteTextFile(name, "x");
    EXPECT_EQ(Find("*.cpu", 3), (Names{"_a.cpu", "a.cpu", "a1.cpu", "a10.cpu", "A2.cpu", "b.cpu",
                                       "Z.cpu", "~.cpu", "\xC3\xA9.cpu"}));
}

TEST(FindFiles, FindsReadOnlyFilesButNoDirectories) {
    TempFolder folder("find");
    WriteTextFile("locked.sdt", "x");
    ASSERT_EQ(chmod("locked.sdt", 0444), 0);
    std::filesystem::create_directory("folder.sdt");
    EXPECT_EQ(Find("*.sdt", 3), (Names{"locked.sdt"}));
}

TEST(FileNameOrder, ComparesAsciiLettersWithoutCaseAndShorterPrefixFirst) {
    EXPECT_TRUE(FileNameLess("ab", "ABC"));
    EXPECT_FALSE(FileNameLess("ABC", "ab"));
    EXPECT_FALSE(FileNameLess("Ab.cpu", "aB.CPU"));
    EXPECT_FALSE(FileNameLess("aB.CPU", "Ab.cpu"));
    EXPECT_TRUE(FileNameLess("a_b", "aab")); // '_' (95) before 'a' (97)
    EXPECT_TRUE(FileNameLess("A[", "a_"));   // '[' (91) before '_' (95); 'A' is 'a'
    EXPECT_TRUE(FileNameLess("z", "\x80"));  // unsigned: above 127 after ASCII
    // Only A-Z are folded: the Latin-1 capital and small A-grave stay different.
    EXPECT_TRUE(FileNameLess("\xC0", "\xE0"));
    EXPECT_FALSE(FileNameLess("\xE0", "\xC0"));
}

TEST(IsNonEmptyFile, JudgesByTheSizeOfARegularFile) {
    TempFolder folder("size");
    WriteTextFile("full.tbl", "gamma");
    WriteTextFile("empty.tbl", "");
    WriteTextFile("locked.tbl", "gamma");
    WriteTextFile("locked-empty.tbl", "");
    ASSERT_EQ(chmod("locked.tbl", 0444), 0);
    ASSERT_EQ(chmod("locked-empty.tbl", 0444), 0);
    std::filesystem::create_directory("dir.tbl");

    EXPECT_TRUE(IsNonEmptyFile("full.tbl"));
    EXPECT_TRUE(IsNonEmptyFile("locked.tbl"));
    EXPECT_FALSE(IsNonEmptyFile("empty.tbl"));
    EXPECT_FALSE(IsNonEmptyFile("locked-empty.tbl"));
    EXPECT_FALSE(IsNonEmptyFile("dir.tbl"));
    EXPECT_FALSE(IsNonEmptyFile("missing.tbl"));
    // Asking does not create or change anything.
    EXPECT_FALSE(std::filesystem::exists("missing.tbl"));
    EXPECT_EQ(std::filesystem::file_size("empty.tbl"), 0u);
}

} // namespace
