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

int Usage(const std::string& why) {
    std::cerr << "kqunit: " << why << "\n"
              << "usage: kqunit --address 127.0.0.N --store DIR [--model KQ-B2] [--version TEXT]\n"
              << "              [--idle-timeout-s S] [--restart-refuse-ms MS] [--no-telnet]\n"
              << "              [--scenario FILE]\n";
    return 2;
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
    while (unit.Running() && !g_stopRequested) {
        unit.WaitForCommands(shown + 1, std::chrono::milliseconds(100));
        const auto commands = unit.Commands();
        for (; shown < commands.size(); ++shown) {
            std::cout << commands[shown] << std::endl;
        }
    }
    unit.Stop();
    const auto commands = unit.Commands();
    for (; shown < commands.size(); ++shown) {
        std::cout << commands[shown] << std::endl;
    }
    if (!g_stopRequested && !unit.Error().empty()) {
        std::cerr << "kqunit: " << unit.Error() << "\n";
        return 1;
    }
    std::cout << "kqunit: stopped (" << (g_stopRequested ? "signal" : "idle") << "), "
              << unit.Uploads().size() << " upload(s)" << std::endl;
    return 0;
}
