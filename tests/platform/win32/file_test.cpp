// The Windows file backend: appending as the activity log does (with a viewer holding the file
// open, and lost without harm when the file is locked), reading, the error codes and texts of a
// missing file, and the directory search.

#include "platform/file.h"

#include "tests/platform/win32/win_test_support.h"

#include <algorithm>
#include <string>
#include <thread>

namespace {

using namespace platform;

std::string Read(const char* name) {
    const auto bytes = ReadWholeFile(name);
    return bytes ? std::string(bytes->begin(), bytes->end()) : std::string("<unreadable>");
}

TEST(Win32File, AppendsAtTheEndAlsoWhileAViewerHoldsTheFile) {
    WinTempFolder folder;
    ASSERT_TRUE(AppendToFile("a.log", "one\r\n", 5));
    // A viewer that shares reading and writing, as the log allows.
    const HANDLE viewer = ::CreateFileA("a.log", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(viewer, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(AppendToFile("a.log", "two\r\n", 5));
    ::CloseHandle(viewer);
    EXPECT_EQ(Read("a.log"), "one\r\ntwo\r\n");
}

TEST(Win32File, AFileLockedWithoutWriteSharingRefusesTheEntry) {
    WinTempFolder folder;
    ASSERT_TRUE(AppendToFile("b.log", "kept\r\n", 6));
    const HANDLE locker = ::CreateFileA("b.log", GENERIC_READ, FILE_SHARE_READ, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(locker, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(AppendToFile("b.log", "lost\r\n", 6));
    EXPECT_EQ(LastFileError(), uint32_t(ERROR_SHARING_VIOLATION));
    ::CloseHandle(locker);
    EXPECT_EQ(Read("b.log"), "kept\r\n");
}

// A reader that holds the report without delete sharing (an editor, a virus scanner) keeps it
// from being replaced: the new report waits up to 2 s for it, then the refusal stands.
TEST(Win32File, AReportHeldByAReaderIsReplacedOnceItLetsGoWithinTwoSeconds) {
    WinTempFolder folder;
    ASSERT_TRUE(ReplaceFileWhole("r.json", "old", 3));
    const auto hold = [] {
        return ::CreateFileA("r.json", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    };
    HANDLE reader = hold();
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    const ULONGLONG began = ::GetTickCount64();
    EXPECT_FALSE(ReplaceFileWhole("r.json", "new", 3));
    EXPECT_GE(::GetTickCount64() - began, 1900u);
    std::thread letGo([&] {
        ::Sleep(500);
        ::CloseHandle(reader);
    });
    EXPECT_TRUE(ReplaceFileWhole("r.json", "new", 3));
    letGo.join();
    EXPECT_EQ(Read("r.json"), "new");
}

TEST(Win32File, MissingFileReportsCodeTwoWithTheSystemText) {
    WinTempFolder folder;
    ReadOnlyFile file("absent.bin");
    EXPECT_FALSE(file.IsOpen());
    EXPECT_EQ(LastFileError(), 2u);
    EXPECT_EQ(file.Size(), 0u);
    const std::string text = SystemErrorText(2);
    ASSERT_GE(text.size(), 3u);
    EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
    EXPECT_FALSE(ReadWholeFile("absent.bin").has_value());
    EXPECT_FALSE(DeleteFileNamed("absent.bin"));
    SetLastFileError(5);
    EXPECT_EQ(LastFileError(), 5u);
}

TEST(Win32File, ReadsWholeFilesAndSizesOnlyRegularOnes) {
    WinTempFolder folder;
    std::string content(70000, '\0');
    for (size_t i = 0; i < content.size(); ++i)
        content[i] = char(i * 7);
    WinTempFolder::WriteFile("cpu.bin", content);
    {
        ReadOnlyFile file("cpu.bin");
        ASSERT_TRUE(file.IsOpen());
        EXPECT_EQ(file.Size(), content.size());
        std::string part(100, '\0');
        EXPECT_EQ(file.Read(part.data(), part.size()), 100u);
        EXPECT_EQ(part, content.substr(0, 100));
        // Open without delete sharing, the file cannot be deleted.
        EXPECT_FALSE(DeleteFileNamed("cpu.bin"));
    }
    EXPECT_EQ(Read("cpu.bin"), content);
    EXPECT_EQ(RegularFileSize("cpu.bin"), std::optional<uint64_t>(content.size()));

    ::CreateDirectoryA("folder", nullptr);
    EXPECT_FALSE(RegularFileSize("folder").has_value());
    EXPECT_FALSE(RegularFileSize("absent").has_value());
    EXPECT_TRUE(DeleteFileNamed("cpu.bin"));
    EXPECT_FALSE(RegularFileSize("cpu.bin").has_value());
}

TEST(Win32File, SearchMatchesWithoutCaseSkipsFoldersAndKeepsWriteTimes) {
    WinTempFolder folder;
    WinTempFolder::WriteFile("Main.CPU", "a");
    WinTempFolder::WriteFile("other.cpu", "b");
    WinTempFolder::WriteFile("note.txt", "c");
    ::CreateDirectoryA("dir.cpu", nullptr);
    // Give the two programs distinct write times, the first one older.
    const HANDLE h = ::CreateFileA("Main.CPU", FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    FILETIME old{0x10000000, 0x01D00000};
    ASSERT_TRUE(::SetFileTime(h, nullptr, nullptr, &old));
    ::CloseHandle(h);

    std::vector<FindEntry> found = FindInCurrentDirectory("*.cpu");
    std::sort(found.begin(), found.end(),
              [](const FindEntry& a, const FindEntry& b) { return a.name < b.name; });
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0].name, "Main.CPU");
    EXPECT_EQ(found[1].name, "other.cpu");
    EXPECT_EQ(found[0].lastWriteTime, (uint64_t(old.dwHighDateTime) << 32) | old.dwLowDateTime);
    EXPECT_LT(found[0].lastWriteTime, found[1].lastWriteTime);

    EXPECT_EQ(FindInCurrentDirectory("NOTE.TXT").size(), 1u);
    EXPECT_TRUE(FindInCurrentDirectory("*.fpg").empty());
    EXPECT_EQ(LastFileError(), 2u);
    EXPECT_TRUE(FindInCurrentDirectory("dir.cpu").empty());
}

} // namespace
