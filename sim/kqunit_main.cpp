// kqunit: plays one simulated camera control unit, or a fleet of them (one per address of a
// range), on loopback until every unit has been idle for a while or it is told to stop. Prints
// every command line each unit receives as it goes.

#include <csignal>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "sim/fleet.h"
#include "sim/kqunit_options.h"
#include "version/program_version.h"

namespace {

volatile std::sig_atomic_t g_stopRequested = 0;

void OnSignal(int) {
    g_stopRequested = 1;
}

// A received line as a terminal may show it: control bytes and bytes above 0x7e as \xHH.
std::string Printable(const std::string& line) {
    static const char kHex[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : line) {
        if (c < 0x20 || c > 0x7e) {
            out += {'\\', 'x', kHex[c >> 4], kHex[c & 15]};
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

} // namespace

int main(int argc, char** argv) {
    sim::KqunitArgs args;
    std::string error;
    if (!sim::ParseKqunitArgs(std::vector<std::string>(argv + 1, argv + argc), &args, &error)) {
        std::cerr << "kqunit: " << error << "\n(kqunit --help lists every option)\n";
        return 2;
    }
    if (args.help) {
        std::cout << sim::KqunitHelp();
        return 0;
    }
    if (args.version) {
        std::cout << "kqunit " << ProgramVersion() << "\n";
        return 0;
    }
    std::signal(SIGTERM, OnSignal);
    std::signal(SIGINT, OnSignal);
    sim::Fleet fleet(args.units);
    if (!fleet.Start(&error)) {
        std::cerr << "kqunit: " << error << "\n";
        return 1;
    }
    const bool many = fleet.Size() > 1;
    for (size_t i = 0; i < fleet.Size(); ++i) {
        const sim::UnitConfig& c = fleet.ConfigAt(i);
        std::cout << "kqunit: serving " << c.model << " on " << c.address << " (ftp " << c.ftpPort
                  << (c.telnetEnabled ? ", telnet " + std::to_string(c.telnetPort) : "")
                  << (c.strict ? ", strict" : "") << "), storing into " << c.storeDir << "\n";
    }
    std::cout.flush();

    std::vector<size_t> shown(fleet.Size(), 0);
    const auto printNew = [&] {
        for (size_t i = 0; i < fleet.Size(); ++i) {
            const std::string prefix = many ? fleet.ConfigAt(i).address + ": " : "";
            for (const auto& line : fleet.At(i).CommandsFrom(shown[i], &shown[i])) {
                std::cout << prefix << Printable(line) << '\n';
            }
        }
        std::cout.flush();
    };
    while (fleet.Running() && !g_stopRequested) {
        if (many) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        } else {
            fleet.At(0).WaitForCommands(shown[0] + 1, std::chrono::milliseconds(100));
        }
        printNew();
    }
    fleet.Stop();
    printNew();
    int status = 0;
    size_t uploads = 0;
    for (size_t i = 0; i < fleet.Size(); ++i) {
        uploads += fleet.At(i).Uploads().size();
        if (!g_stopRequested && !fleet.At(i).Error().empty()) {
            std::cerr << "kqunit: " << fleet.ConfigAt(i).address << ": " << fleet.At(i).Error()
                      << "\n";
            status = 1;
        }
    }
    std::cout << "kqunit: stopped (" << (g_stopRequested ? "signal" : "idle") << "), " << uploads
              << " upload(s)" << std::endl;
    return status;
}
