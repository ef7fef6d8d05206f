// The fleet front end over many simulated units: a full update set with a CPU program, run with
// the protocol's time scaled down on 1, 16, 64 and 256 units, then in real time on 16 units.
// Prints wall time, its ratio to one unit, and the front end's peak memory against its budget
// (the set's size + 16 MiB + 64 KiB per unit). A program, not a test; run it in a network
// namespace of its own (unshare -n) on a machine that is otherwise quiet.
//
//   fleet_bench [--no-real-time] [--scale S] [--units N]   (defaults: 0.05; 1, 16, 64 and 256)
//   fleet_bench --small     1 and 4 units on 127.0.14.210 and on, a set of a tenth without
//                           its CPU program, scaled only
//   fleet_bench --report-cost [--units N]   the price of --report: 1,024 and 4,096 units
//                           (127.1.0.0/16) that fail at once (nothing listens) and that complete
//                           (a set of a hundredth without its CPU program), each without and
//                           with --report: wall and CPU time, peak memory; every row in a
//                           network namespace of its own (as root)
//   fleet_bench --manifest-cost [--units N]   the price of a signed set: `verify` of a 64 MiB
//                           set (wall and CPU time, sha256sum's beside it), and 256 units
//                           (127.1.0.0/16) that complete, without and with --manifest; the
//                           key and the signature are ssh-keygen's (as root)
//
// A run in which not every unit completed, or whose memory is over its budget, says so, shows
// no ratio and makes the exit status 1.

#include "cli/commands.h"
#include "platform/clock.h"
#include "sim/sim_unit.h"
#include "tests/bench/bench_support.h"

#include <sched.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <thread>

namespace {

double g_scale = 0.05;
int g_firstUnit = 6 * 256 + 1; // 127.0.6.1
int g_secondOctet = 0;
size_t g_divisor = 1;     // every file's size is divided by this
bool g_cpuProgram = true; // the set holds a CPU program (telnet, quiet periods, restart)

// 127.0.6.1 and on, unit by unit.
std::string UnitAddress(int i) {
    const int n = g_firstUnit + i;
    return "127." + std::to_string(g_secondOctet + n / 65536) + "." +
           std::to_string(n / 256 % 256) + "." + std::to_string(n % 256);
}

uint64_t WriteSet() {
    const std::pair<const char*, size_t> files[] = {
        {"kq12.cpu", 2 << 20},   {"FPGA5M.bin", 1 << 20}, {"RFPGA.bin", 256 << 10},
        {"oemindex.htm", 9000},  {"index.html", 8000},    {"top.jpg", 60000},
        {"CURSOR1.bmp", 6000},   {"ICON1.bmp", 6500},     {"shade.sdt", 100000},
        {"gamma.tbl", 5120},     {"scene1.cst", 3000},    {"LOGO.bmp", 31260},
        {"TFPGA2M.bin", 400000},
    };
    uint64_t total = 0;
    unsigned seed = 1;
    for (const auto& [name, size] : files) {
        if (!g_cpuProgram && std::strcmp(name, "kq12.cpu") == 0)
            continue;
        WriteFileOfSize(name, size / g_divisor, seed++);
        total += size / g_divisor;
    }
    return total;
}

// Serves `count` units in a child process until it is told to stop; returns its id.
pid_t StartUnits(int count, const std::string& storeRoot, int ready[2]) {
    const pid_t pid = fork();
    if (pid != 0)
        return pid;
    std::vector<std::unique_ptr<sim::Unit>> units;
    for (int i = 0; i < count; ++i) {
        sim::UnitConfig config;
        config.address = UnitAddress(i);
        config.storeDir = storeRoot + "/" + config.address;
        config.restartRefuseMs = uint32_t(3000 * g_scale) + 1;
        config.keptContentBytes = 0;    // the files are in the store
        config.idleTimeoutMs = 3600000; // the last of 4,096 units may wait minutes for its turn
        std::filesystem::create_directories(config.storeDir);
        units.push_back(std::make_unique<sim::Unit>(config));
        if (!units.back()->Start()) {
            std::fprintf(stderr, "unit %s: %s\n", config.address.c_str(),
                         units.back()->Error().c_str());
            _exit(1);
        }
    }
    const char ok = 1;
    if (write(ready[1], &ok, 1) != 1)
        _exit(1);
    pause(); // until the benchmark ends this process
    _exit(0);
}

struct Result {
    double seconds = 0;
    double cpuSeconds = 0;
    long peakKiB = 0;
    int status = -1;
};

constexpr int kFleetLimitS = 300; // a run still going then is killed and said so

// Runs `kqvorlink-cli update` on `count` units in a child process of its own, so that its peak
// memory is its own.
Result RunFleet(int count, double scale, std::vector<std::string> extra = {}) {
    std::vector<std::string> args = {"kqvorlink-cli", "update", "--jobs",
                                     std::to_string(std::min(count, 256)),
                                     UnitAddress(0) + "-" + UnitAddress(count - 1)};
    args.insert(args.end(), extra.begin(), extra.end());
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        std::FILE* out = std::fopen("fleet-output.txt", "w");
        platform::SetTimeScale(scale);
        std::vector<char*> argv;
        for (std::string& arg : args)
            argv.push_back(arg.data());
        _exit(cli::RunCli(int(argv.size()), argv.data(), out, stderr));
    }
    int status = 0;
    rusage usage{};
    for (;;) {
        const pid_t ended = wait4(pid, &status, WNOHANG, &usage);
        if (ended == pid || ended < 0)
            break;
        if (std::chrono::steady_clock::now() - start > std::chrono::seconds(kFleetLimitS))
            kill(pid, SIGKILL);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    Result result;
    result.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    result.cpuSeconds = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                        double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    result.peakKiB = usage.ru_maxrss;
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

// The summary's lines of the units that did not complete, the first few.
void PrintFailedUnits(int count) {
    std::ifstream output("fleet-output.txt");
    int failed = 0;
    for (std::string line; std::getline(output, line);) {
        if (line.find(" failed ") != std::string::npos && line.find("(") == std::string::npos &&
            ++failed <= 3)
            std::printf("    %s\n", line.c_str());
    }
    std::printf("    %d of %d units failed\n", failed, count);
}

// Prints one row; returns the fleet's wall time, or -1 when the run failed or was over its
// memory budget.
double Measure(int count, double scale, uint64_t setBytes, double oneUnitSeconds, const char* tag) {
    int ready[2];
    if (pipe(ready) != 0)
        return -1;
    const pid_t units =
        StartUnits(count, (std::filesystem::current_path() / "stores").string(), ready);
    char ok = 0;
    if (read(ready[0], &ok, 1) != 1) {
        std::printf("%5d units: FAILED, the simulated units did not start\n", count);
        return -1;
    }
    const Result r = RunFleet(count, scale);
    kill(units, SIGTERM);
    waitpid(units, nullptr, 0);
    close(ready[0]);
    close(ready[1]);
    std::filesystem::remove_all("stores");

    const double budgetMiB = double(setBytes) / 1048576.0 + 16.0 + count * 64.0 / 1024.0;
    const bool withinBudget = r.peakKiB / 1024.0 <= budgetMiB;
    const bool good = r.status == 0 && withinBudget && oneUnitSeconds >= 0;
    // A ratio to or of a failed run compares nothing.
    const std::string ratio = good && oneUnitSeconds > 0
                                  ? std::to_string(r.seconds / oneUnitSeconds).substr(0, 5) + " x"
                                  : "-";
    std::printf("%-10s %5d %9.2f s %9s %9.1f MiB %9.1f MiB %s%s\n", tag, count, r.seconds,
                ratio.c_str(), r.peakKiB / 1024.0, budgetMiB, withinBudget ? "within" : "OVER",
                r.status == 0 ? "" : "  FAILED: not every unit completed");
    if (r.status != 0)
        PrintFailedUnits(count);
    std::fflush(stdout);
    return good ? r.seconds : -1;
}

// Moves the benchmark into a network namespace of its own with only its loopback up, so that
// a row does not pay for the sockets that the row before it left waiting in the kernel (tens of
// thousands after 4,096 units, and every later bind searches them). Its data ports are all
// above 1024: at a twentieth of the protocol's time 4,096 units open data connections twenty
// times faster than a real rig, and the usual range of ports runs out.
bool FreshLoopback() {
    if (unshare(CLONE_NEWNET) != 0 || std::system("ip link set lo up") != 0)
        return false;
    std::ofstream("/proc/sys/net/ipv4/ip_local_port_range") << "1025 65535\n";
    return true;
}

// One row of --report-cost: `count` units that complete (simulated) or fail at once (nobody
// listens), without and with --report, each with units and a loopback of its own.
bool MeasureReportCost(int count, bool complete) {
    bool good = true;
    for (const bool report : {false, true}) {
        if (!FreshLoopback()) {
            std::printf("no network namespace of its own: run the benchmark as root\n");
            return false;
        }
        int ready[2];
        pid_t units = -1;
        if (complete) {
            if (pipe(ready) != 0)
                return false;
            units = StartUnits(count, (std::filesystem::current_path() / "stores").string(), ready);
            char ok = 0;
            if (read(ready[0], &ok, 1) != 1)
                return false;
        }
        const Result r = RunFleet(count, g_scale,
                                  report ? std::vector<std::string>{"--report", "report.json"}
                                         : std::vector<std::string>{});
        const bool expected = r.status == (complete ? 0 : 1);
        std::printf("%5d %-9s %-6s %9.2f s %9.2f s %9.1f MiB  %s\n", count,
                    complete ? "complete" : "fail", report ? "yes" : "no", r.seconds, r.cpuSeconds,
                    r.peakKiB / 1024.0,
                    expected       ? ""
                    : r.status < 0 ? "KILLED or crashed"
                                   : "UNEXPECTED exit status");
        if (complete && r.status > 0)
            PrintFailedUnits(count);
        std::fflush(stdout);
        good = good && expected;
        if (complete) {
            kill(units, SIGTERM);
            waitpid(units, nullptr, 0);
            close(ready[0]);
            close(ready[1]);
            std::filesystem::remove_all("stores");
        }
    }
    return good;
}

// The rig of the cost rows: units on 127.1.0.0/16, where no test's unit runs, and a set of a
// hundredth without its CPU program.
void WriteCostSet() {
    g_secondOctet = 1;
    g_firstUnit = 1;
    g_divisor = 100;
    g_cpuProgram = false;
    std::printf("update set: %.2f MiB without a CPU program; time scale %.2f; jobs 256\n",
                double(WriteSet()) / 1048576.0, g_scale);
}

int ReportCost(const std::vector<int>& counts) {
    WriteCostSet();
    std::printf("%5s %-9s %-6s %11s %11s %13s\n", "units", "units", "report", "wall", "CPU",
                "peak memory");
    bool good = true;
    for (const int count : counts) {
        for (const bool complete : {false, true})
            good = MeasureReportCost(count, complete) && good;
    }
    return good ? 0 : 1;
}

// The current folder's set signed: a manifest of release 1 and ssh-keygen's signature of it by
// a fresh Ed25519 key that the allowed signers file lists.
bool SignCurrentSet() {
    const char* argv[] = {"kqvorlink-cli", "manifest", "--release", "1", "--out", "set.manifest"};
    std::FILE* quiet = std::fopen("/dev/null", "w");
    const int status = cli::RunCli(6, const_cast<char**>(argv), quiet, stderr);
    std::fclose(quiet);
    return status == 0 &&
           std::system("rm -f bench-key bench-key.pub set.manifest.sig && "
                       "ssh-keygen -q -t ed25519 -N '' -C bench -f bench-key </dev/null && "
                       "ssh-keygen -q -Y sign -f bench-key -n kqvorlink-set set.manifest "
                       "2>/dev/null && (printf 'bench@example.com '; cut -d' ' -f1,2 "
                       "bench-key.pub) > signers") == 0;
}

double CpuSecondsOfProcess() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// `verify` of a 64 MiB set, in this process, five times; and sha256sum of its files for scale.
bool MeasureVerify() {
    std::filesystem::create_directory("big");
    std::filesystem::current_path("big");
    const std::pair<const char*, size_t> files[] = {{"kq12.cpu", 16 << 20},
                                                    {"FPGA5M.bin", 16 << 20},
                                                    {"RFPGA.bin", 16 << 20},
                                                    {"TFPGA2M.bin", 16 << 20}};
    unsigned seed = 7;
    for (const auto& [name, size] : files)
        WriteFileOfSize(name, size, seed++);
    bool good = SignCurrentSet();
    const char* argv[] = {"kqvorlink-cli",     "verify",  "--manifest",  "set.manifest",
                          "--allowed-signers", "signers", "--state-dir", "state"};
    std::printf("verify of a 64 MiB set (4 files of 16 MiB):\n");
    for (int i = 0; good && i < 5; ++i) {
        const double cpu = CpuSecondsOfProcess();
        const auto start = std::chrono::steady_clock::now();
        std::FILE* quiet = std::fopen("/dev/null", "w");
        good = cli::RunCli(8, const_cast<char**>(argv), quiet, stderr) == 0;
        std::fclose(quiet);
        std::printf("  verify %d: %6.3f s wall, %6.3f s CPU%s\n", i + 1,
                    std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(),
                    CpuSecondsOfProcess() - cpu, good ? "" : "  FAILED");
    }
    const auto start = std::chrono::steady_clock::now();
    good =
        std::system("sha256sum kq12.cpu FPGA5M.bin RFPGA.bin TFPGA2M.bin >/dev/null") == 0 && good;
    std::printf("  sha256sum of the same files: %6.3f s wall\n",
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    std::filesystem::current_path("..");
    std::filesystem::remove_all("big");
    return good;
}

// `count` units that complete, without and with --manifest, each with units and a loopback of
// their own; the set is verified once per run, however many units.
int ManifestCost(int count) {
    bool good = MeasureVerify();
    WriteCostSet();
    good = SignCurrentSet() && good;
    std::printf("%5s %-9s %11s %11s %13s\n", "units", "manifest", "wall", "CPU", "peak memory");
    for (int round = 0; round < 2; ++round) {
        for (const bool manifest : {false, true}) {
            int ready[2];
            if (!FreshLoopback() || pipe(ready) != 0) {
                std::printf("no network namespace of its own: run the benchmark as root\n");
                return 1;
            }
            const pid_t units =
                StartUnits(count, (std::filesystem::current_path() / "stores").string(), ready);
            char ok = 0;
            if (read(ready[0], &ok, 1) != 1)
                return 1;
            const Result r =
                RunFleet(count, g_scale,
                         manifest ? std::vector<std::string>{"--manifest", "set.manifest",
                                                             "--allowed-signers", "signers",
                                                             "--state-dir", "state"}
                                  : std::vector<std::string>{});
            std::printf("%5d %-9s %9.2f s %9.2f s %9.1f MiB  %s\n", count, manifest ? "yes" : "no",
                        r.seconds, r.cpuSeconds, r.peakKiB / 1024.0,
                        r.status == 0 ? "" : "FAILED: not every unit completed");
            std::fflush(stdout);
            good = good && r.status == 0;
            kill(units, SIGTERM);
            waitpid(units, nullptr, 0);
            close(ready[0]);
            close(ready[1]);
            std::filesystem::remove_all("stores");
        }
    }
    return good ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    // 256 units and their connections need more descriptors than the usual soft limit.
    rlimit files{};
    if (getrlimit(RLIMIT_NOFILE, &files) == 0) {
        files.rlim_cur = files.rlim_max;
        setrlimit(RLIMIT_NOFILE, &files);
    }
    bool realTime = true;
    bool reportCost = false;
    bool manifestCost = false;
    std::vector<int> counts = {16, 64, 256};
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--small") == 0) {
            realTime = false;
            counts = {4};
            g_firstUnit = 14 * 256 + 210; // 127.0.14.210
            g_divisor = 10;
            // At 5 % the quiet periods are 100 ms, too short for a loaded machine's telnet.
            g_cpuProgram = false;
        } else if (std::strcmp(argv[i], "--no-real-time") == 0)
            realTime = false;
        else if (std::strcmp(argv[i], "--scale") == 0 && i + 1 < argc)
            g_scale = std::atof(argv[++i]);
        else if (std::strcmp(argv[i], "--units") == 0 && i + 1 < argc)
            counts = {std::atoi(argv[++i])};
        else if (std::strcmp(argv[i], "--report-cost") == 0)
            reportCost = true;
        else if (std::strcmp(argv[i], "--manifest-cost") == 0)
            manifestCost = true;
    }
    TempFolder folder("fleet-bench");
    if (manifestCost)
        return ManifestCost(counts.size() == 1 ? counts[0] : 256);
    if (reportCost)
        return ReportCost(counts.size() == 1 ? counts : std::vector<int>{1024, 4096});
    const uint64_t setBytes = WriteSet();
    std::printf("update set: %.2f MiB %s a CPU program; time scale %.2f\n",
                double(setBytes) / 1048576.0, g_cpuProgram ? "with" : "without", g_scale);
    std::printf("%-10s %5s %11s %9s %13s %13s\n", "run", "units", "wall", "ratio", "peak memory",
                "budget");
    const char* tag = g_scale == 1.0 ? "real time" : "scaled";
    const double one = Measure(1, g_scale, setBytes, 0, tag); // every ratio is against it
    std::printf("(ratios are against this one-unit run)\n");
    bool allGood = one >= 0;
    for (const int count : counts)
        allGood = Measure(count, g_scale, setBytes, one, tag) >= 0 && allGood;
    if (realTime)
        allGood = Measure(16, 1.0, setBytes, 0, "real time") >= 0 && allGood;
    return allGood ? 0 : 1;
}
