// An interrupt (SIGINT to kqvorlink-cli as a process of its own) while units are at work: the
// running units finish, no other starts, and the output, the exit status and the report say so.

#include "tests/cli/fleet_fixture.h"

namespace {

struct InterruptRow {
    const char* name;
    int first, count;              // units on 127.0.21.<first>..., each upload ending 0.8 s late
    bool firstOfOtherModel;        // the first unit fails at once
    std::vector<std::string> args; // the units follow, as a range
    size_t firstCommands;          // the interrupt comes once the first unit had these...
    const char* reportHolds;       // ...and the report holds this
    const char* said;
    std::vector<std::string> shown; // each unit's result in the report, then part of its message
};

void PrintTo(const InterruptRow& row, std::ostream* out) {
    *out << row.name;
}

class FleetInterruptTest : public FleetTest, public ::testing::WithParamInterface<InterruptRow> {};

TEST_P(FleetInterruptTest, RunningUnitsFinishNoOtherStartsAndTheRunSaysSo) {
    const InterruptRow& row = GetParam();
    std::filesystem::remove("kq12.cpu"); // real time: no restart wait
    const auto address = [](int n) { return "127.0.21." + std::to_string(n); };
    for (int n = row.first; n < row.first + row.count; ++n) {
        sim::UnitConfig config;
        config.model = n == row.first && row.firstOfOtherModel ? "KQ-B2" : "KQ-A2";
        config.faults = {
            FaultOf(sim::Fault::Trigger::TransferEnd, "", sim::Fault::Action::Delay, "", 0),
            FaultOf(sim::Fault::Trigger::Command, "EXCM uname", sim::Fault::Action::Delay, "", 0)};
        for (sim::Fault& fault : config.faults)
            fault.delayMs = 800;
        AddUnitAt(address(n), config);
    }
    std::vector<std::string> args = row.args;
    args.insert(args.end(), {"--report", "report.json",
                             address(row.first) + "-" + address(row.first + row.count - 1)});
    const pid_t cli = StartCli(args, "interrupted.txt");
    ASSERT_TRUE(cli > 0 &&
                m_units[0]->WaitForCommands(row.firstCommands, std::chrono::seconds(20)));
    for (int i = 0;
         i < 1000 && ReadTextFile("report.json").find(row.reportHolds) == std::string::npos; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    int status = 0;
    ASSERT_TRUE(kill(cli, SIGINT) == 0 && waitpid(cli, &status, 0) == cli);
    EXPECT_EQ(WEXITSTATUS(status), 130) << "the status says the run was interrupted";
    const std::string output = ReadTextFile("interrupted.txt");
    EXPECT_NE(output.find(row.said), std::string::npos) << output;
    const auto report = nlohmann::json::parse(ReadTextFile("report.json"));
    for (size_t i = 0; i < size_t(row.count); ++i) {
        const auto& unit = report["units"][i];
        const std::string result = unit.contains("result") ? unit["result"]
                                   : unit["answered"]      ? "answered"
                                                           : "no answer";
        EXPECT_EQ(result, row.shown[2 * i]) << i;
        EXPECT_NE(unit.value("message", nlohmann::json("")).dump().find(row.shown[2 * i + 1]),
                  std::string::npos)
            << unit;
        if (result == "complete")
            ExpectWholeSet(*m_units[i]);
        EXPECT_EQ(m_units[i]->Commands().empty(), result == "not started" || result == "no answer")
            << i;
    }
}

const char* const kNotContacted = "Not contacted: the run was interrupted.";
const char* const kNotStarted = "Not started: the run was interrupted.";

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Rows, FleetInterruptTest,
    ::testing::Values(
        InterruptRow{"UpdateLetsTheRunningFinish", 221, 6, false, {"update", "--jobs", "2"}, 3, "",
                     "Cannot be ended during download processing. 2 running unit(s) will finish; "
                     "4 unit(s) will not be started.",
                     {"complete", "Update Complete.", "complete", "Update Complete.",
                      "not started", kNotStarted, "not started", kNotStarted,
                      "not started", kNotStarted, "not started", kNotStarted}},
        // The failure had stopped the starts before: the notice comes all the same, and the units
        // kept back keep that reason.
        InterruptRow{"UpdateAfterStopAfterFailures", 211, 4, true,
                     {"update", "--jobs", "2", "--stop-after-failures", "1"}, 1,
                     "\"result\": \"failed\"",
                     "1 running unit(s) will finish; 0 unit(s) will not be started.",
                     {"failed", "Device Type Wrong", "complete", "Update Complete.",
                      "not started", "(--stop-after-failures 1)", "not started",
                      "(--stop-after-failures 1)"}},
        InterruptRow{"CheckNamesTheUnitsItNeverContacted", 201, 3, false, {"check", "--jobs", "1"},
                     3, "",
                     "127.0.21.202     not contacted: the run was interrupted\n"
                     "127.0.21.203     not contacted: the run was interrupted\n",
                     {"answered", "", "no answer", kNotContacted, "no answer", kNotContacted}}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

} // namespace
