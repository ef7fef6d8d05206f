// The fleet front end against simulated units on 127.0.3.N: the same bytes as the dialog's run,
// a fleet with failing units, the JSON report and exit status, and the UNIT arguments.

#include "cli/commands.h"
#include "cli/unit_list.h"
#include "platform/process.h"
#include "update/unit_lock.h"

#include "run_test_support.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <regex>
#include <sys/wait.h>
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
        config.address = FleetAddress(n);
        config.storeDir = (m_folder->Path() / ("store-" + std::to_string(n))).string();
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

// Argument rows: what is wrong, and that nothing was sent. "UNIT" in the arguments stands for
// the row's own unit, which the list file names too.
struct BadArguments {
    const char* name;
    int unit; // 127.0.3.<unit>, one per row (rows run in parallel)
    std::vector<std::string> args;
    const char* named; // the error names this
};

void PrintTo(const BadArguments& row, std::ostream* out) {
    *out << row.name;
}

class FleetArgumentsTest : public FleetTest, public ::testing::WithParamInterface<BadArguments> {};

TEST_P(FleetArgumentsTest, UsageErrorNamesTheArgumentAndSendsNothing) {
    const BadArguments& row = GetParam();
    sim::Unit& unit = AddUnit(row.unit);
    WriteTextFile("units.txt", FleetAddress(row.unit) + "\n# a comment\n127.0.3.999\n");
    std::vector<std::string> args = row.args;
    std::replace(args.begin(), args.end(), std::string("UNIT"), FleetAddress(row.unit));
    EXPECT_EQ(Cli(args), 2);
    EXPECT_NE(ReadTextFile("cli-errors.txt").find(row.named), std::string::npos)
        << ReadTextFile("cli-errors.txt");
    EXPECT_TRUE(unit.Commands().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Rows, FleetArgumentsTest,
    ::testing::Values(
        BadArguments{"PartAbove255", 60, {"update", "UNIT", "127.0.3.256"}, "'127.0.3.256'"},
        BadArguments{"ThreeParts", 61, {"update", "UNIT", "127.0.3"}, "'127.0.3'"},
        BadArguments{"RangeEndsBeforeItStarts",
                     62,
                     {"check", "UNIT", "127.0.3.9-127.0.3.1"},
                     "ends before it starts"},
        BadArguments{"BadLineInUnitFile", 63, {"update", "@units.txt"}, "line 3"},
        BadArguments{"MissingUnitFile", 64, {"update", "@missing.txt"}, "'@missing.txt'"},
        BadArguments{"NoJobs", 65, {"update", "--jobs", "0", "UNIT"}, "--jobs"},
        BadArguments{"TooManyJobs", 66, {"update", "--jobs", "257", "UNIT"}, "--jobs"},
        BadArguments{
            "MissingSetFolder", 67, {"update", "--set", "no-such-folder", "UNIT"}, "--set"},
        BadArguments{"NoUnit", 68, {"update"}, "UNIT"},
        BadArguments{"UnknownCommand", 69, {"reset", "UNIT"}, "reset"}),
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

// Starts kqvorlink-cli as a process of its own (real time), output into a file.
pid_t StartCli(const std::vector<std::string>& args, const std::string& output) {
    const std::string program =
        (std::filesystem::read_symlink("/proc/self/exe").parent_path() / "kqvorlink-cli").string();
    std::vector<std::string> all{program};
    all.insert(all.end(), args.begin(), args.end());
    const pid_t pid = fork();
    if (pid == 0) {
        std::FILE* out = std::freopen(output.c_str(), "w", stdout);
        (void)out;
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

} // namespace
