// The upload record and the loader that builds it: header bytes as the unit reads them, the file
// read straight behind the header, and the files that cannot become a record.

#include "tests/support/run_test_support.h"
#include "tests/support/sanitizers.h"
#include "update/load_update_file.h"
#include "update/upload_check.h"
#include "update/upload_record.h"

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <cstring>
#include <filesystem>
#include <vector>

namespace {

std::vector<uint8_t> Encoded(const std::string& name, uint32_t length, uint32_t kind) {
    std::vector<uint8_t> bytes(kUploadHeaderSize, 0xEE);
    EncodeUploadHeader(MakeUploadHeader(name, length, kind), bytes.data());
    return bytes;
}

// Leaves this process little more address space than it uses, so that large allocations fail.
// Only in a child process (death test); the sanitizers reserve too much to run under a limit.
void LimitAddressSpace() {
    struct rlimit limit {};
    limit.rlim_cur = limit.rlim_max = 512ull << 20;
    ::setrlimit(RLIMIT_AS, &limit);
}

constexpr bool kAddressLimitWorks = !testsupport::kAddressSanitizer;

} // namespace

TEST(UploadHeader, FieldsAreLittleEndianWithZeroReservedWords) {
    const auto bytes = Encoded("LOGO.bmp", 0x01020304, 11);
    const std::vector<uint8_t> expected = {'L', 'O', 'G', 'O', '.', 'b', 'm', 'p', 0, 0,  0,
                                           0,   0,   0,   0,   0,   4,   3,   2,   1, 11, 0,
                                           0,   0,   0,   0,   0,   0,   0,   0,   0, 0};
    EXPECT_EQ(bytes, expected);
    const auto big = Encoded("a.bin", 0xFFFFFFDF, 0x0A0B0C0D);
    EXPECT_EQ(std::vector<uint8_t>(big.begin() + 16, big.begin() + 24),
              (std::vector<uint8_t>{0xDF, 0xFF, 0xFF, 0xFF, 0x0D, 0x0C, 0x0B, 0x0A}));
}

TEST(UploadHeader, NameFieldKeepsAZeroOnlyBelowSixteenCharacters) {
    const auto fifteen = Encoded("ABCDEFGHIJK.sdt", 7, 8); // 15 characters
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(fifteen.data()), 15), "ABCDEFGHIJK.sdt");
    EXPECT_EQ(fifteen[15], 0);

    const auto sixteen = Encoded("ABCDEFGHIJKL.sdt", 7, 8);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(sixteen.data()), 16), "ABCDEFGHIJKL.sdt");
    EXPECT_EQ(sixteen[16], 7); // the length field follows at once

    const auto longer = Encoded("oem_index_page_2.html", 7, 4);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(longer.data()), 16), "oem_index_page_2");
    EXPECT_EQ(longer[16], 7);
}

TEST(UploadHeader, LogTextStopsAtTheFirstZeroAndNeverPassesTheRecord) {
    auto record = Encoded("CURSOR1.bmp", 0x00414243, 6);
    EXPECT_EQ(RecordLogText(record.data(), record.size()), "CURSOR1.bmp");

    // A long name runs on into the length field, up to its first zero byte.
    record = Encoded("ABCDEFGHIJKL.sdt", 0x00414243, 8);
    EXPECT_EQ(RecordLogText(record.data(), record.size()), "ABCDEFGHIJKL.sdtCBA");

    // A bare program without any zero is cut at its end.
    const std::vector<uint8_t> bare(40, 'x');
    EXPECT_EQ(RecordLogText(bare.data(), bare.size()), std::string(40, 'x'));
    EXPECT_EQ(RecordLogText(bare.data(), 0), "");
}

TEST(UploadHeader, LimitLeavesRoomForTheHeaderInTheTransfersLength) {
    EXPECT_EQ(MaxUploadContent(kUploadHeaderSize), 4294967263ull);
    EXPECT_EQ(MaxUploadContent(0), 4294967295ull);
}

class LoadUpdateFileTest : public ::testing::Test {
  protected:
    void SetUp() override { headless::Desktop::Instance().Reset(); }
    void TearDown() override { headless::Desktop::Instance().Reset(); }
    TempFolder m_folder{"load"};
};

TEST_F(LoadUpdateFileTest, ReadsTheFileStraightBehindTheHeaderRoom) {
    std::string content;
    for (int i = 0; i < 70000; ++i)
        content.push_back(static_cast<char>(i * 7));
    WriteTextFile("G1.tbl", content);

    LoadedFile file = LoadUpdateFile("G1.tbl", kUploadHeaderSize);
    ASSERT_EQ(file.status, LoadStatus::Loaded);
    EXPECT_EQ(file.fileSize, content.size());
    EXPECT_EQ(file.record.contentSize, content.size());
    EXPECT_EQ(file.record.RecordLength(), content.size() + 32);
    EXPECT_EQ(file.record.Content(), file.record.Header() + 32);
    EXPECT_EQ(std::memcmp(file.record.Content(), content.data(), content.size()), 0);

    LoadedFile bare = LoadUpdateFile("G1.tbl", 0);
    ASSERT_EQ(bare.status, LoadStatus::Loaded);
    EXPECT_EQ(bare.record.RecordLength(), content.size());
    EXPECT_EQ(std::memcmp(bare.record.Record(), content.data(), content.size()), 0);
    EXPECT_TRUE(headless::Desktop::Instance().MessageBoxes().empty());
}

TEST_F(LoadUpdateFileTest, EmptyFileGivesNoBuffer) {
    WriteTextFile("E.sdt", "");
    LoadedFile file = LoadUpdateFile("E.sdt", kUploadHeaderSize);
    EXPECT_EQ(file.status, LoadStatus::Empty);
    EXPECT_EQ(file.record.bytes, nullptr);
    EXPECT_TRUE(headless::Desktop::Instance().MessageBoxes().empty());
}

TEST_F(LoadUpdateFileTest, FileThatCannotBeOpenedKeepsThePlatformErrorForTheRun) {
    platform::SetLastFileError(0);
    LoadedFile file = LoadUpdateFile("GONE.sdt", kUploadHeaderSize);
    EXPECT_EQ(file.status, LoadStatus::OpenFailed);
    EXPECT_EQ(file.openError, 2u);
    EXPECT_TRUE(headless::Desktop::Instance().MessageBoxes().empty());
}

TEST_F(LoadUpdateFileTest, ShortReadFailsWithoutMessage) {
    // A kernel attribute file reports a size of a page but yields only a few bytes.
    const char* attribute = "/sys/devices/system/cpu/online";
    const auto size = platform::RegularFileSize(attribute);
    if (!size || *size < 64)
        GTEST_SKIP() << "no attribute file with a page-sized report here";
    std::filesystem::create_symlink(attribute, "cpu.sdt");

    LoadedFile file = LoadUpdateFile("cpu.sdt", kUploadHeaderSize);
    EXPECT_EQ(file.status, LoadStatus::ShortRead);
    EXPECT_EQ(file.record.bytes, nullptr);
    EXPECT_TRUE(headless::Desktop::Instance().MessageBoxes().empty());
    EXPECT_FALSE(std::filesystem::exists("KQVorlink.log"));
}

TEST_F(LoadUpdateFileTest, FileBeyondTheRecordLimitIsRefusedUnread) {
    MakeSparseFile("BIG.bin", 4294967296ull); // 4 GiB, no disk used
    LoadedFile file = LoadUpdateFile("BIG.bin", kUploadHeaderSize);
    EXPECT_EQ(file.status, LoadStatus::TooLarge);
    EXPECT_EQ(file.fileSize, 4294967296ull);
    EXPECT_EQ(file.record.bytes, nullptr);
    EXPECT_EQ(UploadProblemText("BIG.bin", file.status, file.fileSize, kUploadHeaderSize),
              "\"BIG.bin\" is too large to upload (4294967296 bytes; the limit is 4294967263 "
              "bytes).");

    // One byte past the limit with a header; the bare program may be 32 bytes longer.
    MakeSparseFile("EDGE.bin", 4294967264ull);
    EXPECT_EQ(LoadUpdateFile("EDGE.bin", kUploadHeaderSize).status, LoadStatus::TooLarge);
    EXPECT_EQ(FindUploadProblem({"EDGE.bin"}, 0), std::nullopt) << "fits a bare program";
}

TEST_F(LoadUpdateFileTest, CheckNamesTheFirstFileTooLargeAndIgnoresTheRest) {
    WriteTextFile("A.sdt", "small");
    MakeSparseFile("B.sdt", 5000000000ull);
    MakeSparseFile("C.sdt", 4294967296ull);
    EXPECT_EQ(FindUploadProblem({"A.sdt", "missing.sdt"}, kUploadHeaderSize), std::nullopt);
    EXPECT_EQ(FindUploadProblem({"A.sdt", "B.sdt", "C.sdt"}, kUploadHeaderSize),
              "\"B.sdt\" is too large to upload (5000000000 bytes; the limit is 4294967263 "
              "bytes).");
}

TEST_F(LoadUpdateFileTest, FileThatCannotBeHeldInMemoryIsNamed) {
    if (!kAddressLimitWorks)
        GTEST_SKIP() << "an address-space limit does not work under the sanitizers";
    MakeSparseFile("HUGE.bin", 3000000000ull);
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            LimitAddressSpace();
            const LoadedFile file = LoadUpdateFile("HUGE.bin", kUploadHeaderSize);
            const auto problem = FindUploadProblem({"HUGE.bin"}, kUploadHeaderSize);
            const bool ok = file.status == LoadStatus::NoMemory && file.record.bytes == nullptr &&
                            problem == "\"HUGE.bin\" cannot be held in memory for the upload "
                                       "(3000000000 bytes).";
            std::_Exit(ok ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}
