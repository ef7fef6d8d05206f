// The record header carries the file's name exactly as the folder lists it, while the STOR
// command lowers the extension: the unit compares the two, so the header must not follow STOR.

#include "tests/support/run_test_support.h"

namespace {

struct HeaderNameCase {
    int n; // the unit's address 127.0.4.n
    const char* listed;
    const char* stored;    // the name STOR gives
    const char* nameField; // the header's name field up to its first zero
};

std::ostream& operator<<(std::ostream& out, const HeaderNameCase& c) {
    return out << c.listed;
}

class UploadHeaderNameTest : public RunTest,
                             public ::testing::WithParamInterface<HeaderNameCase> {};

TEST_P(UploadHeaderNameTest, HeaderKeepsTheListedNameWhileStorLowersItsExtension) {
    const HeaderNameCase& c = GetParam();
    m_subnet = 4;
    sim::Unit& unit = StartUnit(c.n);
    WriteBytes(c.listed, PatternBytes(100, c.n));
    Open();

    ASSERT_EQ(RunAgainst(c.n), RunEnd::Complete) << BoxTexts();
    const auto uploads = unit.Uploads();
    ASSERT_EQ(uploads.size(), 1u);
    EXPECT_EQ(uploads[0].storName, c.stored);
    ASSERT_TRUE(uploads[0].hasHeader);
    EXPECT_EQ(uploads[0].headerName, c.nameField);
}

INSTANTIATE_TEST_SUITE_P(
    UpperCaseExtensions, UploadHeaderNameTest,
    ::testing::Values(HeaderNameCase{20, "LOGO.BMP", "LOGO.bmp", "LOGO.BMP"},
                      HeaderNameCase{21, "S1.SDT", "S1.sdt", "S1.SDT"},
                      HeaderNameCase{22, "Tfpga.Bin", "Tfpga.bin", "Tfpga.Bin"},
                      HeaderNameCase{23, "oem_a.HTML", "oem_a.htmL", "oem_a.HTML"},
                      HeaderNameCase{24, "gamma_table1.TBL", "gamma_table1.tbl",
                                     "gamma_table1.TBL"},
                      HeaderNameCase{25, "gamma_table01.TBL", "gamma_table01.tbl",
                                     "gamma_table01.TB"})); // 16 bytes, no zero

} // namespace
