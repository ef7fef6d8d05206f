#include "sim/kqunit_options.h"

#include <algorithm>
#include <cstdlib>
#include <fcntl.h>
#include <sstream>
#include <unistd.h>

#include "sim/scenario.h"
#include "sim/sim_socket.h"

namespace sim {

namespace {

constexpr uint32_t kMaxUnits = 1024;

struct OptionInfo {
    const char* name;
    const char* value; // nullptr for a flag
    const char* help;
};

constexpr OptionInfo kOptions[] = {
    {"--address", "A|FIRST-LAST",
     "the unit's address, or a range of addresses for a fleet of units served by this one "
     "process (127.0.0.100-127.0.0.163); in 127.0.0.0/8, at most 1024 units"},
    {"--store", "DIR",
     "folder for the files the unit receives (created when missing); a fleet stores into "
     "DIR/<address>/"},
    {"--model", "M", "model named in the EXCM r_INF reply (default KQ-A2)"},
    {"--unit-version", "TEXT", "version text of the EXCM uname reply (default KQ-A2.01.02.45)"},
    {"--scenario", "FILE",
     "settings and scripted faults for every unit, one per line; sections [ADDRESS] or "
     "[FIRST-LAST] hold lines for some units only (see sim/README.md)"},
    {"--scenario-for", "A|FIRST-LAST FILE",
     "a scenario file for the units at those addresses only (may be given again); read after "
     "--scenario"},
    {"--strict", nullptr,
     "refuse, as a real unit, a line without CR, a verb in lower case, STOR without two blanks "
     "and a record name other than the listed one (default: lenient, for plain FTP clients such "
     "as curl)"},
    {"--no-telnet", nullptr, "no telnet server (connections to port 23 are refused)"},
    {"--restart-refuse-ms", "MS",
     "how long the unit refuses connections while it restarts after a CPU program (default "
     "3000)"},
    {"--idle-timeout-s", "S", "a unit stops after S seconds without any activity (default 120)"},
    {"--help", nullptr, "this text"},
    {"--version", nullptr, "the program's name and version"},
};

const OptionInfo* FindOption(const std::string& name) {
    for (const auto& entry : kOptions) {
        if (name == entry.name) {
            return &entry;
        }
    }
    return nullptr;
}

bool ParseCount(const std::string& text, uint32_t* out) {
    char* end = nullptr;
    const unsigned long value = std::strtoul(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || text[0] == '-' || value > 0xffffffffUL / 1000) {
        return false;
    }
    *out = static_cast<uint32_t>(value);
    return true;
}

bool ApplyFile(const std::string& path, UnitConfig& config, std::string* error) {
    // Read through a close-on-exec descriptor, as every file the unit opens.
    net::Fd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    std::string text;
    char chunk[4096];
    ssize_t got = 0;
    while (file.Valid() && (got = ::read(file.Get(), chunk, sizeof chunk)) > 0)
        text.append(chunk, size_t(got));
    if (!file.Valid() || got < 0) {
        *error = "cannot read scenario " + path;
        return false;
    }
    std::istringstream in(text);
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

} // namespace

bool ParseKqunitArgs(const std::vector<std::string>& args, KqunitArgs* out, std::string* error) {
    using net::ParseAddressRange;
    UnitConfig base;
    base.strict = false;
    base.keptContentBytes = 0; // the files are in the store; nobody reads them from memory
    std::string addresses = base.address, store, scenario;
    std::vector<std::pair<std::string, std::string>> scenarioFor;
    for (size_t i = 0; i < args.size(); ++i) {
        const OptionInfo* entry = FindOption(args[i]);
        if (!entry) {
            *error = "unknown option " + args[i];
            return false;
        }
        const std::string name = entry->name;
        const size_t values = !entry->value ? 0 : name == "--scenario-for" ? 2 : 1;
        if (values > 0 && i + values >= args.size()) {
            *error = "missing value for " + name;
            return false;
        }
        const std::string value = values > 0 ? args[i + 1] : "";
        i += values;
        uint32_t count = 0;
        if (name == "--help") {
            out->help = true;
        } else if (name == "--version") {
            out->version = true;
        } else if (name == "--strict" || name == "--no-telnet") {
            (name == "--strict" ? base.strict : base.telnetEnabled) = name == "--strict";
        } else if (name == "--address") {
            addresses = value;
        } else if (name == "--store") {
            store = value;
        } else if (name == "--model") {
            base.model = value;
        } else if (name == "--unit-version") {
            base.versionText = value;
        } else if (name == "--scenario") {
            scenario = value;
        } else if (name == "--scenario-for") {
            uint32_t first = 0, last = 0;
            if (!ParseAddressRange(value, &first, &last)) {
                *error = "bad address or range for --scenario-for: " + value;
                return false;
            }
            scenarioFor.emplace_back(value, args[i]);
        } else if (!ParseCount(value, &count)) {
            *error = "bad " + name + " " + value;
            return false;
        } else if (name == "--restart-refuse-ms") {
            base.restartRefuseMs = count;
        } else {
            base.idleTimeoutMs = count * 1000;
        }
    }
    if (out->help || out->version) {
        return true;
    }
    uint32_t first = 0, last = 0;
    if (!ParseAddressRange(addresses, &first, &last) || (first >> 24) != 127 ||
        (last >> 24) != 127) {
        *error = addresses + " is not a loopback address or range (127.0.0.0/8, FIRST-LAST)";
        return false;
    }
    if (last - first >= kMaxUnits) {
        *error = "at most " + std::to_string(kMaxUnits) + " units in one kqunit";
        return false;
    }
    if (store.empty()) {
        *error = "--store DIR is required";
        return false;
    }
    // The command line's settings first; the scenario files' settings win for their units.
    for (uint32_t at = first; at <= last; ++at) {
        UnitConfig unit = base;
        unit.address = net::AddressText(net::FromHostOrder(at));
        unit.storeDir = first == last ? store : store + "/" + unit.address;
        if (!scenario.empty() && !ApplyFile(scenario, unit, error)) {
            return false;
        }
        for (const auto& [range, file] : scenarioFor) {
            if (InRange(range, unit.address) && !ApplyFile(file, unit, error)) {
                return false;
            }
        }
        out->units.push_back(std::move(unit));
    }
    return true;
}

std::string KqunitHelp() {
    std::string text =
        "kqunit: simulated camera control units (KQ-A2/KQ-B2) on loopback, for tests and "
        "training.\n"
        "Each unit serves FTP (port 21) and telnet (port 23) on its own address in 127.0.0.0/8,\n"
        "stores every file it receives, and plays scripted faults. Every command line received\n"
        "is printed (with the unit's address in front when there are several).\n\n"
        "usage: kqunit --address A|FIRST-LAST --store DIR [options]\n\n";
    for (const auto& entry : kOptions) {
        std::string head = std::string("  ") + entry.name + (entry.value ? " " : "") +
                           (entry.value ? entry.value : "");
        text += head + "\n" + Wrapped(entry.help, "      ", 78);
    }
    text += "\nThe command line's settings apply to every unit; a scenario's settings and faults\n"
            "(--scenario, its sections, then --scenario-for) win for the units they are for.\n"
            "Ends on Ctrl-C / SIGTERM, or when every unit has been idle; exit status 0, 1 when a\n"
            "unit cannot serve, 2 on a usage error. Faults that refuse chosen connection\n"
            "attempts need root (a raw socket).\n";
    return text;
}

} // namespace sim
