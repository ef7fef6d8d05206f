// What the fleet front end prints of a unit's texts: one line, nothing a terminal would act on;
// and of a version text, a line that no other text shares and that reads back.

#include "cli/terminal_text.h"

#include <gtest/gtest.h>

namespace {

struct TerminalTextRow {
    const char* name;
    std::string text;
    std::string shown;
};

void PrintTo(const TerminalTextRow& row, std::ostream* out) {
    *out << row.name;
}

class TerminalTextTest : public ::testing::TestWithParam<TerminalTextRow> {};

TEST_P(TerminalTextTest, ShowsUnitTextsOnOneSafeLine) {
    EXPECT_EQ(cli::TerminalText(GetParam().text), GetParam().shown);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, TerminalTextTest,
    ::testing::Values(TerminalTextRow{"refusal", "550 Selector refused.\r\n",
                                      "550 Selector refused."},
                      TerminalTextRow{"two_lines", "Error : x\nsecond", "Error : x second"},
                      TerminalTextRow{"telnet_offer", "\xff\xfb\x01", "\\xff\\xfb\\x01"},
                      TerminalTextRow{"escape_sequence", "\x1b[2Jgone", "\\x1b[2Jgone"},
                      TerminalTextRow{"nul_and_delete", std::string("a\0b\x7f", 4), "a\\x00b\\x7f"},
                      TerminalTextRow{"tab", "KQ-A2\t01", "KQ-A2\\x0901"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ExactTextTest, TextsThatDifferLookDifferentAndReadBack) {
    for (const auto& [text, shown] : std::vector<std::pair<std::string, std::string>>{
             {"KQ-A2.01.02.45\r\n", "KQ-A2.01.02.45\\x0d\\x0a"},
             {"KQ-A2.01.02.45 \r", "KQ-A2.01.02.45 \\x0d"},
             {"KQ-A2.01.02.45  ", "KQ-A2.01.02.45\\x20\\x20"},
             {"KQ-A2\\x41\"\t", "KQ-A2\\x5cx41\\x22\\x09"}})
        EXPECT_EQ(cli::ExactText(text), shown);
    // A version typed without escapes is its own bytes; every byte value reads back.
    for (const std::string typed : {"KQ-A2.01.02.45", "KQ\\A2", "KQ\\x4", "KQ\\xg1", "\\"})
        EXPECT_EQ(cli::BytesOfExactText(typed), typed);
    EXPECT_EQ(cli::BytesOfExactText("\\x4A\\x4a"), "JJ");
    std::string every = "  ";
    for (int byte = 0; byte < 256; ++byte)
        every.insert(every.end() - 2, char(byte));
    EXPECT_EQ(cli::BytesOfExactText(cli::ExactText(every)), every);
}

} // namespace
