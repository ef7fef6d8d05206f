// What the fleet front end takes on its command line: argument rows that are usage errors and send
// nothing, the UNIT lists, and one mark per option of check and update.

#include "cli/report_file.h"
#include "tests/cli/fleet_fixture.h"

namespace {

// Argument rows: what is wrong, and that nothing was sent (every path is checked before any
// unit is contacted).
struct BadArguments {
    const char* name;
    std::vector<std::string> args;
    const char* named;        // the error names this
    std::string unit;         // the unit that must receive nothing
    bool reportTaken = false; // another run holds report.json
};

void PrintTo(const BadArguments& row, std::ostream* out) {
    *out << row.name;
}

class FleetArgumentsTest : public FleetTest, public ::testing::WithParamInterface<BadArguments> {};

TEST_P(FleetArgumentsTest, UsageErrorNamesTheArgumentAndSendsNothing) {
    sim::Unit& unit = AddUnitAt(GetParam().unit);
    WriteTextFile("units.txt", GetParam().unit + "\n# a comment\n127.0.3.999\n");
    std::filesystem::create_directory("empty-set");
    WriteTextFile("b2-report.json", R"({"schema": 1, "report": "update", "set": {"model": "KQ-B2"},
        "units": [{"address": "127.0.11.9", "result": "failed"}]})");
    WriteTextFile("schema9.json", R"({"schema": 9, "report": "update", "set": {"model": "KQ-A2"},
        "units": [{"address": "127.0.20.250", "result": "failed"}]})");
    WriteTextFile("odd-word.json", R"({"schema": 1, "report": "update", "set": {"model": "KQ-A2"},
        "units": [{"address": "127.0.20.251", "result": "Complete"}]})");
    cli::ReportFile other("report.json");
    if (GetParam().reportTaken) {
        ASSERT_EQ(other.Claim().why, "");
    }
    WriteTextFile("summary.txt", "127.0.11.10     failed  Error : Device Type Wrong.\n");
    EXPECT_EQ(Cli(GetParam().args), 2);
    EXPECT_NE(ReadTextFile("cli-errors.txt").find(GetParam().named), std::string::npos)
        << ReadTextFile("cli-errors.txt");
    EXPECT_TRUE(unit.Commands().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Rows, FleetArgumentsTest,
    ::testing::Values(
        BadArguments{"AddressPartAbove255",
                     {"update", "127.0.11.61", "127.0.3.256"},
                     "'127.0.3.256'",
                     "127.0.11.61"},
        BadArguments{
            "ThreePartAddress", {"update", "127.0.11.62", "127.0.3"}, "'127.0.3'", "127.0.11.62"},
        BadArguments{"RangeBackwards",
                     {"check", "127.0.11.63", "127.0.3.9-127.0.3.1"},
                     "ends before it starts",
                     "127.0.11.63"},
        BadArguments{"BadLineInUnitFile", {"update", "@units.txt"}, "line 3", "127.0.11.64"},
        BadArguments{"MissingUnitFile",
                     {"update", "127.0.11.65", "@missing.txt"},
                     "'@missing.txt'",
                     "127.0.11.65"},
        BadArguments{"NoJobs", {"update", "--jobs", "0", "127.0.11.66"}, "--jobs", "127.0.11.66"},
        BadArguments{
            "TooManyJobs", {"update", "--jobs", "257", "127.0.11.67"}, "--jobs", "127.0.11.67"},
        BadArguments{"MissingSetFolder",
                     {"update", "--set", "no-such-folder", "127.0.11.68"},
                     "--set",
                     "127.0.11.68"},
        BadArguments{"NoUnits", {"update"}, "UNIT", "127.0.11.69"},
        BadArguments{"UnknownCommand", {"reset", "127.0.11.70"}, "reset", "127.0.11.70"},
        BadArguments{"ReportFolderMissing",
                     {"update", "--report", "no-such-folder/report.json", "127.0.11.1"},
                     "report.json': the report cannot be written: No such file or directory",
                     "127.0.11.1"},
        BadArguments{"ReportFolderIsAFile",
                     {"update", "--report", "units.txt/report.json", "127.0.11.2"},
                     "--report",
                     "127.0.11.2"},
        BadArguments{"CheckReportFolderMissing",
                     {"check", "--report", "no-such-folder/report.json", "127.0.11.3"},
                     "--report",
                     "127.0.11.3"},
        BadArguments{"LogFolderNotWritable",
                     {"update", "--log-dir", "/proc", "127.0.11.4"},
                     "--log-dir '/proc'",
                     "127.0.11.4"},
        BadArguments{"SetWithoutComponentFiles",
                     {"update", "--set", "empty-set", "127.0.11.5"},
                     "no component files in empty-set",
                     "127.0.11.5"},
        BadArguments{"StopAfterNoFailures",
                     {"update", "--stop-after-failures", "0", "127.0.11.6"},
                     "--stop-after-failures: must be 1 or more",
                     "127.0.11.6"},
        BadArguments{"RetryFromMissingReport",
                     {"update", "--retry-from", "missing.json", "127.0.11.7"},
                     "cannot be read: No such file or directory",
                     "127.0.11.7"},
        BadArguments{"RetryFromHumanSummary",
                     {"update", "--retry-from", "summary.txt", "127.0.11.10"},
                     "is no JSON report",
                     "127.0.11.10"},
        BadArguments{"RetryFromOtherModelsReport",
                     {"update", "--retry-from", "b2-report.json"},
                     "model KQ-B2",
                     "127.0.11.9"},
        BadArguments{"RetryFromUnknownSchema",
                     {"update", "--retry-from", "schema9.json"},
                     "schema9.json' has schema 9",
                     "127.0.20.250"},
        BadArguments{"RetryFromUnknownResultWord",
                     {"update", "--retry-from", "odd-word.json"},
                     "the result 'Complete'",
                     "127.0.20.251"},
        BadArguments{"ReportThatAnotherRunWrites",
                     {"update", "--report", "report.json", "127.0.20.252"},
                     "report.json': another run is writing this report",
                     "127.0.20.252",
                     true},
        BadArguments{"CheckReportThatAnotherRunWrites",
                     {"check", "--report", "report.json", "127.0.20.253"},
                     "report.json': another run is writing this report",
                     "127.0.20.253",
                     true},
        BadArguments{"TargetVersionEmpty",
                     {"update", "--target-version", " ", "127.0.23.20"},
                     "--target-version needs a version text",
                     "127.0.23.20"},
        BadArguments{"SkipVersionOtherThanTarget",
                     {"update", "--skip-version", "A", "--target-version", "B", "127.0.23.21"},
                     "differ",
                     "127.0.23.21"},
        BadArguments{"BudgetWithoutWaves",
                     {"update", "--max-fail-percent", "10", "127.0.23.22"},
                     "--waves",
                     "127.0.23.22"},
        BadArguments{"BudgetWithAnEmptyWaveList",
                     {"update", "--waves", "", "--max-fail-percent", "0", "127.0.23.61"},
                     "--max-fail-percent needs a list of waves",
                     "127.0.23.61"}),
    [](const auto& info) { return std::string(info.param.name); });

struct GoodUnits {
    const char* name;
    std::vector<std::string> args;
    std::vector<std::string> addresses;
};

void PrintTo(const GoodUnits& row, std::ostream* out) {
    *out << row.name;
}

class UnitListTest : public ::testing::TestWithParam<GoodUnits> {};

TEST_P(UnitListTest, ExpandsRangesAndFilesInOrderEachOnce) {
    const auto files = [](const std::string& path) -> std::optional<std::string> {
        if (path == "list")
            return "127.0.3.7 # the truck\n\n  127.0.3.1-127.0.3.2\r\n";
        return std::nullopt;
    };
    const cli::UnitList list = cli::ParseUnits(GetParam().args, files);
    EXPECT_EQ(list.error, "");
    EXPECT_EQ(list.addresses, GetParam().addresses);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, UnitListTest,
    ::testing::Values(GoodUnits{"OneAddress", {"127.0.3.1"}, {"127.0.3.1"}},
                      GoodUnits{"RangeAcrossTheThirdPart",
                                {"127.0.3.254-127.0.4.1"},
                                {"127.0.3.254", "127.0.3.255", "127.0.4.0", "127.0.4.1"}},
                      GoodUnits{"RepeatedAddressOnce",
                                {"127.0.3.5", "127.0.3.4-127.0.3.5"},
                                {"127.0.3.5", "127.0.3.4"}},
                      GoodUnits{"FileThenAddress",
                                {"@list", "127.0.3.7"},
                                {"127.0.3.7", "127.0.3.1", "127.0.3.2"}},
                      GoodUnits{"LeadingZeros", {"127.000.003.010"}, {"127.0.3.10"}}),
    [](const auto& info) { return std::string(info.param.name); });

// Each option of check and update leaves a mark that only that option makes: an option read
// but not acted on fails its row. The set lies in "set" (without a CPU program, so no restart
// wait); the program starts in a folder with nothing in it.
struct OptionRow {
    const char* name;
    int first;                     // units on 127.0.14.<first> and the next address: A and B
    std::vector<std::string> args; // A, B, A-B: the units; @units: a file naming both
    uint32_t slowMs;               // every unit answers "EXCM r_INF" this late (real time)
    int status;
    double minSeconds;              // the run takes at least this long
    int unitsServed;                // how many of A and B were talked to
    std::vector<std::string> exist; // files there afterwards (LOG-A: unit A's log file name)
    std::vector<std::string> absent;
    const char* printed; // the output holds this
};

void PrintTo(const OptionRow& row, std::ostream* out) {
    *out << row.name;
}

class FleetOptionTest : public FleetTest, public ::testing::WithParamInterface<OptionRow> {};

TEST_P(FleetOptionTest, EachOptionLeavesItsMark) {
    const OptionRow& row = GetParam();
    std::filesystem::create_directories("set");
    std::filesystem::create_directories("logs");
    for (const char* name : {"FPGA5M.bin", "oemindex.htm", "index.html", "shade.sdt", "LOGO.bmp"})
        std::filesystem::rename(name, std::string("set/") + name);
    std::filesystem::remove("kq12.cpu");
    const std::string a = "127.0.14." + std::to_string(row.first);
    const std::string b = "127.0.14." + std::to_string(row.first + 1);
    WriteTextFile("units", a + "\n" + b + "\n");
    std::vector<sim::Unit*> units;
    for (const std::string& address : {a, b}) {
        sim::UnitConfig config;
        config.faults.push_back(
            FaultOf(sim::Fault::Trigger::Command, "EXCM r_INF", sim::Fault::Action::Delay));
        config.faults.back().delayMs = row.slowMs;
        units.push_back(&AddUnitAt(address, config));
    }
    const auto named = [&](std::string text) {
        text = std::regex_replace(text, std::regex("LOG-A"), "KQVorlink-" + a + ".log");
        return text == "A-B" ? a + "-" + b : text == "A" ? a : text == "B" ? b : text;
    };
    std::vector<std::string> args;
    for (const std::string& arg : row.args)
        args.push_back(named(arg));

    const auto begin = std::chrono::steady_clock::now();
    EXPECT_EQ(Cli(args), row.status) << ReadTextFile("cli-output.txt");
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();

    EXPECT_GE(seconds, row.minSeconds);
    EXPECT_EQ(int(!units[0]->Commands().empty()) + int(!units[1]->Commands().empty()),
              row.unitsServed);
    for (const std::string& file : row.exist)
        EXPECT_TRUE(std::filesystem::exists(named(file))) << named(file);
    for (const std::string& file : row.absent)
        EXPECT_FALSE(std::filesystem::exists(named(file))) << named(file);
    EXPECT_NE(ReadTextFile("cli-output.txt").find(row.printed), std::string::npos)
        << ReadTextFile("cli-output.txt");
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Rows, FleetOptionTest,
    ::testing::Values(
        OptionRow{"UpdateReadsTheSetFolder", 1, {"update", "--set", "set", "A"}, 0, 0, 0, 1, {}, {},
                  "LOGO.bmp"},
        OptionRow{"UpdateOneJobAtATime", 3, {"update", "--set", "set", "--jobs", "1", "A", "B"},
                  600, 0, 1.2, 2, {}, {}, "complete"},
        OptionRow{"UpdateWritesTheReport", 5, {"update", "--set", "set", "--report", "r.json", "A"},
                  0, 0, 0, 1, {"r.json"}, {}, "complete"},
        OptionRow{"UpdateLogsIntoTheLogFolder", 7,
                  {"update", "--set", "set", "--log-dir", "logs", "--keep-logs", "A"}, 0, 0, 0, 1,
                  {"logs/LOG-A"}, {"set/LOG-A"}, "complete"},
        OptionRow{"UpdateKeepsTheLogOfACompleteUnit", 9,
                  {"update", "--set", "set", "--keep-logs", "A"}, 0, 0, 0, 1, {"set/LOG-A"}, {},
                  "complete"},
        OptionRow{"UpdateEveryUnitOfARange", 11, {"update", "--set", "set", "A-B"}, 0, 0, 0, 2,
                  {}, {}, "complete"},
        OptionRow{"UpdateEveryUnitOfAFile", 13, {"update", "--set", "set", "@units"}, 0, 0, 0, 2,
                  {}, {}, "complete"},
        OptionRow{"CheckReadsTheSetFolder", 15, {"check", "--set", "set", "A"}, 0, 0, 0, 1, {}, {},
                  "LOGO.bmp"},
        OptionRow{"CheckOneJobAtATime", 17, {"check", "--set", "set", "--jobs", "1", "A", "B"},
                  600, 0, 1.2, 2, {}, {}, "matches the set"}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

} // namespace
