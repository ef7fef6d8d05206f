// How often the CPU program goes: twice only to a unit older than version 5 when the program is
// of version 5, where a name without a number counts as 5 and a version text without one as 0.

#include "tests/support/run_test_support.h"

#include <algorithm>

namespace {

struct PassesCase {
    int n; // the unit's address 127.0.4.n
    const char* cpuFile;
    const char* versionText;
    int passes;
};

std::ostream& operator<<(std::ostream& out, const PassesCase& c) {
    return out << c.cpuFile << " to " << c.versionText;
}

class CpuPassesTest : public RunTest, public ::testing::WithParamInterface<PassesCase> {};

TEST_P(CpuPassesTest, ProgramGoesAsOftenAsTheVersionsAsk) {
    const PassesCase& c = GetParam();
    sim::UnitConfig config;
    config.versionText = c.versionText;
    sim::Unit& unit = OpenOneStep(c.n, c.cpuFile, 3000, config);

    ASSERT_EQ(RunAgainst(c.n), RunEnd::Complete) << BoxTexts();
    const auto commands = unit.Commands();
    EXPECT_EQ(std::count(commands.begin(), commands.end(), "telnet: u_soft"), c.passes);
    EXPECT_EQ(unit.Restarts(), c.passes);
    EXPECT_EQ(unit.Uploads().size(), size_t(c.passes));
    EXPECT_EQ(std::count(commands.begin(), commands.end(), "USER anonymous"), c.passes + 1)
        << "each pass is followed by a new log-in";
}

INSTANTIATE_TEST_SUITE_P(
    VersionBoundary, CpuPassesTest,
    ::testing::Values(PassesCase{10, "abxy.cpu", "KQ-A2 build", 2}, // 5 against 0
                      PassesCase{11, "abxy.cpu", "KQ-A2.01.02.05", 1},
                      PassesCase{12, "abxy.cpu", "KQ-A2.01.02.04", 2},
                      PassesCase{13, "ab05.cpu", "KQ-A2.01.02", 2}, // no fourth part: 0
                      PassesCase{14, "ab06.cpu", "KQ-A2 build", 1},
                      PassesCase{15, "ab04.cpu", "KQ-A2 build", 1}));

} // namespace
