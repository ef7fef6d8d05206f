// An interrupt (SIGINT to kqvorlink-cli as a process of its own) while units are at work: the
// running units finish, no other starts, and the output, the exit status and the report say so.

#include "tests/cli/fleet_fixture.h"

namespace {

std::string RobustAddress(int n) {
    return "127.0.21." + std::to_string(n);
}

struct InterruptRow {
    const char* name;
    int first, count;               // the units, each of whose uploads ends 0.8 s late
    bool firstOfOtherModel;         // the first unit fails at once
    std::vector<std::string> args;  // the units follow, as a range
    size_t firstCommands;           // the interrupt comes once the first unit had these...
    const char* reportHolds;        // ...and the report holds this
    std::vector<std::string> said;  // in the output
    std::vector<std::string> shown; // each unit's result in the report, then part of its message
};

void PrintTo(const InterruptRow& row, std::ostream* out) {
    *out << row.name;
}

class FleetInterruptTest : public FleetTest, public ::testing::WithParamInterface<InterruptRow> {};

TEST_P(FleetInterruptTest, RunningUnitsFinishNoOtherStartsAndTheRunSaysSo) {
    const InterruptRow& row = GetParam();
    std::filesystem::remove("kq12.cpu"); // real time: no restart wait
    for (int n = row.first; n < row.first + row.count; ++n) {
        sim::UnitConfig config;
        if (n == row.first && row.firstOfOtherModel)
            config.model = "KQ-B2";
        for (const auto trigger :
             {sim::Fault::Trigger::TransferEnd, sim::Fault::Trigger::Command}) {
            config.faults.push_back(
                FaultOf(trigger, trigger == sim::Fault::Trigger::Command ? "EXCM uname" : "",
                        sim::Fault::Action::Delay, "", 0));
            config.faults.back().delayMs = 800;
        }
        AddUnitAt(RobustAddress(n), config);
    }
    std::vector<std::string> args = row.args;
    args.insert(args.end(),
                {"--report", "report.json",
                 RobustAddress(row.first) + "-" + RobustAddress(row.first + row.count - 1)});
    const pid_t cli = StartCli(args, "interrupted.txt");
    ASSERT_GT(cli, 0);
    ASSERT_TRUE(m_units[0]->WaitForCommands(row.firstCommands, std::chrono::seconds(20)));
    for (int i = 0;
         i < 1000 && ReadTextFile("report.json").find(row.reportHolds) == std::string::npos; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_EQ(kill(cli, SIGINT), 0);
    int status = 0;
    ASSERT_EQ(waitpid(cli, &status, 0), cli);
    EXPECT_EQ(WEXITSTATUS(status), 130) << "the status says the run was interrupted";

    const std::string output = ReadTextFile("interrupted.txt");
    for (const std::string& text : row.said)
        EXPECT_NE(output.find(text), std::string::npos) << text << " not in:\n" << output;
    const auto report = nlohmann::json::parse(ReadTextFile("report.json"));
    for (int i = 0; i < row.count; ++i) {
        const auto& unit = report["units"][size_t(i)];
        const std::string result = unit.contains("result") ? unit["result"]
                                   : unit["answered"]      ? "answered"
                                                           : "no answer";
        const std::string message = unit["message"].is_string() ? unit["message"] : "";
        EXPECT_EQ(result, row.shown[size_t(2 * i)]) << i;
        EXPECT_NE(message.find(row.shown[size_t(2 * i + 1)]), std::string::npos) << message;
        if (result == "complete")
            ExpectWholeSet(*m_units[size_t(i)]);
        EXPECT_EQ(m_units[size_t(i)]->Commands().empty(),
                  result == "not started" || result == "no answer")
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
                     {"Cannot be ended during download processing. 2 running unit(s) will finish; "
                      "4 unit(s) will not be started."},
                     {"complete", "Update Complete.", "complete", "Update Complete.",
                      "not started", kNotStarted, "not started", kNotStarted,
                      "not started", kNotStarted, "not started", kNotStarted}},
        // The failure had stopped the starts before: the notice comes all the same, and the units
        // kept back keep that reason.
        InterruptRow{"UpdateAfterStopAfterFailures", 211, 4, true,
                     {"update", "--jobs", "2", "--stop-after-failures", "1"}, 1,
                     "\"result\": \"failed\"",
                     {"1 running unit(s) will finish; 2 unit(s) will not be started."},
                     {"failed", "Device Type Wrong", "complete", "Update Complete.",
                      "not started", "(--stop-after-failures 1)", "not started",
                      "(--stop-after-failures 1)"}},
        InterruptRow{"CheckNamesTheUnitsItNeverContacted", 201, 3, false, {"check", "--jobs", "1"},
                     3, "",
                     {"127.0.21.202     not contacted: the run was interrupted",
                      "127.0.21.203     not contacted: the run was interrupted"},
                     {"answered", "", "no answer", kNotContacted, "no answer", kNotContacted}}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

} // namespace
