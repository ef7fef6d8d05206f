#pragma once
// kqunit's command line: one unit or a fleet of units (an address range), each with its own
// store folder and its own settings and faults from the scenario files.

#include <string>
#include <vector>

#include "sim/sim_unit.h"

namespace sim {

struct KqunitArgs {
    std::vector<UnitConfig> units; // one per address, in address order
    bool help = false;
    bool version = false; // print the program's version and end
};

// Reads the arguments (without the program's name); false with a reason on a usage error.
bool ParseKqunitArgs(const std::vector<std::string>& args, KqunitArgs* out, std::string* error);

// The --help text: every option the parser knows.
std::string KqunitHelp();

} // namespace sim
