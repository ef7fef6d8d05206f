// The fleet's JSON report: staged and resumable runs, a report that only moves forward and a run
// killed midway, a report that cannot be rewritten, and real reports checked against their
// schemas.

#include "cli/report_writer.h"
#include "tests/cli/fleet_fixture.h"

#include <atomic>

namespace {

// Staged, waved and resumable runs: which units ran, and what the report says of each.
struct StagedUnit {
    int n;
    const char* model = "KQ-A2";
    const char* version = "KQ-A2.01.02.45";
    bool refusesShading = false; // sent the set, then fails: "550" to the shading data
    bool absent = false;         // nothing answers at its address
};

struct StagedRun {
    const char* name;
    std::vector<StagedUnit> units;
    std::vector<std::string> args;          // "@N" stands for 127.0.11.N
    std::vector<std::string> reportResults; // in the report's order
    std::vector<int> reported;              // the units the report lists, in order
    std::vector<int> contacted;             // the units that received any command
    int status;
    const char* net = "127.0.11."; // where unit N is
    std::vector<int> waves = {};   // the report's wave of each unit it lists (else 0: null)
};

void PrintTo(const StagedRun& row, std::ostream* out) {
    *out << row.name;
}

class StagedRunTest : public FleetTest, public ::testing::WithParamInterface<StagedRun> {};

TEST_P(StagedRunTest, RunsOnlyTheUnitsItShouldAndReportsTheRest) {
    const StagedRun& row = GetParam();
    const auto at = [&](int n) { return row.net + std::to_string(n); };
    std::filesystem::remove("kq12.cpu"); // no restart wait
    std::map<int, sim::Unit*> units;
    for (const StagedUnit& u : row.units) {
        sim::UnitConfig config;
        config.model = u.model;
        config.versionText = u.version;
        if (u.refusesShading) {
            config.faults.push_back(FaultOf(sim::Fault::Trigger::Command, "EXCM k_Sd",
                                            sim::Fault::Action::Reply, "550 Shading refused."));
        }
        std::string reason;
        if (u.absent)
            ASSERT_TRUE(testsupport::ClaimUnitAddress(at(u.n), &reason)) << reason;
        else
            units[u.n] = &AddUnitAt(at(u.n), config);
    }
    // An earlier run's report, cut off while 127.0.11.23 was running.
    WriteTextFile("earlier.json", R"({"schema": 1, "report": "update", "set": {"model": "KQ-A2"},
        "units": [{"address": "127.0.11.21", "result": "complete"},
                  {"address": "127.0.11.22", "result": "failed"},
                  {"address": "127.0.11.23", "result": "running"},
                  {"address": "127.0.11.24", "result": "not started"},
                  {"address": "127.0.11.25", "result": "current"}]})");
    // A report of a run in which every unit completed, as the report of this run too.
    WriteTextFile("report.json", R"({"schema": 1, "report": "update", "set": {"model": "KQ-A2"},
        "units": [{"address": "127.0.20.240", "result": "complete"},
                  {"address": "127.0.20.241", "result": "current"}]})");
    std::vector<std::string> args{"update", "--report", "report.json"};
    for (const std::string& arg : row.args)
        args.push_back(arg[0] == '@' ? at(std::stoi(arg.substr(1))) : arg);
    EXPECT_EQ(Cli(args), row.status) << ReadTextFile("cli-output.txt");

    const auto report = nlohmann::json::parse(ReadTextFile("report.json"));
    ASSERT_EQ(report["units"].size(), row.reported.size()) << report.dump(1);
    for (size_t i = 0; i < row.reported.size(); ++i) {
        EXPECT_EQ(report["units"][i]["address"], at(row.reported[i]));
        EXPECT_EQ(report["units"][i]["result"], row.reportResults[i]) << i;
        const int wave = i < row.waves.size() ? row.waves[i] : 0;
        EXPECT_EQ(report["units"][i].value("wave", nlohmann::json()),
                  wave ? nlohmann::json(wave) : nlohmann::json())
            << i;
    }
    for (const auto& [n, unit] : units) {
        const bool contacted =
            std::find(row.contacted.begin(), row.contacted.end(), n) != row.contacted.end();
        EXPECT_EQ(!unit->Commands().empty(), contacted) << at(n);
    }
    if (!row.contacted.empty()) { // else the hand-written report is left as it was
        EXPECT_EQ(ValidatorStatus("update-report.schema.json", "report.json"), 0) << report.dump(1);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, StagedRunTest,
    ::testing::Values(
        StagedRun{"StopAfterOneFailureStartsNoFurtherUnit",
                  {{11, "KQ-B2"}, {12}, {13}},
                  {"--jobs", "1", "--stop-after-failures", "1", "@11", "@12", "@13"},
                  {"failed", "not started", "not started"},
                  {11, 12, 13},
                  {11},
                  1},
        StagedRun{"StopAfterTwoFailuresRunsOnUntilTheSecond",
                  {{14, "KQ-B2"}, {15}, {16, "KQ-B2"}, {17}},
                  {"--jobs", "1", "--stop-after-failures", "2", "127.0.11.14-127.0.11.17"},
                  {"failed", "complete", "failed", "not started"},
                  {14, 15, 16, 17},
                  {14, 15, 16},
                  1},
        StagedRun{"SkipVersionLeavesTheCurrentUnitAsItIs",
                  {{18}, {19, "KQ-A2", "KQ-A2.01.03.00"}},
                  {"--skip-version", "KQ-A2.01.03.00", "@18", "@19"},
                  {"complete", "current"},
                  {18, 19},
                  {18, 19},
                  0},
        StagedRun{"RetryFromRunsWhatDidNotCompleteAndTheUnitsGiven",
                  {{21}, {22}, {23}, {24}, {25}, {26}},
                  {"--retry-from", "earlier.json", "@26", "@22"},
                  {"complete", "complete", "complete", "complete"},
                  {22, 23, 24, 26},
                  {22, 23, 24, 26},
                  0},
        StagedRun{"RetryFromACompleteRunContactsNoUnitAndLeavesItsReport",
                  {{240}, {241}},
                  {"--retry-from", "report.json"},
                  {"complete", "current"},
                  {240, 241},
                  {},
                  0,
                  "127.0.20."},
        StagedRun{"SkipVersionComparesTheTextWithoutTrailingBlanks",
                  {{242, "KQ-A2", "KQ-A2.01.03.00 \t "}, {243, "KQ-A2", ""}},
                  {"--skip-version", "KQ-A2.01.03.00", "@242", "@243"},
                  {"current", "complete"},
                  {242, 243},
                  {242, 243},
                  0,
                  "127.0.20."},
        StagedRun{"SkipVersionOfAnEmptyVersionText",
                  {{244, "KQ-A2", ""}},
                  {"--skip-version", "", "@244"},
                  {"current"},
                  {244},
                  {244},
                  0,
                  "127.0.20."},
        StagedRun{"FailingFirstWaveStopsTheRest",
                  {{1, "KQ-A2", "KQ-A2.01.02.45", true}, {2}, {3}, {4}},
                  {"--waves", "1,50%,100%", "@1", "@2", "@3", "@4"},
                  {"failed", "not started", "not started", "not started"},
                  {1, 2, 3, 4},
                  {1},
                  1,
                  "127.0.24.",
                  {1}},
        StagedRun{"HalfBudgetLetsAWaveWithOneFailureOfFourGoOn",
                  {{5}, {6, "KQ-A2", "KQ-A2.01.02.45", true}, {7}, {8}, {9}, {10}},
                  {"--waves", "4", "--max-fail-percent", "50", "@5", "@6", "@7", "@8", "@9", "@10"},
                  {"complete", "failed", "complete", "complete", "complete", "complete"},
                  {5, 6, 7, 8, 9, 10},
                  {5, 6, 7, 8, 9, 10},
                  1,
                  "127.0.24.",
                  {1, 1, 1, 1, 2, 2}},
        StagedRun{"NoBudgetStopsAfterOneFailureOfFour",
                  {{11}, {12, "KQ-A2", "KQ-A2.01.02.45", true}, {13}, {14}, {15}, {16}},
                  {"--waves", "4", "@11", "@12", "@13", "@14", "@15", "@16"},
                  {"complete", "failed", "complete", "complete", "not started", "not started"},
                  {11, 12, 13, 14, 15, 16},
                  {11, 12, 13, 14},
                  1,
                  "127.0.24.",
                  {1, 1, 1, 1}},
        // Units not sent the set (other model, current, silent) give their places, are not weighed.
        StagedRun{"BudgetWeighsOnlyTheUnitsSentTheSet",
                  {{60, "KQ-B2"},
                   {61, "KQ-A2", "KQ-A2.01.03.00"},
                   {62, "KQ-A2", "KQ-A2.01.02.45", false, true},
                   {63, "KQ-A2", "KQ-A2.01.02.45", true},
                   {64},
                   {65}},
                  {"--jobs", "1", "--waves", "2,100%", "--max-fail-percent", "50", "--skip-version",
                   "KQ-A2.01.03.00", "@60", "@61", "@62", "@63", "@64", "@65"},
                  {"failed", "current", "failed", "failed", "complete", "complete"},
                  {60, 61, 62, 63, 64, 65},
                  {60, 61, 63, 64, 65},
                  1,
                  "127.0.24.",
                  {1, 1, 1, 1, 1, 2}}),
    [](const auto& info) { return std::string(info.param.name); });

// How far a unit has come by the report: waiting, running, ended.
int Stage(const nlohmann::json& unit) {
    return unit["result"] == "waiting" ? 0 : unit["result"] == "running" ? 1 : 2;
}

// 128 units at once on 127.0.20.100-227, half of them slow to log in and write, then held up
// before the logo, the report given as a symbolic link. Read again and again during the run, no
// unit of the report ever moves back; after kill -9, every unit that logged out more than a second
// before is in it as ended, and every held one with what it had done a second before; --retry-from
// that report runs the held units and no other.
TEST_F(FleetTest, ReportOnlyMovesForwardAndAKillLosesNothingOlderThanASecond) {
    using Clock = std::chrono::steady_clock;
    std::filesystem::remove("kq12.cpu"); // real time: no restart wait
    constexpr int kUnits = 128;
    for (int i = 0; i < kUnits; ++i) {
        sim::UnitConfig config;
        if (i % 2 == 1) { // still at work when the run is killed, long after the others ended
            for (const auto& [command, ms] :
                 {std::pair{"USER", 5000}, {"EXCM u_soft", 1000}, {"EXCM k_Lg", 30000}}) {
                config.faults.push_back(FaultOf(sim::Fault::Trigger::Command, command,
                                                sim::Fault::Action::Delay, "", 0));
                config.faults.back().delayMs = ms;
            }
        }
        AddUnitAt("127.0.20." + std::to_string(100 + i), config);
    }
    std::filesystem::create_directory("reports");
    std::filesystem::create_symlink("reports/report.json", "link.json");
    const pid_t cli =
        StartCli({"update", "--jobs", "256", "--report", "link.json", "127.0.20.100-127.0.20.227"},
                 "run.txt");
    ASSERT_GT(cli, 0);
    std::vector<std::optional<Clock::time_point>> loggedOut(kUnits), held(kUnits);
    std::vector<int> stage(kUnits, 0);
    const auto limit = Clock::now() + std::chrono::seconds(90);
    for (Clock::time_point last;;) {
        for (int i = 0; i < kUnits; ++i) {
            const auto commands = m_units[size_t(i)]->Commands();
            if (!loggedOut[size_t(i)] && !commands.empty() && commands.back() == "QUIT")
                last = *(loggedOut[size_t(i)] = Clock::now());
            if (i % 2 == 1 && !held[size_t(i)] && !commands.empty() &&
                commands.back() == "EXCM k_Lg")
                last = std::max(last, *(held[size_t(i)] = Clock::now()));
        }
        if (std::count(loggedOut.begin(), loggedOut.end(), std::nullopt) == kUnits / 2 &&
            std::count(held.begin(), held.end(), std::nullopt) == kUnits / 2 &&
            Clock::now() - last > std::chrono::milliseconds(1500))
            break;
        const std::string text = ReadTextFile("link.json"); // empty until the first writing
        const auto report = nlohmann::json::parse(text, nullptr, false);
        ASSERT_TRUE(text.empty() || !report.is_discarded()) << "a report is always whole";
        for (int i = 0; i < kUnits && !text.empty(); ++i) {
            const int now = Stage(report["units"][size_t(i)]);
            ASSERT_GE(now, stage[size_t(i)]) << "unit " << i << " moved back";
            stage[size_t(i)] = now;
        }
        ASSERT_LT(Clock::now(), limit) << ReadTextFile("run.txt");
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_EQ(kill(cli, SIGKILL), 0);
    const auto killed = Clock::now();
    ASSERT_EQ(waitpid(cli, nullptr, 0), cli);

    const auto report = nlohmann::json::parse(ReadTextFile("link.json"));
    EXPECT_TRUE(report["end"].is_null());
    for (int i = 0; i < kUnits; ++i) {
        const auto& unit = report["units"][size_t(i)];
        if (loggedOut[size_t(i)] && *loggedOut[size_t(i)] < killed - std::chrono::seconds(1)) {
            EXPECT_EQ(unit["result"], "complete") << i;
        } else if (held[size_t(i)] && *held[size_t(i)] < killed - std::chrono::seconds(1)) {
            EXPECT_EQ(std::tuple(unit["result"], unit["answered"], unit["version_before"],
                                 unit["components_acknowledged"], unit["components"].size()),
                      std::tuple("running", true, "KQ-A2.01.02.45", 4, 4u))
                << unit.dump();
        }
    }
    EXPECT_TRUE(std::filesystem::is_symlink("link.json")) << "the link shows the report";

    for (int i = 1; i < kUnits; i += 2) { // the held units, no longer held
        m_units[size_t(i)].reset();
        AddUnitAt("127.0.20." + std::to_string(100 + i));
    }
    EXPECT_EQ(
        Cli({"update", "--jobs", "256", "--retry-from", "link.json", "--report", "again.json"}), 0);
    const auto again = nlohmann::json::parse(ReadTextFile("again.json"));
    EXPECT_EQ(std::pair(again["units"].size(), again["summary"]["complete"]),
              std::pair(size_t(kUnits / 2), nlohmann::json(kUnits / 2)));
}

TEST_F(FleetTest, ReportThatCannotBeRewrittenMidRunIsSaidAndEndsWithStatusOne) {
    std::filesystem::remove("kq12.cpu");
    for (int n = 45; n < 47; ++n)
        AddUnitAt(OwnAddress(n));
    std::filesystem::create_directory("out");
    const pid_t cli = StartCli(
        {"update", "--jobs", "1", "--report", "out/report.json", OwnAddress(45), OwnAddress(46)},
        "lost.txt");
    ASSERT_GT(cli, 0);
    ASSERT_TRUE(m_units[0]->WaitForCommands(1, std::chrono::seconds(20)));
    // Away at once, though the writer may be putting a file into it just then.
    std::filesystem::rename("out", "gone");
    std::error_code ignored;
    std::filesystem::remove_all("gone", ignored);
    int status = 0;
    ASSERT_EQ(waitpid(cli, &status, 0), cli);
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_NE(ReadTextFile("lost.txt").find("the report cannot be written to"), std::string::npos)
        << ReadTextFile("lost.txt");
}

// The report's folder goes, then the check is interrupted: 130 as in an update, the loss said.
TEST_F(FleetTest, CheckInterruptedAfterItsReportWasLostEndsWith130) {
    sim::UnitConfig slow;
    slow.faults.push_back(
        FaultOf(sim::Fault::Trigger::Command, "EXCM uname", sim::Fault::Action::Delay, "", 0));
    slow.faults.back().delayMs = 1500;
    sim::Unit& unit = AddUnitAt("127.0.24.66", slow);
    std::filesystem::create_directory("out");
    const pid_t cli = StartCli({"check", "--report", "out/report.json", "127.0.24.66"}, "lost.txt");
    ASSERT_TRUE(cli > 0 && unit.WaitForCommands(3, std::chrono::seconds(20)));
    std::filesystem::remove_all("out");
    ASSERT_EQ(kill(cli, SIGINT), 0);
    int status = 0;
    ASSERT_EQ(waitpid(cli, &status, 0), cli);
    EXPECT_EQ(WEXITSTATUS(status), 130) << ReadTextFile("lost.txt");
    EXPECT_NE(ReadTextFile("lost.txt").find("cannot be written to"), std::string::npos);
}

// A lock refused for want of descriptors: a failure of the run with its cause, not a usage error.
TEST_F(FleetTest, ReportLockThatCannotBeTakenIsARunFailureWithItsCause) {
    std::string reason;
    ASSERT_TRUE(testsupport::ClaimUnitAddress("127.0.24.68", &reason)) << reason;
    const std::string program =
        (std::filesystem::read_symlink("/proc/self/exe").parent_path() / "kqvorlink-cli").string();
    // libfiu's preloaded library keeps a string for the life of the process: not ours to free.
    const std::string command = "ASAN_OPTIONS=\"${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0\" "
                                "fiu-run -x -c 'enable name=posix/io/net/socket,failinfo=24' " +
                                program + " check --report report.json 127.0.24.68 > said.txt 2>&1";
    const int status = std::system(command.c_str());
    const std::string said = ReadTextFile("said.txt");
    EXPECT_EQ(WEXITSTATUS(status), 1) << said;
    EXPECT_NE(said.find("the report's lock cannot be taken: Too many open files"),
              std::string::npos)
        << said;
}

// A place that takes the report again (a reader let go of it, a share came back): that write
// clears the failure before it, and the run's report is whole.
TEST_F(FleetTest, ReportWrittenAgainAfterAFailureCountsAsWritten) {
    std::filesystem::create_directory("out");
    cli::ReportFile file("out/report.json");
    std::atomic<int> told{0};
    cli::ReportWriter writer(
        file, [] { return std::string("first"); }, [&](const std::string&) { ++told; });
    std::filesystem::remove_all("out");
    writer.Changed();
    for (int i = 0; i < 250 && told == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_EQ(told, 1);
    std::filesystem::create_directory("out");
    EXPECT_TRUE(writer.Finish());
    EXPECT_EQ(ReadTextFile("out/report.json"), "first");
}

// Real reports of a small fleet (one unit complete, one failing, one current, one that does not
// answer) checked against the schemas in docs/schema with Debian's python3-jsonschema.
struct SchemaRow {
    const char* name;
    int first; // the units are 127.0.11.first to first+3
    std::vector<std::string> args;
    const char* schema;
    std::function<void(nlohmann::json&)> breakReport; // empty: the report as written
    int validatorStatus;
};

void PrintTo(const SchemaRow& row, std::ostream* out) {
    *out << row.name;
}

class ReportSchemaTest : public FleetTest, public ::testing::WithParamInterface<SchemaRow> {};

TEST_P(ReportSchemaTest, ReportMeetsItsSchema) {
    const SchemaRow& row = GetParam();
    AddUnitAt(OwnAddress(row.first));
    sim::UnitConfig refusing;
    refusing.faults.push_back(FaultOf(sim::Fault::Trigger::Command, "EXCM k_Sd",
                                      sim::Fault::Action::Reply, "550 Shading data refused."));
    AddUnitAt(OwnAddress(row.first + 1), refusing);
    sim::UnitConfig current;
    current.versionText = "KQ-A2.01.03.00";
    AddUnitAt(OwnAddress(row.first + 2), current);
    std::vector<std::string> args = row.args;
    args.insert(args.end(), {"--report", "report.json",
                             OwnAddress(row.first) + "-" + OwnAddress(row.first + 3)});
    EXPECT_EQ(Cli(args), 1) << ReadTextFile("cli-output.txt");

    auto report = nlohmann::json::parse(ReadTextFile("report.json"));
    if (row.breakReport) {
        row.breakReport(report);
        WriteTextFile("report.json", report.dump(2));
    }
    EXPECT_EQ(ValidatorStatus(row.schema, "report.json"), row.validatorStatus) << report.dump(2);
}

const std::vector<std::string> kSkipCurrent{"update", "--skip-version", "KQ-A2.01.03.00"};

INSTANTIATE_TEST_SUITE_P(
    Rows, ReportSchemaTest,
    ::testing::Values(
        SchemaRow{"UpdateReport", 50, kSkipCurrent, "update-report.schema.json", {}, 0},
        SchemaRow{"CheckReport", 54, {"check"}, "check-report.schema.json", {}, 0},
        SchemaRow{"UpdateReportWithUnknownResultIsRejected", 58, kSkipCurrent,
                  "update-report.schema.json",
                  [](nlohmann::json& r) { r["units"][1]["result"] = "done"; }, 1},
        SchemaRow{"UnitWithATargetVersionIsRejected", 150, kSkipCurrent,
                  "update-report.schema.json",
                  [](nlohmann::json& r) { r["units"][0]["target_version"] = nullptr; }, 1},
        SchemaRow{"CheckReportOfASchemaNothingWritesIsRejected",
                  154,
                  {"check"},
                  "check-report.schema.json",
                  [](nlohmann::json& r) { r["schema"] = 3; },
                  1}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
