// Peak memory of a run that uploads one 256 MiB component file. The record is built in one
// buffer with the file read straight behind its header, so the run should need little more than
// the file's size. The unit runs in a child process so that what it keeps is not counted.
//
//   run_memory_bench [--small]    (--small: an 8 MiB file, unit on 127.0.14.202)

#include "bench_support.h"
#include "platform/clock.h"
#include "sim/sim_unit.h"

#include <sys/wait.h>

#include <csignal>
#include <cstdint>
#include <fstream>

namespace {

struct Target {
    int third, n; // the unit's address 127.0.<third>.<n>
    size_t fileSize;
};
constexpr Target kFull = {0, 115, 256u << 20};
constexpr Target kSmall = {14, 202, 8u << 20};
constexpr int64_t kAllowanceKiB = 16 << 10;

// The process's resident peak ("VmHWM") in KiB.
int64_t PeakResidentKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stoll(line.substr(6));
    }
    return -1;
}

// Starts the peak anew from the current resident size.
bool ResetPeak() {
    return static_cast<bool>(std::ofstream("/proc/self/clear_refs") << "5");
}

} // namespace

int main(int argc, char** argv) {
    const Target target = SmallMode(argc, argv) ? kSmall : kFull;
    const size_t fileSize = target.fileSize;
    TempFolder folder("memory");
    WriteFileOfSize("LOGO.bmp", fileSize, 1);

    int ready[2];
    if (::pipe(ready) != 0)
        return 2;
    // Forked before this process starts any thread.
    const pid_t unitPid = ::fork();
    if (unitPid == 0) {
        ::close(ready[0]);
        sim::UnitConfig config;
        config.address = "127.0." + std::to_string(target.third) + "." + std::to_string(target.n);
        config.storeDir = (folder.Path() / "unit-store").string();
        std::filesystem::create_directories(config.storeDir);
        sim::Unit unit(config);
        const char started = unit.Start() ? 1 : 0;
        (void)!::write(ready[1], &started, 1);
        while (unit.Running())
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        std::_Exit(0);
    }
    ::close(ready[1]);
    char started = 0;
    if (::read(ready[0], &started, 1) != 1 || !started) {
        std::fprintf(stderr, "the unit did not start\n");
        return 2;
    }

    platform::SetTimeScale(0.05);
    int64_t peakKiB = -1, baseKiB = -1, elapsed = -1;
    {
        CUpdaterDlg dialog;
        headless::DialogRunner runner(dialog);
        if (!ResetPeak())
            std::fprintf(stderr, "cannot reset the peak; it includes the start\n");
        baseKiB = PeakResidentKiB();
        elapsed = RunOnce(dialog, runner, target.third, target.n);
        peakKiB = PeakResidentKiB();
    }
    ::kill(unitPid, SIGTERM);
    ::waitpid(unitPid, nullptr, 0);
    if (elapsed < 0) {
        std::fprintf(stderr, "the run failed\n");
        return 2;
    }

    const int64_t fileKiB = static_cast<int64_t>(fileSize >> 10);
    const int64_t growthKiB = peakKiB - baseKiB;
    std::printf("file %lld KiB; resident before the run %lld KiB; peak during it %lld KiB\n",
                static_cast<long long>(fileKiB), static_cast<long long>(baseKiB),
                static_cast<long long>(peakKiB));
    std::printf("growth %lld KiB = file + %lld KiB (allowance %lld KiB); run %lld ms\n",
                static_cast<long long>(growthKiB), static_cast<long long>(growthKiB - fileKiB),
                static_cast<long long>(kAllowanceKiB), static_cast<long long>(elapsed));
    if (growthKiB > fileKiB + kAllowanceKiB) {
        std::printf("FAILED: the growth is over the file's size and the allowance\n");
        return 1;
    }
    return 0;
}
