#pragma once
// The UNIT arguments: a dotted IPv4 address, a range of them ("127.0.0.10-127.0.0.40") or
// "@FILE" (one UNIT per line, "#" starts a comment). Every argument is checked before anything
// is sent: a bad one names itself and what is wrong with it.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace cli {

// A dotted IPv4 address in host order: four decimal numbers 0-255 of one to three digits.
std::optional<uint32_t> ParseDottedAddress(const std::string& text);
std::string DottedAddress(uint32_t address);

// The most units one range may name.
constexpr uint32_t kMaxRangeUnits = 65536;

struct UnitList {
    std::vector<std::string> addresses; // in order of first mention, each once
    std::string error;                  // empty when every argument was good
};

// readFile gives a file's text, or nullopt when it cannot be read.
UnitList ParseUnits(const std::vector<std::string>& args,
                    const std::function<std::optional<std::string>(const std::string&)>& readFile);

} // namespace cli
