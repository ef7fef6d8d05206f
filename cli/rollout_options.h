#pragma once
// The update command's roll-out options (--waves, --max-fail-percent, --finish-by,
// --retry-unanswered, --retry-delay) and the rules they make for a run.

#include "cli/rollout.h"

#include <cstdint>
#include <string>

namespace CLI {
class App;
}

namespace cli {

class UpdateSet;

struct RolloutOptions {
    std::string waves;
    unsigned maxFailPercent = 0;
    bool budgetGiven = false; // --max-fail-percent was given
    std::string finishBy;
    unsigned retryUnanswered = 0;
    unsigned retryDelaySeconds = 30;
};

void AddRolloutOptions(CLI::App& update, RolloutOptions& options);

// The rules for a run of `units` units with the set, or why the options cannot serve (a usage
// error, said before any unit is contacted).
std::string MakeRolloutRules(const RolloutOptions& options, size_t units,
                             unsigned stopAfterFailures, const UpdateSet& set, RolloutRules& rules);

// The rules as the plan shows them before the run ("Roll-out: waves: 5, 10 units (budget ...);
// until 2026-12-08 06:00, ..."); empty when the run has one wave and no window.
std::string PlanLine(const RolloutRules& rules);

// The moment for the roll-out's decisions.
RolloutNow RolloutClock();

} // namespace cli
