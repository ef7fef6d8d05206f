// The fleet front end against simulated units on 127.0.3.N: the same bytes as the dialog's run,
// a fleet with failing units, one update per unit at a time, a skipped unit.

#include "tests/cli/fleet_fixture.h"

#include <fcntl.h>
#include <set>
#include <sstream>

namespace {

TEST_F(FleetTest, OneUnitReceivesTheSameCommandsAndRecordsFromTheCliAsFromTheDialog) {
    sim::Unit& viaDialog = AddUnit(1);
    Open();
    TypeAddress("127", "0", "3", "1");
    ASSERT_EQ(PressUpdate(), RunEnd::Complete);

    sim::Unit& viaCli = AddUnit(2);
    ASSERT_EQ(Cli({"update", FleetAddress(2)}), 0) << ReadTextFile("cli-output.txt");

    // The same run, then the look at the version the unit runs now (the set has a CPU program).
    std::vector<std::string> expected = CommandsWithoutPorts(viaDialog);
    expected.insert(expected.end(), {"USER anonymous", "PASS", "EXCM r_INF", "EXCM uname", "QUIT"});
    EXPECT_EQ(CommandsWithoutPorts(viaCli), expected);
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

// How three of sixteen units fail, what their outcome says and what they took.
struct FailingUnit {
    int n;
    const char* model;
    const char* refusedCommand; // null: none
    const char* message;
    const char* kind;
    size_t components; // written
    int acknowledged;  // components whose every upload was acknowledged, written or not
    int cpuPasses;
};

TEST_F(FleetTest, FleetOfSixteenCompletesTwelveAndReportsTheFourThatFailed) {
    // Web 1 Data of two files (index.html, then photo.jpg).
    WriteBytes("photo.jpg", PatternBytes(600, 7));
    const FailingUnit failing[] = {
        {25, "KQ-B2", nullptr, "Error : Device Type Wrong.", "stop", 0, 0, 0},
        {27, "KQ-A2", "EXCM k_Sd", "550 Shading data refused.", "warning", 5, 4, 1},
        // The first write of a file component (the 5M FPGA program, after the CPU program).
        {29, "KQ-A2", "EXCM u_soft", "550 Not written.", "warning", 1, 2, 1},
        // The second file of the fourth component: that component is not acknowledged.
        {31, "KQ-A2", "STOR  photo.jpg", "550 photo.jpg: cannot store.", "warning", 3, 3, 1},
    };
    std::map<int, const FailingUnit*> failingByN;
    for (const FailingUnit& f : failing)
        failingByN[f.n] = &f;
    for (int n = 20; n < 36; ++n) {
        sim::UnitConfig config;
        if (const auto it = failingByN.find(n); it != failingByN.end()) {
            config.model = it->second->model;
            if (it->second->refusedCommand) {
                const bool upload = std::string(it->second->refusedCommand).rfind("STOR", 0) == 0;
                config.faults.push_back(
                    FaultOf(sim::Fault::Trigger::Command, it->second->refusedCommand,
                            upload ? sim::Fault::Action::NoConnect : sim::Fault::Action::Reply,
                            it->second->message));
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
    EXPECT_EQ(report["summary"]["complete"], 12);
    EXPECT_EQ(report["summary"]["failed"], 4);
    for (int n = 20; n < 36; ++n) {
        const auto& unit = report["units"][size_t(n - 20)];
        EXPECT_EQ(unit["address"], FleetAddress(n));
        const std::string log = "KQVorlink-" + FleetAddress(n) + ".log";
        if (const auto it = failingByN.find(n); it != failingByN.end()) {
            EXPECT_EQ(unit["result"], "failed") << n;
            EXPECT_EQ(unit["message"], it->second->message) << n;
            EXPECT_EQ(unit["message_kind"], it->second->kind) << n;
            EXPECT_EQ(unit["components"].size(), it->second->components) << n;
            EXPECT_EQ(unit["components_acknowledged"], it->second->acknowledged) << n;
            EXPECT_EQ(unit["cpu_passes"], it->second->cpuPasses) << n;
            EXPECT_TRUE(std::filesystem::exists(log)) << "a failed unit keeps its log";
        } else {
            EXPECT_EQ(unit["result"], "complete") << n;
            EXPECT_EQ(unit["message"], "Update Complete.");
            EXPECT_EQ(unit["version_before"], "KQ-A2.01.02.45");
            EXPECT_EQ(unit["components"].size(), 7u); // a row for each file
            EXPECT_EQ(unit["components_acknowledged"], 6);
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

// What a run holds (sockets, unit locks, logs, the report) stays its own: the stand-in "ip" of
// the cached-address clean-up writes down its own descriptors and this process's with their
// flags; the child holds none, and every one of the run's is close-on-exec.
TEST_F(FleetTest, ChildrenOfARunHoldNoneOfItsDescriptors) {
    std::filesystem::remove("kq12.cpu"); // real time: no restart wait
    for (int n = 101; n <= 108; ++n)
        AddUnitAt("127.0.21." + std::to_string(n));
    const std::string bin = (std::filesystem::current_path() / "bin").string();
    const std::string self = "/proc/" + std::to_string(::getpid());
    std::filesystem::create_directories("bin");
    WriteTextFile("bin/ip", "#!/bin/sh\nPATH=/usr/bin:/bin\ncd " + bin +
                                "\n{ ls -l /proc/$$/fd; echo parent; grep -H ^flags " + self +
                                "/fdinfo/*; ls -l " + self +
                                "/fd; } > seen-$$.tmp\nmv seen-$$.tmp seen-$$\n");
    std::filesystem::permissions("bin/ip", std::filesystem::perms::owner_all);
    std::set<std::string> before; // this test's own descriptors
    for (const auto& fd : std::filesystem::directory_iterator("/proc/self/fd"))
        before.insert(fd.path().filename().string());
    const std::string path = std::getenv("PATH");
    ::setenv("PATH", (bin + ":" + path).c_str(), 1);
    const int status = Cli({"update", "--report", "report.json", "127.0.21.101-127.0.21.108"});
    ::setenv("PATH", path.c_str(), 1);
    EXPECT_EQ(status, 0) << ReadTextFile("cli-output.txt");

    const auto seen = [&] {
        std::vector<std::string> files;
        for (const auto& file : std::filesystem::directory_iterator("bin"))
            if (file.path().filename().string().rfind("seen-", 0) == 0)
                files.push_back(file.path().string());
        return files;
    };
    for (int i = 0; i < 500 && seen().size() < 8; ++i) // the last stand-ins may still run
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    size_t children = 0, sockets = 0;
    const std::regex flagged(R"(fdinfo/(\d+):flags:\s*(\d+))"), held(R"( (\d+) -> (.*))");
    for (const std::string& file : seen()) {
        ++children;
        std::map<std::string, std::string> flags, links;
        std::istringstream lines(ReadTextFile(file));
        std::smatch m;
        bool child = true; // the stand-in's own descriptors come first
        for (std::string line; std::getline(lines, line);) {
            child = child && line != "parent";
            if (std::regex_search(line, m, flagged))
                flags[m[1]] = m[2];
            else if (std::regex_search(line, m, held) && child)
                EXPECT_TRUE(m[2] == "/dev/null" || m[2].str().rfind(bin, 0) == 0)
                    << "a child holds " << m[2];
            else if (std::regex_search(line, m, held))
                links[m[1]] = m[2];
        }
        for (const auto& [fd, what] : links) {
            if (before.count(fd) || !flags.count(fd))
                continue; // the test's own, or closed meanwhile
            sockets += what.rfind("socket:", 0) == 0;
            EXPECT_NE(std::stoul(flags[fd], nullptr, 8) & O_CLOEXEC, 0u) << what << " is inherited";
        }
    }
    EXPECT_EQ(children, 8u) << "one clean-up per unit";
    EXPECT_GT(sockets, 0u) << "the run's sockets were looked at";
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
