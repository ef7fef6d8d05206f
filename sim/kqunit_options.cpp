#include "sim/kqunit_options.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cstdlib>
#include <fstream>

#include "sim/scenario.h"
#include "sim/sim_socket.h"

namespace sim {

namespace {

constexpr uint32_t kMaxUnits = 1024;

// What the command line says, before it becomes one configuration per unit.
struct OptionValues {
    UnitConfig base;
    std::string addresses, store, scenario, restartRefuseMs, idleTimeoutS;
    std::vector<std::pair<std::string, std::string>> scenarioFor;
    bool help = false;
    bool version = false;
};

// Every option, in the order --help lists them. The counts stay text until TakeCount reads them.
void DeclareOptions(CLI::App& app, OptionValues& line) {
    app.set_help_flag(); // --help is an option of ours, listed with the others
    // An option given twice: the last one counts.
    app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    app.add_option("--address", line.addresses,
                   "the unit's address, or a range of addresses for a fleet of units served by "
                   "this one process (127.0.0.100-127.0.0.163); in 127.0.0.0/8, at most 1024 units")
        ->type_name("A|FIRST-LAST");
    app.add_option("--store", line.store,
                   "folder for the files the unit receives (created when missing); a fleet stores "
                   "into DIR/<address>/")
        ->type_name("DIR");
    app.add_option("--model", line.base.model,
                   "model named in the EXCM r_INF reply (default KQ-A2)")
        ->type_name("M");
    app.add_option("--unit-version", line.base.versionText,
                   "version text of the EXCM uname reply (default KQ-A2.01.02.45)")
        ->type_name("TEXT");
    app.add_option("--scenario", line.scenario,
                   "settings and scripted faults for every unit, one per line; sections [ADDRESS] "
                   "or [FIRST-LAST] hold lines for some units only (see sim/README.md)")
        ->type_name("FILE");
    app.add_option("--scenario-for", line.scenarioFor,
                   "a scenario file for the units at those addresses only (may be given again); "
                   "read after --scenario")
        ->type_name("A|FIRST-LAST FILE")
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    app.add_flag(
        "--strict", line.base.strict,
        "refuse, as a real unit, a line without CR, a verb in lower case, STOR without two "
        "blanks and a record name other than the listed one (default: lenient, for plain "
        "FTP clients such as curl)");
    app.add_flag_callback(
        "--no-telnet", [&line] { line.base.telnetEnabled = false; },
        "no telnet server (connections to port 23 are refused)");
    app.add_option("--restart-refuse-ms", line.restartRefuseMs,
                   "how long the unit refuses connections while it restarts after a CPU program "
                   "(default 3000)")
        ->type_name("MS");
    app.add_option("--idle-timeout-s", line.idleTimeoutS,
                   "a unit stops after S seconds without any activity (default 120)")
        ->type_name("S");
    app.add_flag("--help", line.help, "this text");
    app.add_flag("--version", line.version, "the program's name and version");
}

// A count in decimal digits (CLI11 would read 010 as octal), small enough that a count of
// seconds fits in milliseconds.
bool TakeCount(const std::string& name, const std::string& text, uint32_t scale, uint32_t* out,
               std::string* error) {
    char* end = nullptr;
    const unsigned long value = std::strtoul(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || text[0] == '-' || value > 0xffffffffUL / 1000) {
        *error = "bad " + name + " " + text;
        return false;
    }
    *out = static_cast<uint32_t>(value) * scale;
    return true;
}

bool ApplyFile(const std::string& path, UnitConfig& config, std::string* error) {
    std::ifstream in(path);
    if (!in) {
        *error = "cannot read scenario " + path;
        return false;
    }
    if (!ApplyScenario(in, config, error)) {
        *error = path + ": " + *error;
        return false;
    }
    return true;
}

bool InRange(const std::string& range, const std::string& address) {
    uint32_t first = 0, last = 0;
    in_addr at{};
    net::ParseAddressRange(range, &first, &last);
    net::ParseIpv4(address, &at);
    return ntohl(at.s_addr) >= first && ntohl(at.s_addr) <= last;
}

// The words of `text` in lines of at most `width` characters, each behind `indent`.
std::string Wrapped(const std::string& text, const std::string& indent, size_t width) {
    std::string out, line = indent;
    size_t at = 0;
    while (at < text.size()) {
        const size_t end = std::min(text.find(' ', at), text.size());
        const std::string word = text.substr(at, end - at);
        if (line.size() > indent.size() && line.size() + 1 + word.size() > width) {
            out += line + "\n";
            line = indent;
        }
        line += (line.size() > indent.size() ? " " : "") + word;
        at = end + 1;
    }
    return out + line + "\n";
}

std::string HelpText(const CLI::App& app) {
    std::string text =
        "kqunit: simulated camera control units (KQ-A2/KQ-B2) on loopback, for tests and "
        "training.\n"
        "Each unit serves FTP (port 21) and telnet (port 23) on its own address in 127.0.0.0/8,\n"
        "stores every file it receives, and plays scripted faults. Every command line received\n"
        "is printed (with the unit's address in front when there are several).\n\n"
        "usage: kqunit --address A|FIRST-LAST --store DIR [options]\n\n";
    for (const CLI::Option* option : app.get_options()) {
        const std::string value = option->get_type_name(); // empty for a flag

        text += "  " + option->get_name() + (value.empty() ? "" : " ") + value + "\n" +
                Wrapped(option->get_description(), "      ", 78);
    }
    text += "\nThe command line's settings apply to every unit; a scenario's settings and faults\n"
            "(--scenario, its sections, then --scenario-for) win for the units they are for.\n"
            "Ends on Ctrl-C / SIGTERM, or when every unit has been idle; exit status 0, 1 when a\n"
            "unit cannot serve, 2 on a usage error. Faults that refuse chosen connection\n"
            "attempts need root (a raw socket).\n";
    return text;
}

// Reads the options; false with the usage error in kqunit's own words, which scripts may match.
bool ParseCommandLine(const std::vector<std::string>& args, OptionValues* line,
                      std::string* error) {
    CLI::App app{"", "kqunit"};
    DeclareOptions(app, *line);
    std::vector<std::string> reversed(args.rbegin(), args.rend()); // CLI11 takes them from the back
    try {
        app.parse(reversed);
    } catch (const CLI::ExtrasError&) {
        *error = "unknown option " + app.remaining().front();
        return false;
    } catch (const CLI::ParseError& e) {
        // A missing value: CLI11 says "NAME: 1 required TYPE missing".
        const std::string what = e.what();
        const bool missing = what.ends_with(" missing") && what.find(": ") != std::string::npos;
        *error = missing ? "missing value for " + what.substr(0, what.find(": ")) : what;
        return false;
    }
    if (line->help || line->version) {
        return true;
    }
    for (const auto& [range, file] : line->scenarioFor) {
        uint32_t first = 0, last = 0;
        if (!net::ParseAddressRange(range, &first, &last)) {
            *error = "bad address or range for --scenario-for: " + range;
            return false;
        }
    }
    return TakeCount("--restart-refuse-ms", line->restartRefuseMs, 1, &line->base.restartRefuseMs,
                     error) &&
           TakeCount("--idle-timeout-s", line->idleTimeoutS, 1000, &line->base.idleTimeoutMs,
                     error);
}

} // namespace

bool ParseKqunitArgs(const std::vector<std::string>& args, KqunitArgs* out, std::string* error) {
    using net::ParseAddressRange;
    OptionValues line;
    line.base.strict = false;
    line.base.keptContentBytes = 0; // the files are in the store; nobody reads them from memory
    line.addresses = line.base.address;
    line.restartRefuseMs = std::to_string(line.base.restartRefuseMs);
    line.idleTimeoutS = std::to_string(line.base.idleTimeoutMs / 1000);
    if (!ParseCommandLine(args, &line, error)) {
        return false;
    }
    out->help = line.help;
    out->version = line.version;
    if (out->help || out->version) {
        return true;
    }
    uint32_t first = 0, last = 0;
    if (!ParseAddressRange(line.addresses, &first, &last) || (first >> 24) != 127 ||
        (last >> 24) != 127) {
        *error = line.addresses + " is not a loopback address or range (127.0.0.0/8, FIRST-LAST)";
        return false;
    }
    if (last - first >= kMaxUnits) {
        *error = "at most " + std::to_string(kMaxUnits) + " units in one kqunit";
        return false;
    }
    if (line.store.empty()) {
        *error = "--store DIR is required";
        return false;
    }
    // The command line's settings first; the scenario files' settings win for their units.
    for (uint32_t at = first; at <= last; ++at) {
        UnitConfig unit = line.base;
        unit.address = net::AddressText(net::FromHostOrder(at));
        unit.storeDir = first == last ? line.store : line.store + "/" + unit.address;
        if (!line.scenario.empty() && !ApplyFile(line.scenario, unit, error)) {
            return false;
        }
        for (const auto& [range, file] : line.scenarioFor) {
            if (InRange(range, unit.address) && !ApplyFile(file, unit, error)) {
                return false;
            }
        }
        out->units.push_back(std::move(unit));
    }
    return true;
}

std::string KqunitHelp() {
    OptionValues line;
    CLI::App app{"", "kqunit"};
    DeclareOptions(app, line);
    return HelpText(app);
}

} // namespace sim
