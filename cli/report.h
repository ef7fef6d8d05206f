#pragma once
// The JSON report of a fleet update (--report FILE), for a site's own automation. Its schema is
// described in the README ("Updating many units").

#include "cli/unit_run.h"

#include <memory>
#include <string>
#include <vector>

namespace cli {

// The report's text.
std::string FleetReport(const UpdateSet& set, const std::string& setFolder,
                        const std::vector<std::unique_ptr<UnitRun>>& units,
                        const std::string& started, const std::string& ended);

} // namespace cli
