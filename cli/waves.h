#pragma once
// Waves of a roll-out (--waves 1,10%,100%) and the failure budget between them
// (--max-fail-percent). A wave starts only when every unit of the wave before has ended, so a bad
// update set reaches the units of the first wave and no more. A wave counts the units it sent the
// set: a unit left as it was (current), one that did not answer, was busy or is of another model
// is no test of the set, so the wave takes the next unit instead, and the budget does not count
// it.

#include <cstddef>
#include <string>
#include <vector>

namespace cli {

struct WavePlan {
    // Cumulative: wave i ends once ends[i] units in all have been sent the set (or none is left).
    std::vector<size_t> ends;
    std::string error; // why the list cannot be used (then ends is empty)
};

// The waves of `units` units from a list of cumulative sizes, each a count ("10") or a share of
// the units ("25%", rounded up). Sizes past the number of units are cut to it and sizes that add
// no unit (also one smaller than a size before it) are dropped; units after the last size make a
// last wave of their own. Without a list every unit is in one wave. Only a malformed list is
// refused.
WavePlan PlanWaves(const std::string& list, size_t units);

// Whether the units sent the set so far used up the budget: more than `percent` % of them failed.
bool BudgetSpent(size_t tested, size_t failed, unsigned percent);

// Why wave `next` (0-based) of `waves` does not start, for the units left waiting.
std::string WaveStoppedText(size_t next, size_t waves, size_t tested, size_t failed,
                            unsigned percent);

} // namespace cli
