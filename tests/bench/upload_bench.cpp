// Upload throughput: one 256 MiB file stored on a simulated unit on loopback, once by the
// link's own active-mode upload (with the progress bar shown) and once by curl in active mode,
// in the same run and to the same unit. Prints both rates, their ratio and our peak memory.
//
// The unit runs in a child process so that our peak memory is ours alone. It is lenient, as a
// plain FTP client needs (curl sends "STOR name" with one blank).
//
//   upload_bench [--small]    (--small: a 4 MiB file, unit on 127.0.14.200)

#include "app/updater_dlg.h"
#include "platform/headless/desktop.h"
#include "sim/sim_unit.h"
#include "tests/bench/bench_support.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

struct Target {
    const char* unitAddress;
    uint32_t size;
};
constexpr Target kFull = {"127.0.0.68", 256u << 20};
constexpr Target kSmall = {"127.0.14.200", 4u << 20};
const char* g_unitAddress = kFull.unitAddress;
uint32_t g_size = kFull.size;
constexpr double kProgressPauseS = 0.2; // the bar is shown full, then emptied

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}
double MiBPerS(double bytes, double seconds) {
    return bytes / (1 << 20) / seconds;
}

std::string PeakMemory() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmHWM:", 0) == 0)
            return line.substr(6);
    }
    return "?";
}

// Runs the unit in a child process until it is killed; returns its process id.
pid_t StartUnitProcess(const fs::path& store) {
    const pid_t pid = ::fork();
    if (pid != 0)
        return pid;
    sim::UnitConfig config;
    config.address = g_unitAddress;
    config.storeDir = store.string();
    config.idleTimeoutMs = 120000;
    config.strict = false;
    sim::Unit unit(config);
    if (!unit.Start()) {
        std::cerr << "unit: " << unit.Error() << "\n";
        ::_exit(1);
    }
    while (unit.Running())
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ::_exit(0);
}

bool SameAsData(const fs::path& file, const std::vector<uint8_t>& data) {
    std::ifstream in(file, std::ios::binary);
    std::vector<uint8_t> got(data.size() + 1);
    in.read(reinterpret_cast<char*>(got.data()), static_cast<std::streamsize>(got.size()));
    return static_cast<size_t>(in.gcount()) == data.size() &&
           std::memcmp(got.data(), data.data(), data.size()) == 0;
}

} // namespace

int main(int argc, char** argv) {
    if (SmallMode(argc, argv)) {
        g_unitAddress = kSmall.unitAddress;
        g_size = kSmall.size;
    }
    const fs::path folder = fs::temp_directory_path() / "kq-upload-bench";
    fs::remove_all(folder);
    fs::create_directories(folder / "store");
    const fs::path oldCwd = fs::current_path();
    fs::current_path(folder);

    std::vector<uint8_t> data(g_size);
    for (uint32_t i = 0; i < g_size; ++i)
        data[i] = static_cast<uint8_t>((i * 2654435761u) >> 24);
    std::ofstream(folder / "curl_upload.bin", std::ios::binary)
        .write(reinterpret_cast<const char*>(data.data()), g_size);

    const pid_t unitPid = StartUnitProcess(folder / "store");
    std::this_thread::sleep_for(std::chrono::milliseconds(300));

    int status = 1;
    {
        CUpdaterDlg dialog;
        headless::DialogRunner runner(dialog);
        std::memcpy(dialog.m_szModel, "KQ-A2", 6);
        dialog.m_ulDeviceAddr = platform::InetAddr(g_unitAddress);
        if (dialog.ConnectFtp(1) != 0) {
            std::cerr << "log-in failed\n";
        } else {
            const auto start = Clock::now();
            const int result = dialog.SendFileOverData(data.data(), g_size, "OURS.BIN", 1);
            const double ours = Seconds(Clock::now() - start);
            const std::string peak = PeakMemory();
            // The unit serves one FTP session at a time.
            ReplyBuffer reply;
            dialog.Exchange(dialog.m_sockCtrl, "QUIT\r\n", reply, 0);
            dialog.m_sockCtrl.Close();

            const std::string command = std::string("curl -s -P 127.0.0.1 -T curl_upload.bin -w "
                                                    "'%{time_total}' ftp://") +
                                        g_unitAddress + "/";
            const auto curlStart = Clock::now();
            double curlReported = 0;
            if (FILE* pipe = ::popen(command.c_str(), "r")) {
                if (std::fscanf(pipe, "%lf", &curlReported) != 1)
                    curlReported = 0;
                status = ::pclose(pipe);
            }
            const double curlWall = Seconds(Clock::now() - curlStart);

            const bool oursIntact = SameAsData(folder / "store" / "OURS.bin", data);
            const bool curlIntact = SameAsData(folder / "store" / "curl_upload.bin", data);
            const bool oursOk = result == 0 && oursIntact;
            const bool curlOk = status == 0 && curlIntact;
            const double oursRate = MiBPerS(g_size, ours);
            const double oursRateNoPause = MiBPerS(g_size, ours - kProgressPauseS);
            const double curlRate = MiBPerS(g_size, curlReported > 0 ? curlReported : curlWall);
            std::printf("file size          : %u bytes\n", g_size);
            std::printf("ours (with bar)    : %.3f s, %.1f MiB/s, result %d, stored %s\n", ours,
                        oursRate, result, oursIntact ? "intact" : "DIFFERENT");
            std::printf("ours less 200 ms   : %.1f MiB/s\n", oursRateNoPause);
            std::printf(
                "curl active mode   : %.3f s (own total; %.3f s wall), %.1f MiB/s, exit %d, "
                "stored %s\n",
                curlReported, curlWall, curlRate, status, curlIntact ? "intact" : "DIFFERENT");
            // A rate of a failed upload compares nothing.
            if (oursOk && curlOk)
                std::printf("ratio ours/curl    : %.3f (less the pause: %.3f)\n",
                            oursRate / curlRate, oursRateNoPause / curlRate);
            else
                std::printf("FAILED: %s; no ratio\n",
                            !oursOk ? "our upload did not store the file intact"
                                    : "curl's upload did not store the file intact");
            std::printf("our peak memory    : %s\n", peak.c_str());
            status = oursOk && curlOk ? 0 : 1;
        }
    }

    ::kill(unitPid, SIGKILL);
    ::waitpid(unitPid, nullptr, 0);
    fs::current_path(oldCwd);
    fs::remove_all(folder);
    return status;
}
