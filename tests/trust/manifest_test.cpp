// The manifest and the release state as hostile text: what is refused names its line, and what
// the writer writes reads back the same.

#include "trust/manifest.h"
#include "trust/release_state.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::span<const uint8_t> Bytes(const std::string& text) {
    return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

const std::string kHash(64, 'a');
const std::string kHead = "kqvorlink-manifest 1\nmodel KQ-A2\nrelease 7\n";

std::string FileLine(const std::string& name, const std::string& size = "10") {
    return "file " + kHash + " " + size + " " + name + "\n";
}

TEST(ManifestTest, ReadsBackWhatItWrites) {
    trust::Manifest written{"KQ-A2",
                            42,
                            "KQ-A2.01.02.50",
                            "2026-12-24T06:00:00+01:00",
                            {{kHash, 5, "b c.bin"}, {std::string(64, '0'), 0, "A.cpu"}}};
    const std::string text = trust::ManifestText(written);
    const trust::ManifestReading read = trust::ReadManifest(Bytes(text));
    ASSERT_EQ(read.error, "");
    EXPECT_EQ(read.manifest.release, 42u);
    EXPECT_EQ(read.manifest.expires, written.expires);
    ASSERT_EQ(read.manifest.files.size(), 2u);
    EXPECT_EQ(read.manifest.files[0].name, "A.cpu"); // sorted by name when written
    EXPECT_EQ(read.manifest.files[1].name, "b c.bin");
    EXPECT_EQ(trust::ManifestText(read.manifest), text);
}

struct BadManifest {
    const char* name;
    std::string text;
    std::string error; // what the refusal begins with
};

void PrintTo(const BadManifest& row, std::ostream* out) {
    *out << row.name;
}

class BadManifestTest : public ::testing::TestWithParam<BadManifest> {};

TEST_P(BadManifestTest, IsRefusedNamingItsLine) {
    const trust::ManifestReading read = trust::ReadManifest(Bytes(GetParam().text));
    EXPECT_EQ(read.error.substr(0, GetParam().error.size()), GetParam().error);
    EXPECT_TRUE(read.manifest.files.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Rows, BadManifestTest,
    ::testing::Values(
        BadManifest{"empty", "", "line 1: no kqvorlink-manifest line"},
        BadManifest{"later_format", "kqvorlink-manifest 2\n", "line 1: a manifest format"},
        BadManifest{"no_release", "kqvorlink-manifest 1\nmodel KQ-A2\n" + FileLine("a"),
                    "line 3: no release line"},
        BadManifest{"release_with_sign", "kqvorlink-manifest 1\nmodel X\nrelease +7\n",
                    "line 3: no release line"},
        BadManifest{"no_files", kHead, "no file lines"},
        BadManifest{"duplicate", kHead + FileLine("a") + FileLine("a"), "line 5: a file out"},
        BadManifest{"unsorted", kHead + FileLine("b") + FileLine("a"), "line 5: a file out"},
        BadManifest{"extra_line", kHead + FileLine("a") + "signer me\n", "line 5: a line that"},
        BadManifest{"expiry_after_files", kHead + FileLine("a") + "expires x\n", "line 5:"},
        BadManifest{"no_final_line_end", kHead + "file " + kHash + " 1 a", "line 4: line 4 has"},
        BadManifest{"carriage_return", kHead + "file " + kHash + " 1 a\r\n",
                    "line 4: line 4 holds"},
        BadManifest{"path_separator", kHead + FileLine("../a"), "line 4: a file name with a path"},
        BadManifest{"backslash", kHead + FileLine("x\\a"), "line 4: a file name with a path"},
        BadManifest{"escape_byte", kHead + FileLine("a\x1b[2J"), "line 4: line 4 holds"},
        BadManifest{"upper_case_hash", kHead + "file " + std::string(64, 'A') + " 1 a\n",
                    "line 4: a file line without a SHA-256"},
        BadManifest{"size_leading_zero", kHead + FileLine("a", "010"),
                    "line 4: a file line without a size"},
        BadManifest{"size_too_long", kHead + FileLine("a", std::string(19, '9')),
                    "line 4: a file line without a size"},
        BadManifest{"oversized", kHead + std::string(trust::kMaxManifestBytes, 'x'),
                    "larger than"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ReleaseStateTest, ReadsOnlyItsOwnFormat) {
    const trust::ReleaseState state{"KQ-A2", 8, std::string(64, 'f')};
    const std::string text = trust::ReleaseStateText(state);
    const trust::ReleaseStateReading read = trust::ReadReleaseState(Bytes(text));
    ASSERT_EQ(read.error, "");
    EXPECT_EQ(read.state.release, 8u);
    for (const std::string& foreign :
         {std::string("{\"release\": 9}\n"), text + "release 9\n", text.substr(0, text.size() - 1),
          "kqvorlink-release-state 2\n" + text.substr(text.find('\n') + 1),
          std::string(trust::kMaxReleaseStateBytes + 1, '\n')})
        EXPECT_NE(trust::ReadReleaseState(Bytes(foreign)).error, "") << foreign;
}

} // namespace
