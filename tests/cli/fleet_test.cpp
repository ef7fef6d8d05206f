// The fleet front end against simulated units on 127.0.3.N: the same bytes as the dialog's run,
// a fleet with failing units, the JSON report and exit status, and the UNIT arguments.

#include "cli/commands.h"
#include "cli/unit_list.h"
#include "platform/process.h"
#include "update/unit_lock.h"

#include "tests/support/run_test_support.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <regex>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

std::string FleetAddress(int n) {
    return "127.0.3." + std::to_string(n);
}

// A small set with every kind of step: a CPU program, single files and lists.
void WriteSet() {
    WriteBytes("kq12.cpu", PatternBytes(3000, 1));
    WriteBytes("FPGA5M.bin", PatternBytes(70000, 2));
    WriteBytes("oemindex.htm", PatternBytes(900, 3));
    WriteBytes("index.html", PatternBytes(800, 4));
    WriteBytes("shade.sdt", PatternBytes(1200, 5));
    WriteBytes("LOGO.bmp", PatternBytes(500, 6));
}

// Runs kqvorlink-cli in this process; its printed output goes to a file of the folder.
int Cli(std::vector<std::string> args) {
    args.insert(args.begin(), "kqvorlink-cli");
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    std::FILE* out = std::fopen("cli-output.txt", "w");
    std::FILE* err = std::fopen("cli-errors.txt", "w");
    const auto cwd = std::filesystem::current_path();
    const int status = cli::RunCli(int(argv.size()), argv.data(), out, err);
    std::filesystem::current_path(cwd); // the program changes to the set's folder
    std::fclose(out);
    std::fclose(err);
    return status;
}

// What the unit received, with the data port of each PORT command left out.
std::vector<std::string> CommandsWithoutPorts(const sim::Unit& unit) {
    std::vector<std::string> out;
    for (const std::string& command : unit.Commands())
        out.push_back(std::regex_replace(command, std::regex(R"(^PORT (\d+,\d+,\d+,\d+),\d+,\d+$)"),
                                         "PORT $1,p,p"));
    return out;
}

class FleetTest : public RunTest {
  protected:
    void SetUp() override {
        RunTest::SetUp();
        WriteSet();
    }
    void TearDown() override {
        m_units.clear();
        RunTest::TearDown();
    }

    sim::Unit& AddUnit(int n, sim::UnitConfig config = {}) {
        return AddUnitAt(FleetAddress(n), std::move(config));
    }
    sim::Unit& AddUnitAt(const std::string& address, sim::UnitConfig config = {}) {
        config.address = address;
        config.storeDir = (m_folder->Path() / ("store-" + address)).string();
        config.restartRefuseMs = 50;
        std::filesystem::create_directories(config.storeDir);
        m_units.push_back(std::make_unique<sim::Unit>(config));
        EXPECT_TRUE(m_units.back()->Start()) << m_units.back()->Error();
        return *m_units.back();
    }

    // Every file of the set arrived byte for byte.
    static void ExpectWholeSet(const sim::Unit& unit) {
        std::map<std::string, std::vector<uint8_t>> got;
        for (const sim::StoredUpload& upload : unit.Uploads()) {
            EXPECT_EQ(upload.problem, "") << upload.storName;
            got[upload.storName] = upload.content;
        }
        for (const char* name :
             {"kq12.cpu", "FPGA5M.bin", "oemindex.htm", "index.html", "shade.sdt", "LOGO.bmp"})
            EXPECT_EQ(got[name], ReadBytes(name)) << name;
    }

    std::vector<std::unique_ptr<sim::Unit>> m_units;
};

TEST_F(FleetTest, OneUnitReceivesTheSameCommandsAndRecordsFromTheCliAsFromTheDialog) {
    sim::Unit& viaDialog = AddUnit(1);
    Open();
    TypeAddress("127", "0", "3", "1");
    ASSERT_EQ(PressUpdate(), RunEnd::Complete);

    sim::Unit& viaCli = AddUnit(2);
    ASSERT_EQ(Cli({"update", FleetAddress(2)}), 0) << ReadTextFile("cli-output.txt");

    EXPECT_EQ(CommandsWithoutPorts(viaCli), CommandsWithoutPorts(viaDialog));
    const auto a = viaDialog.Uploads(), b = viaCli.Uploads();
    ASSERT_EQ(a.size(), b.size());
    for (size_t i = 0; i < a.size(); ++i) {
        EXPECT_EQ(b[i].storName, a[i].storName);
        EXPECT_EQ(b[i].selector, a[i].selector);
        EXPECT_EQ(b[i].hasHeader, a[i].hasHeader);
        EXPECT_EQ(b[i].headerName, a[i].headerName);
        EXPECT_EQ(b[i].headerKind, a[i].headerKind);
        EXPECT_EQ(b[i].content, a[i].content) << a[i].storName;
    }
    ExpectWholeSet(viaCli);
}

// How two of sixteen units fail, and what their outcome says.
struct FailingUnit {
    int n;
    const char* model;
    const char* refusedCommand; // null: none
    const char* message;
    const char* kind;
};

TEST_F(FleetTest, FleetOfSixteenCompletesFourteenAndReportsTheTwoThatFailed) {
    const FailingUnit failing[] = {
        {25, "KQ-B2", nullptr, "Error : Device Type Wrong.", "stop"},
        {27, "KQ-A2", "EXCM k_Sd", "550 Shading data refused.\r\n", "warning"},
    };
    std::map<int, const FailingUnit*> failingByN;
    for (const FailingUnit& f : failing)
        failingByN[f.n] = &f;
    for (int n = 20; n < 36; ++n) {
        sim::UnitConfig config;
        if (const auto it = failingByN.find(n); it != failingByN.end()) {
            config.model = it->second->model;
            if (it->second->refusedCommand) {
                config.faults.push_back(
                    FaultOf(sim::Fault::Trigger::Command, it->second->refusedCommand,
                            sim::Fault::Action::Reply, "550 Shading data refused."));
            }
        }
        AddUnit(n, config);
    }

    const auto begin = std::chrono::steady_clock::now();
    const int status = Cli({"update", "--report", "report.json", "--jobs", "16",
                            FleetAddress(20) + "-" + FleetAddress(35)});
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    EXPECT_EQ(status, 1) << ReadTextFile("cli-output.txt");

    const auto report = nlohmann::json::parse(ReadTextFile("report.json"));
    ASSERT_EQ(report["units"].size(), 16u);
    EXPECT_EQ(report["summary"]["complete"], 14);
    EXPECT_EQ(report["summary"]["failed"], 2);
    for (int n = 20; n < 36; ++n) {
        const auto& unit = report["units"][size_t(n - 20)];
        EXPECT_EQ(unit["address"], FleetAddress(n));
        const std::string log = "KQVorlink-" + FleetAddress(n) + ".log";
        if (const auto it = failingByN.find(n); it != failingByN.end()) {
            EXPECT_EQ(unit["result"], "failed") << n;
            EXPECT_EQ(unit["message"], it->second->message) << n;
            EXPECT_EQ(unit["message_kind"], it->second->kind) << n;
            EXPECT_TRUE(std::filesystem::exists(log)) << "a failed unit keeps its log";
        } else {
            EXPECT_EQ(unit["result"], "complete") << n;
            EXPECT_EQ(unit["message"], "Update Complete.");
            EXPECT_EQ(unit["version_before"], "KQ-A2.01.02.45");
            EXPECT_EQ(unit["components"].size(), 6u);
            EXPECT_EQ(unit["cpu_passes"], 1);
            EXPECT_FALSE(std::filesystem::exists(log)) << "a complete unit's log is deleted";
            ExpectWholeSet(*m_units[size_t(n - 20)]);
        }
    }
    // Sixteen at once take about as long as one: each run waits out a CPU restart.
    EXPECT_LT(seconds, 30.0);
    const std::string output = ReadTextFile("cli-output.txt");
    EXPECT_EQ(output.find('\x1b'), std::string::npos) << "no control sequences into a file";
}

// Argument rows: what is wrong, and that nothing was sent (every path is checked before any
// unit is contacted).
struct BadArguments {
    const char* name;
    std::vector<std::string> args;
    const char* named; // the error names this
    std::string unit;  // the unit that must receive nothing
};

void PrintTo(const BadArguments& row, std::ostream* out) {
    *out << row.name;
}

class FleetArgumentsTest : public FleetTest, public ::testing::WithParamInterface<BadArguments> {};

TEST_P(FleetArgumentsTest, UsageErrorNamesTheArgumentAndSendsNothing) {
    sim::Unit& unit = AddUnitAt(GetParam().unit);
    WriteTextFile("units.txt", GetParam().unit + "\n# a comment\n127.0.3.999\n");
    std::filesystem::create_directory("empty-set");
    WriteTextFile("b2-report.json", R"({"report": "update", "set": {"model": "KQ-B2"},
        "units": [{"address": "127.0.11.9", "result": "failed"}]})");
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
                     "--report",
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
                     "--stop-after-failures",
                     "127.0.11.6"},
        BadArguments{"RetryFromMissingReport",
                     {"update", "--retry-from", "missing.json", "127.0.11.7"},
                     "cannot be read",
                     "127.0.11.7"},
        BadArguments{"RetryFromHumanSummary",
                     {"update", "--retry-from", "summary.txt", "127.0.11.10"},
                     "is no JSON report",
                     "127.0.11.10"},
        BadArguments{"RetryFromOtherModelsReport",
                     {"update", "--retry-from", "b2-report.json"},
                     "model KQ-B2",
                     "127.0.11.9"}),
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

TEST_F(FleetTest, SecondProcessIsRefusedTheUnitThatAnotherRunIsUpdating) {
    std::filesystem::remove("kq12.cpu"); // the other process runs in real time: no restart wait
    sim::Unit& unit = AddUnit(45);
    AddUnit(46);
    // Held as a running update of 127.0.3.45 holds it, by this process.
    platform::SingleInstanceLock busy;
    ASSERT_EQ(busy.Acquire(UnitLockName(FleetAddress(45)).c_str()),
              platform::SingleInstanceLock::Result::Acquired);
    const std::string program =
        (std::filesystem::read_symlink("/proc/self/exe").parent_path() / "kqvorlink-cli").string();
    const std::string command = program + " update --report report.json " + FleetAddress(45) + " " +
                                FleetAddress(46) + " > second.txt 2>&1";
    const int status = std::system(command.c_str());
    EXPECT_EQ(WEXITSTATUS(status), 1) << ReadTextFile("second.txt");
    const auto report = nlohmann::json::parse(ReadTextFile("report.json"));
    EXPECT_EQ(report["units"][0]["result"], "failed");
    EXPECT_EQ(report["units"][0]["message"], UnitBusyText(FleetAddress(45)));
    EXPECT_EQ(report["units"][1]["result"], "complete") << "only that unit is refused";
    EXPECT_TRUE(unit.Commands().empty());
}

// Starts kqvorlink-cli as a process of its own (real time), output and errors into a file.
pid_t StartCli(const std::vector<std::string>& args, const std::string& output) {
    const std::string program =
        (std::filesystem::read_symlink("/proc/self/exe").parent_path() / "kqvorlink-cli").string();
    std::vector<std::string> all{program};
    all.insert(all.end(), args.begin(), args.end());
    const pid_t pid = fork();
    if (pid == 0) {
        std::FILE* out = std::freopen(output.c_str(), "w", stdout);
        if (out)
            dup2(fileno(out), STDERR_FILENO);
        std::vector<char*> argv;
        for (std::string& arg : all)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    return pid;
}

TEST_F(FleetTest, InterruptLetsRunningUnitsFinishAndStartsNoOther) {
    std::filesystem::remove("kq12.cpu"); // real time: no restart wait
    for (int n = 50; n < 56; ++n) {
        sim::UnitConfig config;
        // Long enough a run that the interrupt surely finds the first two at work.
        config.faults.push_back(
            FaultOf(sim::Fault::Trigger::Command, "EXCM u_soft", sim::Fault::Action::Delay, "", 0));
        config.faults.back().delayMs = 400;
        AddUnit(n, config);
    }
    const pid_t cli = StartCli({"update", "--jobs", "2", "--report", "report.json",
                                FleetAddress(50) + "-" + FleetAddress(55)},
                               "interrupted.txt");
    ASSERT_GT(cli, 0);
    ASSERT_TRUE(m_units[0]->WaitForCommands(3, std::chrono::seconds(20)));
    ASSERT_EQ(kill(cli, SIGINT), 0);
    int status = 0;
    ASSERT_EQ(waitpid(cli, &status, 0), cli);
    EXPECT_EQ(WEXITSTATUS(status), 1);

    const std::string output = ReadTextFile("interrupted.txt");
    EXPECT_NE(output.find("Cannot be ended during download processing. 2 running unit(s) will "
                          "finish; 4 unit(s) will not be started."),
              std::string::npos)
        << output;
    const auto report = nlohmann::json::parse(ReadTextFile("report.json"));
    for (int n = 50; n < 56; ++n) {
        const bool ran = n < 52;
        EXPECT_EQ(report["units"][size_t(n - 50)]["result"], ran ? "complete" : "not started");
        EXPECT_EQ(m_units[size_t(n - 50)]->Commands().empty(), !ran) << n;
    }
    ExpectWholeSet(*m_units[0]);
}

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

std::string OwnAddress(int n) {
    return "127.0.11." + std::to_string(n);
}

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

TEST_F(FleetTest, SkippedUnitIsOnlyIdentifiedAndLoggedOut) {
    std::filesystem::remove("kq12.cpu");
    sim::UnitConfig config;
    config.versionText = "KQ-A2.01.03.00";
    sim::Unit& unit = AddUnitAt(OwnAddress(30), config);
    ASSERT_EQ(Cli({"update", "--skip-version", "KQ-A2.01.03.00", "--report", "report.json",
                   OwnAddress(30)}),
              0);
    EXPECT_EQ(unit.Commands(), (std::vector<std::string>{"USER anonymous", "PASS", "EXCM r_INF",
                                                         "EXCM uname", "QUIT"}));
    const auto report = nlohmann::json::parse(ReadTextFile("report.json"));
    const auto& row = report["units"][0];
    EXPECT_EQ(row["version_before"], "KQ-A2.01.03.00");
    EXPECT_EQ(row["components"].size(), 0u);
    EXPECT_EQ(report["summary"]["current"], 1);
}

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
