// kqunit: plays one simulated camera control unit on 127.0.0.N (ftp 21, telnet 23) until it
// has been idle for a while or is told to stop. Prints every command it receives.

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>
#include <thread>

#include "sim/scenario.h"
#include "sim/sim_socket.h"
#include "sim/sim_unit.h"

namespace {

volatile std::sig_atomic_t g_stopRequested = 0;

void OnSignal(int) {
    g_stopRequested = 1;
}

constexpr const char* kHelp =
    R"(kqunit: a simulated camera control unit (KQ-A2/KQ-B2) on loopback, for tests and training.
It serves FTP (port 21) and telnet (port 23) on one address in 127.0.0.0/8, stores every file
it receives, prints every command line it receives, and plays scripted faults.

usage: kqunit --address 127.0.0.N --store DIR [options]

  --address A           the unit's address; must lie in 127.0.0.0/8
  --store DIR           folder for the files the unit receives (created when missing)
  --model M             model named in the EXCM r_INF reply (default KQ-A2)
  --version TEXT        version text of the EXCM uname reply (default KQ-A2.01.02.45)
  --scenario FILE       settings and scripted faults, one per line (see sim/README.md);
                        options given on the command line win over the file's settings
  --strict              refuse, as a real unit, a line without CR, a verb in lower case,
                        STOR without two blanks and a record name other than the listed
                        one (default: lenient, so plain FTP clients such as curl work)
  --no-telnet           no telnet server (connections to port 23 are refused)
  --restart-refuse-ms MS  how long the unit refuses connections while it restarts after a
                        CPU program (default 3000)
  --idle-timeout-s S    stop after S seconds without any activity (default 120)
  --help                this text

Ends on Ctrl-C / SIGTERM or when idle; exit status 0, 1 when it cannot serve, 2 on a usage
error. Faults that refuse chosen connection attempts need root (a raw socket).
)";

int Usage(const std::string& why) {
    std::cerr << "kqunit: " << why << "\n(kqunit --help lists every option)\n";
    return 2;
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

bool ParseCount(const std::string& text, uint32_t& out) {
    char* end = nullptr;
    unsigned long value = std::strtoul(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || text[0] == '-' || value > 0xffffffffUL / 1000) {
        return false;
    }
    out = static_cast<uint32_t>(value);
    return true;
}

} // namespace

int main(int argc, char** argv) {
    sim::UnitConfig config;
    config.strict = false; // plain FTP clients too, unless --strict
    // The scenario is read first, so that the command-line options win over its settings.
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::string(argv[i]) == "--scenario") {
            const std::string scenario = argv[i + 1];
            std::ifstream in(scenario);
            std::string error;
            if (!in) {
                return Usage("cannot read scenario " + scenario);
            }
            if (!sim::ApplyScenario(in, config, &error)) {
                return Usage(scenario + ": " + error);
            }
        }
    }
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--help" || option == "-h") {
            std::cout << kHelp;
            return 0;
        }
        if (option == "--no-telnet" || option == "--strict") {
            (option == "--strict" ? config.strict : config.telnetEnabled) = option == "--strict";
            continue;
        }
        if (i + 1 >= argc) {
            return Usage("missing value for " + option);
        }
        const std::string value = argv[++i];
        uint32_t count = 0;
        if (option == "--address") {
            config.address = value;
        } else if (option == "--store") {
            config.storeDir = value;
        } else if (option == "--model") {
            config.model = value;
        } else if (option == "--version") {
            config.versionText = value;
        } else if (option == "--idle-timeout-s") {
            if (!ParseCount(value, count)) {
                return Usage("bad --idle-timeout-s " + value);
            }
            config.idleTimeoutMs = count * 1000;
        } else if (option == "--restart-refuse-ms") {
            if (!ParseCount(value, config.restartRefuseMs)) {
                return Usage("bad --restart-refuse-ms " + value);
            }
        } else if (option != "--scenario") {
            return Usage("unknown option " + option);
        }
    }
    if (config.storeDir.empty()) {
        return Usage("--store DIR is required");
    }
    in_addr addr{};
    if (!sim::net::ParseIpv4(config.address, &addr) || !sim::net::IsLoopback(addr)) {
        std::cerr << "kqunit: " << config.address
                  << " is not a loopback address (127.0.0.0/8); refusing to bind\n";
        return 2;
    }

    std::signal(SIGTERM, OnSignal);
    std::signal(SIGINT, OnSignal);
    sim::Unit unit(config);
    if (!unit.Start()) {
        std::cerr << "kqunit: " << unit.Error() << "\n";
        return 1;
    }
    std::cout << "kqunit: serving " << config.model << " on " << config.address << " (ftp "
              << config.ftpPort;
    if (config.telnetEnabled) {
        std::cout << ", telnet " << config.telnetPort;
    }
    std::cout << "), storing into " << config.storeDir << std::endl;

    size_t shown = 0;
    const auto printNew = [&unit, &shown] {
        for (const auto& line : unit.CommandsFrom(shown, &shown)) {
            std::cout << Printable(line) << '\n';
        }
        std::cout.flush();
    };
    while (unit.Running() && !g_stopRequested) {
        unit.WaitForCommands(shown + 1, std::chrono::milliseconds(100));
        printNew();
    }
    unit.Stop();
    printNew();
    if (!g_stopRequested && !unit.Error().empty()) {
        std::cerr << "kqunit: " << unit.Error() << "\n";
        return 1;
    }
    std::cout << "kqunit: stopped (" << (g_stopRequested ? "signal" : "idle") << "), "
              << unit.Uploads().size() << " upload(s)" << std::endl;
    return 0;
}
