// The fleet's JSON report: staged and resumable runs, a run killed midway, a report that cannot be
// rewritten, and real reports checked against their schemas.

#include "tests/cli/fleet_fixture.h"

namespace {

// Staged and resumable runs on 127.0.11.N: which units ran, and what the report says of each.
struct StagedUnit {
    int n;
    const char* model = "KQ-A2";
    const char* version = "KQ-A2.01.02.45";
};

struct StagedRun {
    const char* name;
    std::vector<StagedUnit> units;
    std::vector<std::string> args;          // "@N" stands for 127.0.11.N
    std::vector<std::string> reportResults; // in the report's order
    std::vector<int> reported;              // the units the report lists, in order
    std::vector<int> contacted;             // the units that received any command
    int status;
};

void PrintTo(const StagedRun& row, std::ostream* out) {
    *out << row.name;
}

class StagedRunTest : public FleetTest, public ::testing::WithParamInterface<StagedRun> {};

TEST_P(StagedRunTest, RunsOnlyTheUnitsItShouldAndReportsTheRest) {
    const StagedRun& row = GetParam();
    std::filesystem::remove("kq12.cpu"); // no restart wait
    std::map<int, sim::Unit*> units;
    for (const StagedUnit& u : row.units) {
        sim::UnitConfig config;
        config.model = u.model;
        config.versionText = u.version;
        units[u.n] = &AddUnitAt(OwnAddress(u.n), config);
    }
    // An earlier run's report, cut off while 127.0.11.23 was running.
    WriteTextFile("earlier.json", R"({"schema": 1, "report": "update", "set": {"model": "KQ-A2"},
        "units": [{"address": "127.0.11.21", "result": "complete"},
                  {"address": "127.0.11.22", "result": "failed"},
                  {"address": "127.0.11.23", "result": "running"},
                  {"address": "127.0.11.24", "result": "not started"},
                  {"address": "127.0.11.25", "result": "current"}]})");
    std::vector<std::string> args{"update", "--report", "report.json"};
    for (const std::string& arg : row.args)
        args.push_back(arg[0] == '@' ? OwnAddress(std::stoi(arg.substr(1))) : arg);
    EXPECT_EQ(Cli(args), row.status) << ReadTextFile("cli-output.txt");

    const auto report = nlohmann::json::parse(ReadTextFile("report.json"));
    ASSERT_EQ(report["units"].size(), row.reported.size()) << report.dump(1);
    for (size_t i = 0; i < row.reported.size(); ++i) {
        EXPECT_EQ(report["units"][i]["address"], OwnAddress(row.reported[i]));
        EXPECT_EQ(report["units"][i]["result"], row.reportResults[i]) << i;
    }
    for (const auto& [n, unit] : units) {
        const bool contacted =
            std::find(row.contacted.begin(), row.contacted.end(), n) != row.contacted.end();
        EXPECT_EQ(!unit->Commands().empty(), contacted) << OwnAddress(n);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, StagedRunTest,
    ::testing::Values(StagedRun{"StopAfterOneFailureStartsNoFurtherUnit",
                                {{11, "KQ-B2"}, {12}, {13}},
                                {"--jobs", "1", "--stop-after-failures", "1", "@11", "@12", "@13"},
                                {"failed", "not started", "not started"},
                                {11, 12, 13},
                                {11},
                                1},
                      StagedRun{
                          "StopAfterTwoFailuresRunsOnUntilTheSecond",
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
                                0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(FleetTest, ReportOfARunKilledMidwayHoldsEveryUnitThatEnded) {
    std::filesystem::remove("kq12.cpu"); // real time: no restart wait
    for (int n = 40; n < 44; ++n) {
        sim::UnitConfig config;
        if (n == 42) { // still at work when the run is killed
            config.faults.push_back(FaultOf(sim::Fault::Trigger::Command, "EXCM u_soft",
                                            sim::Fault::Action::Delay, "", 0));
            config.faults.back().delayMs = 5000;
        }
        AddUnitAt(OwnAddress(n), config);
    }
    const pid_t cli = StartCli(
        {"update", "--jobs", "1", "--report", "report.json", OwnAddress(40) + "-" + OwnAddress(43)},
        "killed.txt");
    ASSERT_GT(cli, 0);
    ASSERT_TRUE(m_units[2]->WaitForCommands(3, std::chrono::seconds(20)));
    ASSERT_EQ(kill(cli, SIGKILL), 0);
    int status = 0;
    ASSERT_EQ(waitpid(cli, &status, 0), cli);

    const auto report = nlohmann::json::parse(ReadTextFile("report.json"), nullptr, false);
    ASSERT_FALSE(report.is_discarded()) << ReadTextFile("report.json");
    EXPECT_TRUE(report["end"].is_null());
    const char* const results[] = {"complete", "complete", "running", "waiting"};
    for (size_t i = 0; i < 4; ++i)
        EXPECT_EQ(report["units"][i]["result"], results[i]) << i;
    EXPECT_EQ(report["summary"]["complete"], 2);
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
    std::filesystem::remove_all("out");
    int status = 0;
    ASSERT_EQ(waitpid(cli, &status, 0), cli);
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_NE(ReadTextFile("lost.txt").find("the report cannot be written to"), std::string::npos)
        << ReadTextFile("lost.txt");
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
    const std::string source = KQ_SOURCE_DIR;
    const std::string command = "/usr/bin/python3 " + source +
                                "/tests/support/validate_report.py " + source + "/docs/schema/" +
                                row.schema + " report.json";
    EXPECT_EQ(WEXITSTATUS(std::system(command.c_str())), row.validatorStatus) << report.dump(2);
}

const std::vector<std::string> kSkipCurrent{"update", "--skip-version", "KQ-A2.01.03.00"};

INSTANTIATE_TEST_SUITE_P(
    Rows, ReportSchemaTest,
    ::testing::Values(
        SchemaRow{"UpdateReport", 50, kSkipCurrent, "update-report.schema.json", {}, 0},
        SchemaRow{"CheckReport", 54, {"check"}, "check-report.schema.json", {}, 0},
        SchemaRow{"UpdateReportWithUnknownResultIsRejected", 58, kSkipCurrent,
                  "update-report.schema.json",
                  [](nlohmann::json& r) { r["units"][1]["result"] = "done"; }, 1}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
