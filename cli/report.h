#pragma once
// The JSON reports of `update` and `check` (--report FILE), for a site's own automation. Their
// schemas are in docs/schema/ and described in the README ("Updating many units"); "schema"
// names the version of the layout and changes only when a reader would have to change.

#include "cli/check_unit.h"
#include "cli/unit_run.h"

#include <memory>
#include <string>
#include <vector>

namespace cli {

// The update report's layout is at 2 (units' `attempts`); the check report's is still 1.
constexpr int kUpdateReportSchema = 2;
constexpr int kCheckReportSchema = 1;

// What both reports start with.
struct ReportHead {
    std::string setFolder;
    std::string started;
    std::string ended; // empty while the run goes on (null in the report)
};

std::string UpdateReport(const UpdateSet& set, const ReportHead& head,
                         const std::vector<std::unique_ptr<UnitRun>>& units);

// The units checked so far: addresses[i] has results[i].
std::string CheckReport(const UpdateSet& set, const ReportHead& head,
                        const std::vector<std::string>& addresses,
                        const std::vector<CheckResult>& results);

} // namespace cli
