// An interrupt (SIGINT to kqvorlink-cli as a process of its own) while units are at work: the
// running units finish, no other starts, and the output, the exit status and the report say so;
// also while nobody reads the output, and when it came before any unit could start.

#include "tests/cli/fleet_fixture.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>

namespace {

// Where the program's output goes: a file, a pipe that nobody reads during the run (full when
// the program starts), or a terminal nobody reads, already full, so that the plan's first line
// keeps the program from its units until the interrupt has come.
enum class Output { File, FullPipe, FullTerminal };

// The write end (the program's) and the read end (the test's) of a full pipe or terminal.
struct FullOutput {
    explicit FullOutput(Output kind) {
        if (kind == Output::FullPipe) {
            int ends[2];
            if (pipe2(ends, O_CLOEXEC) != 0)
                return;
            fcntl(ends[1], F_SETPIPE_SZ, 4096);
            ours = ends[0], theirs = ends[1];
        } else if (kind == Output::FullTerminal) {
            ours = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
            if (ours < 0 || grantpt(ours) != 0 || unlockpt(ours) != 0)
                return;
            theirs = open(ptsname(ours), O_RDWR | O_NOCTTY | O_CLOEXEC);
            const winsize size{24, 80, 0, 0};
            ioctl(theirs, TIOCSWINSZ, &size);
        }
        if (theirs < 0)
            return;
        // Until full even after a pause (a terminal moves what was written on a moment later).
        fcntl(theirs, F_SETFL, O_NONBLOCK);
        const std::string filler(256, '.');
        for (int round = 0, took = 1; round < 50 && took > 0; ++round) {
            took = 0;
            while (took < 4096 && write(theirs, filler.data(), filler.size()) > 0)
                ++took;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        fcntl(theirs, F_SETFL, 0);
    }
    ~FullOutput() {
        for (const int fd : {ours, theirs})
            if (fd >= 0)
                close(fd);
    }
    // Reads until the program has ended (its status) and nothing more comes, at most about 30 s.
    std::string Drain(pid_t program, int* status) {
        std::string text;
        char buffer[4096];
        bool ended = false;
        for (int i = 0; i < 1500; ++i) {
            pollfd readable{ours, POLLIN, 0};
            const ssize_t got = poll(&readable, 1, 0) > 0 ? read(ours, buffer, sizeof buffer) : 0;
            if (got > 0) {
                text.append(buffer, size_t(got));
                continue;
            }
            if (ended)
                break;
            ended = waitpid(program, status, WNOHANG) == program;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return text;
    }
    int ours = -1, theirs = -1;
};

struct InterruptRow {
    const char* name;
    int first, count;              // units on 127.0.21.<first>..., each upload ending 0.8 s late
    bool firstOfOtherModel;        // the first unit fails at once
    std::vector<std::string> args; // the units follow, as a range
    size_t firstCommands;          // the interrupt comes once the first unit had these...
    const char* reportHolds;       // ...and the report holds this
    const char* said;
    std::vector<std::string> shown; // each unit's result in the report, then part of its message
    Output output = Output::File;
};

void PrintTo(const InterruptRow& row, std::ostream* out) {
    *out << row.name;
}

class FleetInterruptTest : public FleetTest, public ::testing::WithParamInterface<InterruptRow> {
  protected:
    // While nobody reads the output: the report's end comes within about a second of the units'
    // last command, and the program is still there, waiting to write.
    void ExpectReportEndedWhileBlocked(pid_t cli) {
        using Clock = std::chrono::steady_clock;
        size_t commands = 0;
        Clock::time_point lastCommand = Clock::now();
        bool ended = false;
        for (int i = 0; i < 1000 && !ended; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            size_t now = 0;
            for (const auto& unit : m_units)
                now += unit->CommandCount();
            if (now != commands)
                commands = now, lastCommand = Clock::now();
            const auto report = nlohmann::json::parse(ReadTextFile("report.json"), nullptr, false);
            ended = !report.is_discarded() && report.contains("end") && !report["end"].is_null();
        }
        EXPECT_TRUE(ended) << "the report's end, with the output blocked";
        EXPECT_LT(Clock::now() - lastCommand, std::chrono::milliseconds(1500));
        int status = 0;
        EXPECT_EQ(waitpid(cli, &status, WNOHANG), 0) << "the program waits to write its output";
    }
};

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
    FullOutput full(row.output);
    const pid_t cli = StartCli(args, "interrupted.txt", full.theirs);
    ASSERT_TRUE(cli > 0 &&
                m_units[0]->WaitForCommands(row.firstCommands, std::chrono::seconds(20)));
    for (int i = 0;
         i < 1000 && ReadTextFile("report.json").find(row.reportHolds) == std::string::npos; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    int status = 0;
    ASSERT_EQ(kill(cli, SIGINT), 0);
    if (row.output == Output::FullPipe)
        ExpectReportEndedWhileBlocked(cli);
    std::string output;
    if (row.output == Output::File) {
        ASSERT_EQ(waitpid(cli, &status, 0), cli);
        output = ReadTextFile("interrupted.txt");
    } else {
        close(std::exchange(full.theirs, -1));
        output = full.Drain(cli, &status);
        if (kill(cli, 0) == 0) {
            kill(cli, SIGKILL);
            waitpid(cli, &status, 0);
            FAIL() << "the program did not end once its output was read";
        }
    }
    EXPECT_EQ(WEXITSTATUS(status), 130) << "the status says the run was interrupted";
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
                     {"answered", "", "no answer", kNotContacted, "no answer", kNotContacted}},
        // The program is blocked writing its view when the interrupt comes: its units look at
        // the interrupt themselves, and the report ends without waiting for the output.
        InterruptRow{"UpdateWhileNobodyReadsTheOutput", 231, 6, false, {"update", "--jobs", "2"},
                     3, "", "2 running unit(s) will finish; 4 unit(s) will not be started.",
                     {"complete", "Update Complete.", "complete", "Update Complete.",
                      "not started", kNotStarted, "not started", kNotStarted,
                      "not started", kNotStarted, "not started", kNotStarted},
                     Output::FullPipe},
        // The interrupt came while the plan was being written, before the units' threads began.
        InterruptRow{"UpdateInterruptedBeforeAnyUnitStarts", 251, 3, false,
                     {"update", "--jobs", "3"}, 0, "\"units\"", "0 running unit(s) will finish",
                     {"not started", kNotStarted, "not started", kNotStarted,
                      "not started", kNotStarted},
                     Output::FullTerminal}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

} // namespace
