#pragma once
// Waves of a roll-out (--waves 1,10%,100%) and the failure budget between them
// (--max-fail-percent). A wave starts only when every unit of the wave before has ended, so a bad
// update set reaches the units of the first wave and no more.

#include <cstddef>
#include <string>
#include <vector>

namespace cli {

struct WavePlan {
    std::vector<size_t> ends; // cumulative: wave i holds the units [ends[i-1], ends[i])
    std::string error;        // why the list cannot be used (then ends is empty)
};

// The waves of `units` units from a list of cumulative sizes, each a count ("10") or a share of
// the units ("25%", rounded up). Sizes past the number of units are cut to it and sizes that add
// no unit are dropped; units after the last size make a last wave of their own. Without a list
// every unit is in one wave.
WavePlan PlanWaves(const std::string& list, size_t units);

// Whether the units that have ended so far used up the budget: more than `percent` % failed.
bool BudgetSpent(size_t ended, size_t failed, unsigned percent);

// Why wave `next` (0-based) of `waves` does not start, for the units left waiting.
std::string WaveStoppedText(size_t next, size_t waves, size_t ended, size_t failed,
                            unsigned percent);

} // namespace cli
