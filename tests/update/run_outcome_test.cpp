// A run that fails never marks the unit's version as done, wherever it failed; among the
// failures, a CPU program that has gone since the folder was scanned is named before anything of
// it is sent.

#include "tests/support/run_test_support.h"

using sim::Fault;

namespace {

struct FailedRunCase {
    const char* what;
    int n; // the unit's address 127.0.4.n
    std::vector<std::string> files;
    const char* gone;    // removed after the scan ("" for none)
    const char* refused; // the command the unit refuses ("" for none)
    bool defaultSetting;
    bool staysDown; // the unit does not come back after the CPU program
    RunEnd end;
    std::string box;
    unsigned icon;
    const char* lastCommand;
};

std::ostream& operator<<(std::ostream& out, const FailedRunCase& c) {
    return out << c.what;
}

class RunOutcomeTest : public RunTest, public ::testing::WithParamInterface<FailedRunCase> {};

TEST_P(RunOutcomeTest, FailedRunLeavesTheVersionWithoutDone) {
    const FailedRunCase& c = GetParam();
    m_subnet = 4;
    sim::UnitConfig config;
    config.restartRefuseMs = c.staysDown ? 8000 : 200;
    if (*c.refused != '\0') {
        const std::string reply = c.box.substr(0, c.box.size() - 2); // without its CR LF
        config.faults.push_back(
            FaultOf(Fault::Trigger::Command, c.refused, Fault::Action::Reply, reply));
    }
    sim::Unit& unit = StartUnit(c.n, config);
    for (const std::string& name : c.files)
        WriteBytes(name, PatternBytes(700, c.n));
    if (c.defaultSetting)
        WriteTextFile("KQVorlink.prm", "KQ-A2  Update\nA\nD\n");
    auto& view = Open();
    if (*c.gone != '\0')
        std::filesystem::remove(c.gone);

    ASSERT_EQ(RunAgainst(c.n), c.end) << BoxTexts();
    ASSERT_EQ(Boxes().size(), 1u);
    EXPECT_EQ(Boxes()[0].text, c.box);
    EXPECT_EQ(Boxes()[0].style, c.icon);
    EXPECT_EQ(unit.Commands().back(), c.lastCommand);
    EXPECT_EQ(view.Control(IDC_VERSION_LINE).text, "KQ-A2.01.02.45");
    EXPECT_STREQ(m_dialog->m_szDeviceVersion, "KQ-A2.01.02.45");
    EXPECT_EQ(m_dialog->m_bUpdateDone, 0);
    EXPECT_TRUE(LogExists());
}

using platform::kMbIconError;
using platform::kMbIconWarning;
const RunEnd kEnded = RunEnd::ProgramEnded;
const std::string kCpuGone = "\"ab07.cpu\" is not exist.";
const std::string kNoUnit = "Error : Connection refused.";

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    WhereTheRunFails, RunOutcomeTest,
    ::testing::Values(
        FailedRunCase{"CPU program gone since the scan", 30, {"ab07.cpu", "LOGO.bmp"}, "ab07.cpu",
                      "", false, false, kEnded, kCpuGone, kMbIconWarning, "CWD \\UpdateBx"},
        FailedRunCase{"selector refused", 31, {"LOGO.bmp"}, "", "EXCM k_Lg", false, false,
                      kEnded, "550 Busy.\r\n", kMbIconWarning, "EXCM k_Lg"},
        FailedRunCase{"default setting refused", 32, {"LOGO.bmp"}, "", "EXCM w_stupall", true,
                      false, kEnded, "451 Not now.\r\n", kMbIconWarning, "EXCM w_stupall"},
        FailedRunCase{"no reconnection after the CPU program", 33, {"ab07.cpu"}, "", "", false,
                      true, RunEnd::DialogStaysOpen, kNoUnit, kMbIconError, "restart"}));
// clang-format on

} // namespace
