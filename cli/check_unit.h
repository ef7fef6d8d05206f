#pragma once
// `check` for one unit: log in, "EXCM r_INF", "EXCM uname", "QUIT", through the dialog's own
// session code; the unit is never switched to update mode.

#include "cli/update_set.h"

#include <string>

namespace cli {

struct CheckResult {
    bool answered = false;
    std::string model;   // as the unit names itself
    std::string version; // its version text
    bool modelMatches = false;
    int cpuPasses = 0;
    std::string message; // why it did not answer
};

CheckResult CheckUnit(const std::string& address, const UpdateSet& set);

} // namespace cli
