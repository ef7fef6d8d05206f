#pragma once
// `check` for one unit: log in, "EXCM r_INF", "EXCM uname", "QUIT", through the dialog's own
// session code; the unit is never switched to update mode.

#include "cli/update_set.h"

#include <cstdint>
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

// How persistent the log-in is: `check` tries once; the look after an update tries again while
// the unit does not take the connection, `pauseMs` apart, and logs into the unit's own log.
struct CheckWay {
    int attempts = 1;
    uint32_t pauseMs = 0;
    std::string logPath; // empty: no log
};

CheckResult CheckUnit(const std::string& address, const UpdateSet& set, const CheckWay& way = {});

} // namespace cli
