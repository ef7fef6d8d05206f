#include "cli/rollout_options.h"

#include "cli/update_set.h"
#include "cli/waves.h"
#include "platform/clock.h"

#include <CLI/CLI.hpp>

#include <chrono>

namespace cli {
namespace {

int64_t EpochMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

} // namespace

void AddRolloutOptions(CLI::App& update, RolloutOptions& options) {
    // A number of a range, which the help names with its default.
    const auto ranged = [&](const char* name, unsigned& value, const std::string& text,
                            unsigned low, unsigned high) {
        return update
            .add_option(name, value,
                        text + " (" + std::to_string(low) + "-" + std::to_string(high) +
                            ", default " + std::to_string(value) + ")")
            ->check(CLI::Range(low, high));
    };
    CLI::Option* waves =
        update
            .add_option("--waves", options.waves,
                        "start the units in waves of these cumulative sizes, counts or shares "
                        "(e.g. 1,10%,100%) of units sent the set; a wave starts when every unit "
                        "of the one before has ended")
            ->type_name("LIST");
    // A budget is weighed only between waves: without them it would be ignored.
    ranged("--max-fail-percent", options.maxFailPercent,
           "start no further wave once more than P % of the units sent the set so far failed", 0,
           100)
        ->needs(waves)
        ->each([&options](const std::string&) { options.budgetGiven = true; });
    update
        .add_option("--finish-by", options.finishBy,
                    "start a unit only if it is expected to end before TIME: HH:MM (local, "
                    "its occurrence nearest to now) or an ISO 8601 date and time")
        ->type_name("TIME");
    ranged("--retry-unanswered", options.retryUnanswered,
           "try a unit that did not answer (connection refused or timed out before the "
           "greeting) up to N more times",
           0, 20);
    ranged("--retry-delay", options.retryDelaySeconds,
           "seconds before the first further attempt, doubled for each one after, at most 300", 1,
           300);
}

std::string MakeRolloutRules(const RolloutOptions& options, size_t units,
                             unsigned stopAfterFailures, const UpdateSet& set,
                             RolloutRules& rules) {
    if (options.budgetGiven && options.waves.empty())
        return "--max-fail-percent needs a list of waves: --waves is empty";
    WavePlan waves = PlanWaves(options.waves, units);
    if (!waves.error.empty())
        return "--waves " + waves.error;
    rules.waves = std::move(waves.ends);
    rules.wavesGiven = !options.waves.empty();
    rules.maxFailPercent = options.maxFailPercent;
    rules.stopAfterFailures = stopAfterFailures;
    rules.retryUnanswered = options.retryUnanswered;
    rules.retryDelaySeconds = options.retryDelaySeconds;
    if (!options.finishBy.empty()) {
        const int64_t now = EpochMs();
        FinishTime time = ParseFinishTime(options.finishBy, now / 1000);
        if (!time.error.empty())
            return "--finish-by " + time.error;
        const uint64_t estimate = EstimateMs(TraitsOf(set));
        rules.window.emplace(std::move(time), platform::ScaledMs(uint32_t(
                                                  std::min<uint64_t>(estimate, UINT32_MAX))));
    }
    return "";
}

std::string PlanLine(const RolloutRules& rules) {
    std::string line;
    if (rules.waves.size() > 1) {
        line = "waves: ";
        for (size_t i = 0; i < rules.waves.size(); ++i)
            line += (i ? ", " : "") + std::to_string(rules.waves[i]);
        line += " units (budget " + std::to_string(rules.maxFailPercent) +
                " % of the units sent the set)";
    }
    if (rules.window)
        line += (line.empty() ? "" : "; ") + rules.window->HeaderText();
    return line.empty() ? line : "Roll-out: " + line;
}

RolloutNow RolloutClock() {
    return {platform::NowMs(), EpochMs()};
}

} // namespace cli
