#pragma once
// `update`: every unit of the list updated from the set, as the roll-out's rules start them,
// with the live view on out and the report rewritten as the run goes. Returns the exit status.

#include "cli/command_options.h"
#include "cli/report_file.h"
#include "cli/rollout.h"
#include "cli/signed_set_commands.h"
#include "cli/unit_list.h"
#include "cli/update_set.h"

#include <cstdio>

namespace cli {

// prepared: the set's files as every unit gets them, and what the report says of them.
int Update(const CommandOptions& options, RolloutRules rules, const UnitList& list,
           const UpdateSet& set, const PreparedSet& prepared, ReportFile& report, bool terminal,
           std::FILE* out, std::FILE* err);

} // namespace cli
