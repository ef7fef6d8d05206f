// The fleet front end against simulated units on 127.0.3.N: the same bytes as the dialog's run,
// a fleet with failing units, one update per unit at a time, an interrupt, a skipped unit.

#include "tests/cli/fleet_fixture.h"

namespace {

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

} // namespace
