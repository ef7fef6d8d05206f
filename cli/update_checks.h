#pragma once
// What is checked of an update before any unit is contacted: the version options, the set,
// --retry-from's report, the log folder and the roll-out's rules.

#include "cli/command_options.h"
#include "cli/rollout.h"
#include "cli/unit_list.h"

#include <cstdio>
#include <optional>

namespace cli {

class UpdateSet;

// Completes the options (the log folder's default: the set's, the current folder), puts the units
// of --retry-from first in units and makes the roll-out's rules. The status to end with when the
// update does not run (a usage error, said on err; nothing to retry, said on out).
std::optional<int> CheckAndCompleteUpdate(CommandOptions& options, const UpdateSet& set,
                                          UnitList& units, RolloutRules& rules, std::FILE* out,
                                          std::FILE* err);

} // namespace cli
