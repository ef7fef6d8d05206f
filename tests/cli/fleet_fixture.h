#pragma once
// What the fleet front end's tests share: a small set with every kind of step, kqvorlink-cli run
// in this process or as a process of its own, and a fixture with simulated units on 127.0.3.N
// (or an address of the test's own).

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

// Staged and resumable runs, and tests that need an address apart from the fleet's: 127.0.11.N.
inline std::string OwnAddress(int n) {
    return "127.0.11." + std::to_string(n);
}

inline std::string FleetAddress(int n) {
    return "127.0.3." + std::to_string(n);
}

// A small set with every kind of step: a CPU program, single files and lists.
inline void WriteSet() {
    WriteBytes("kq12.cpu", PatternBytes(3000, 1));
    WriteBytes("FPGA5M.bin", PatternBytes(70000, 2));
    WriteBytes("oemindex.htm", PatternBytes(900, 3));
    WriteBytes("index.html", PatternBytes(800, 4));
    WriteBytes("shade.sdt", PatternBytes(1200, 5));
    WriteBytes("LOGO.bmp", PatternBytes(500, 6));
}

// Runs kqvorlink-cli in this process; its printed output goes to a file of the folder.
inline int Cli(std::vector<std::string> args) {
    args.insert(args.begin(), "kqvorlink-cli");
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    // Never inherited, as the program's own files (its standard streams stand in for these).
    std::FILE* out = std::fopen("cli-output.txt", "we");
    std::FILE* err = std::fopen("cli-errors.txt", "we");
    const auto cwd = std::filesystem::current_path();
    const int status = cli::RunCli(int(argv.size()), argv.data(), out, err);
    std::filesystem::current_path(cwd); // the program changes to the set's folder
    std::fclose(out);
    std::fclose(err);
    return status;
}

// The status of tests/support/validate_report.py on a report: 0 when it meets its schema
// (docs/schema/NAME), 1 when not.
inline int ValidatorStatus(const std::string& schema, const std::string& report) {
    const std::string source = KQ_SOURCE_DIR;
    const std::string command = "/usr/bin/python3 " + source +
                                "/tests/support/validate_report.py " + source + "/docs/schema/" +
                                schema + " " + report;
    return WEXITSTATUS(std::system(command.c_str()));
}

// What the unit received, with the data port of each PORT command left out.
inline std::vector<std::string> CommandsWithoutPorts(const sim::Unit& unit) {
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

// Starts kqvorlink-cli as a process of its own (real time), output and errors into a file, or
// into outputFd when one is given.
inline pid_t StartCli(const std::vector<std::string>& args, const std::string& output,
                      int outputFd = -1) {
    const std::string program =
        (std::filesystem::read_symlink("/proc/self/exe").parent_path() / "kqvorlink-cli").string();
    std::vector<std::string> all{program};
    all.insert(all.end(), args.begin(), args.end());
    const pid_t pid = fork();
    if (pid == 0) {
        if (outputFd >= 0) {
            dup2(outputFd, STDOUT_FILENO);
            dup2(outputFd, STDERR_FILENO);
        } else if (std::FILE* out = std::freopen(output.c_str(), "w", stdout)) {
            dup2(fileno(out), STDERR_FILENO);
        }
        std::vector<char*> argv;
        for (std::string& arg : all)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    return pid;
}
