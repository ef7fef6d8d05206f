#include "cli/unit_list.h"

#include <set>
#include <sstream>

namespace cli {
namespace {

// Adds one UNIT (no @FILE); the error text, or empty.
std::string AddUnit(const std::string& arg, std::vector<uint32_t>& out) {
    const size_t dash = arg.find('-');
    if (dash == std::string::npos) {
        const auto address = ParseDottedAddress(arg);
        if (!address)
            return "'" + arg + "' is not a dotted IPv4 address (four numbers 0-255)";
        out.push_back(*address);
        return "";
    }
    const auto first = ParseDottedAddress(arg.substr(0, dash));
    const auto last = ParseDottedAddress(arg.substr(dash + 1));
    if (!first || !last)
        return "'" + arg + "' is not a range of two dotted IPv4 addresses (FIRST-LAST)";
    if (*last < *first)
        return "'" + arg + "': the range ends before it starts";
    if (*last - *first >= kMaxRangeUnits)
        return "'" + arg + "': a range may name at most " + std::to_string(kMaxRangeUnits) +
               " units";
    for (uint32_t a = *first;; ++a) {
        out.push_back(a);
        if (a == *last)
            break;
    }
    return "";
}

std::string Trimmed(const std::string& text) {
    const size_t begin = text.find_first_not_of(" \t\r");
    if (begin == std::string::npos)
        return "";
    return text.substr(begin, text.find_last_not_of(" \t\r") - begin + 1);
}

} // namespace

std::optional<uint32_t> ParseDottedAddress(const std::string& text) {
    uint32_t address = 0;
    size_t at = 0;
    for (int part = 0; part < 4; ++part) {
        if (part > 0) {
            if (at >= text.size() || text[at] != '.')
                return std::nullopt;
            ++at;
        }
        size_t digits = 0;
        uint32_t value = 0;
        while (at < text.size() && text[at] >= '0' && text[at] <= '9' && digits < 4) {
            value = value * 10 + uint32_t(text[at] - '0');
            ++at;
            ++digits;
        }
        if (digits == 0 || digits > 3 || value > 255)
            return std::nullopt;
        address = (address << 8) | value;
    }
    if (at != text.size())
        return std::nullopt;
    return address;
}

std::string DottedAddress(uint32_t address) {
    return std::to_string(address >> 24) + "." + std::to_string((address >> 16) & 255) + "." +
           std::to_string((address >> 8) & 255) + "." + std::to_string(address & 255);
}

UnitList ParseUnits(const std::vector<std::string>& args,
                    const std::function<std::optional<std::string>(const std::string&)>& readFile) {
    UnitList list;
    std::vector<uint32_t> all;
    for (const std::string& arg : args) {
        if (arg.empty() || arg[0] != '@') {
            if (const std::string error = AddUnit(arg, all); !error.empty()) {
                list.error = "UNIT " + error;
                return list;
            }
            continue;
        }
        const std::string path = arg.substr(1);
        const auto text = readFile(path);
        if (!text) {
            list.error = "UNIT '" + arg + "': the file cannot be read";
            return list;
        }
        std::istringstream lines(*text);
        std::string line;
        for (int number = 1; std::getline(lines, line); ++number) {
            const std::string unit = Trimmed(line.substr(0, line.find('#')));
            if (unit.empty())
                continue;
            if (const std::string error = AddUnit(unit, all); !error.empty()) {
                list.error = "UNIT '" + arg + "' line " + std::to_string(number) + ": " + error;
                return list;
            }
        }
    }
    std::set<uint32_t> seen;
    for (const uint32_t a : all) {
        if (seen.insert(a).second)
            list.addresses.push_back(DottedAddress(a));
    }
    if (list.addresses.empty())
        list.error = "UNIT: no unit given";
    return list;
}

} // namespace cli
