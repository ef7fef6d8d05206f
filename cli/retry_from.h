#pragma once
// --retry-from REPORT: the units an earlier update report shows as not complete (failed, not
// started, or still running or waiting in a report of a run that was cut off), to run again with
// the set given now. Only the JSON report is read.

#include <string>
#include <vector>

namespace cli {

struct RetryUnits {
    std::vector<std::string> addresses; // in the report's order, each once
    std::string error;                  // empty when the report could be used
};

// reportText: the earlier report; model: the set's model now (a report of another is refused).
RetryUnits UnitsToRetry(const std::string& reportText, const std::string& model);

} // namespace cli
