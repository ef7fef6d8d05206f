#pragma once
// `check`: every unit of the list asked for its model and version, the plan of the set shown, and
// the report written once every unit has answered or not. Returns the exit status.

#include "cli/report_file.h"
#include "cli/unit_list.h"
#include "cli/update_set.h"

#include <cstdio>

namespace cli {

int Check(unsigned jobs, const UnitList& units, const UpdateSet& set, ReportFile& report,
          std::FILE* out, std::FILE* err);

} // namespace cli
