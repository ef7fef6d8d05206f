// The POSIX file layer with the Windows rules: which names a directory search returns (case, the
// short-name extension rule, no directories), the write times it reports, and the Windows error
// codes and texts of failed file operations. Each test works in a folder of its own.

#include "platform/file.h"
#include "platform/posix/name_match.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>

using namespace platform;

namespace {

std::set<std::string> Found(const char* pattern) {
    std::set<std::string> names;
    for (const FindEntry& e : FindInCurrentDirectory(pattern))
        names.insert(e.name);
    return names;
}

TEST(WindowsNameMatch, WildcardsIgnoreCase) {
    EXPECT_TRUE(WindowsNameMatches("*.cpu", "AB07.CPU"));
    EXPECT_TRUE(WindowsNameMatches("LOGO.bmp", "logo.BMP"));
    EXPECT_TRUE(WindowsNameMatches("a?c.txt", "ABC.txt"));
    EXPECT_FALSE(WindowsNameMatches("a?c.txt", "ac.txt"));
    EXPECT_TRUE(WindowsNameMatches("*.cpu", "v1.2.cpu"));
    EXPECT_FALSE(WindowsNameMatches("*.cpu", "cpu"));
    EXPECT_FALSE(WindowsNameMatches("LOGO.bmp", "xLOGO.bmp"));
    // "*.*" also finds names without a dot.
    EXPECT_TRUE(WindowsNameMatches("*.*", "README"));
    EXPECT_TRUE(WindowsNameMatches("*", "a.b"));
    // A name may hold '*' on POSIX: the pattern's '*' stays a wildcard there too.
    EXPECT_TRUE(WindowsNameMatches("*.html", "*L.html"));
}

TEST(WindowsNameMatch, ThreeLetterExtensionsReachLongerOnesThroughShortNames) {
    EXPECT_EQ(ShortNameFor("a.html"), "A~1.HTM");
    EXPECT_EQ(ShortNameFor("my file.jpeg"), "MYFILE~1.JPE");
    EXPECT_EQ(ShortNameFor("abc.cpu"), ""); // already a short name
    EXPECT_EQ(ShortNameFor("Shading_table.sdt"), "SHADIN~1.SDT");

    EXPECT_TRUE(WindowsNameMatches("*.htm", "index.html"));
    EXPECT_TRUE(WindowsNameMatches("*.cpu", "a.CPUX"));
    EXPECT_FALSE(WindowsNameMatches("*.html", "a.htm"));
    EXPECT_FALSE(WindowsNameMatches("*.htm", "a.hta"));
    // A plain name does not match another name's short form.
    EXPECT_FALSE(WindowsNameMatches("LOGO.bmp", "LOGO.bmpx"));
    EXPECT_FALSE(WindowsNameMatches("a.htm", "a.html"));
}

TEST(FileSearch, FindsMatchingFilesButNoDirectories) {
    TempFolder folder("platform");
    for (const char* name :
         {"A.CPU", "b.cpu", "c.cpux", "d.cp", "e.cpu.bak", ".hidden.cpu", "oem.htm", "page.html",
          "Rfpga.bin", "r_fpga.BIN", "logo.bmp", "LOGO.bmpx"})
        WriteTextFile(name, "x");
    std::filesystem::create_directory("dir.cpu");
    std::filesystem::create_directory("sub.htm");

    EXPECT_EQ(Found("*.cpu"), (std::set<std::string>{"A.CPU", "b.cpu", "c.cpux", ".hidden.cpu"}));
    EXPECT_EQ(Found("*.htm"), (std::set<std::string>{"oem.htm", "page.html"}));
    EXPECT_EQ(Found("*.html"), (std::set<std::string>{"page.html"}));
    EXPECT_EQ(Found("*.bin"), (std::set<std::string>{"Rfpga.bin", "r_fpga.BIN"}));
    EXPECT_EQ(Found("LOGO.bmp"), (std::set<std::string>{"logo.bmp"}));
    EXPECT_TRUE(Found("*.sdt").empty());
    EXPECT_EQ(LastFileError(), 2u);
}

TEST(FileSearch, ReportsLastWriteTimesIn100NanosecondUnitsSince1601) {
    TempFolder folder("platform");
    WriteTextFile("old.tbl", "1");
    WriteTextFile("new.tbl", "2");
    // 2026-01-01 00:00:00 UTC, plus 1.5 microseconds for the newer one.
    const struct timespec oldTimes[2] = {{1767225600, 0}, {1767225600, 0}};
    const struct timespec newTimes[2] = {{1767225600, 1500}, {1767225600, 1500}};
    ASSERT_EQ(utimensat(AT_FDCWD, "old.tbl", oldTimes, 0), 0);
    ASSERT_EQ(utimensat(AT_FDCWD, "new.tbl", newTimes, 0), 0);

    const std::vector<FindEntry> entries = FindInCurrentDirectory("*.tbl");
    ASSERT_EQ(entries.size(), 2u);
    const auto timeOf = [&](const std::string& name) {
        return std::find_if(entries.begin(), entries.end(),
                            [&](const FindEntry& e) { return e.name == name; })
            ->lastWriteTime;
    };
    EXPECT_EQ(timeOf("old.tbl"), 116444736000000000ULL + 17672256000000000ULL);
    EXPECT_EQ(timeOf("new.tbl") - timeOf("old.tbl"), 15u);
}

TEST(FileErrors, FailuresCarryWindowsCodesAndTexts) {
    TempFolder folder("platform");
    SetLastFileError(0);
    EXPECT_FALSE(ReadWholeFile("missing.bin").has_value());
    EXPECT_EQ(LastFileError(), 2u);
    EXPECT_FALSE(ReadWholeFile("nofolder/missing.bin").has_value());
    EXPECT_EQ(LastFileError(), 3u);
    std::filesystem::create_directory("folder.bin");
    EXPECT_FALSE(ReadOnlyFile("folder.bin").IsOpen());
    EXPECT_EQ(LastFileError(), 5u);
    EXPECT_FALSE(RegularFileSize("folder.bin").has_value());
    EXPECT_FALSE(DeleteFileNamed("missing.bin"));
    EXPECT_EQ(LastFileError(), 2u);

    EXPECT_EQ(SystemErrorText(2), "The system cannot find the file specified.\r\n");
    EXPECT_EQ(SystemErrorText(3), "The system cannot find the path specified.\r\n");
    EXPECT_EQ(SystemErrorText(5), "Access is denied.\r\n");
    EXPECT_EQ(SystemErrorText(32),
              "The process cannot access the file because it is being used by another "
              "process.\r\n");
    EXPECT_EQ(SystemErrorText(0xDEAD), "");
}

TEST(FileErrors, LastErrorBelongsToTheCallingThread) {
    SetLastFileError(5);
    uint32_t seenByOther = 99;
    std::thread([&] { seenByOther = LastFileError(); }).join();
    EXPECT_EQ(seenByOther, 0u);
    EXPECT_EQ(LastFileError(), 5u);
}

TEST(FileIo, AppendReadAndDelete) {
    TempFolder folder("platform");
    ASSERT_TRUE(AppendToFile("KQVorlink.log", "first\r\n", 7));
    ASSERT_TRUE(AppendToFile("KQVorlink.log", "", 0));
    ASSERT_TRUE(AppendToFile("KQVorlink.log", "second\r\n", 8));
    const auto bytes = ReadWholeFile("KQVorlink.log");
    ASSERT_TRUE(bytes.has_value());
    EXPECT_EQ(std::string(bytes->begin(), bytes->end()), "first\r\nsecond\r\n");
    EXPECT_EQ(RegularFileSize("KQVorlink.log"), 15u);

    ReadOnlyFile file("KQVorlink.log");
    ASSERT_TRUE(file.IsOpen());
    EXPECT_EQ(file.Size(), 15u);
    char part[10] = {};
    EXPECT_EQ(file.Read(part, 5), 5u);
    EXPECT_EQ(std::string(part, 5), "first");
    EXPECT_EQ(file.Read(part, sizeof part), 10u);
    EXPECT_EQ(file.Read(part, sizeof part), 0u); // at the end

    EXPECT_TRUE(DeleteFileNamed("KQVorlink.log"));
    EXPECT_FALSE(RegularFileSize("KQVorlink.log").has_value());
    EXPECT_FALSE(AppendToFile("nofolder/x.log", "x", 1));
    EXPECT_EQ(LastFileError(), 3u);
}

} // namespace
