#include "sim/program_version.h"

namespace sim {

std::string VersionFromProgram(const std::string& model, const std::string& programName) {
    const auto digit = [](char c) { return c >= '0' && c <= '9'; };
    const bool numbered = programName.size() >= 4 && digit(programName[2]) && digit(programName[3]);
    return model + ".01.02." + (numbered ? programName.substr(2, 2) : std::string("05"));
}

} // namespace sim
