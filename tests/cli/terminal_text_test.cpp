// What the fleet front end prints of a unit's texts: one line, nothing a terminal would act on.

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

} // namespace
