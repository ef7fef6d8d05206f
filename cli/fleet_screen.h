#pragma once
// The layout of the fleet's live view on a terminal of a given size: a header with the counts,
// the elapsed time and the time left, then the units a person must see (failed and running ones)
// as far as they fit, and a closing line for those that do not.

#include "cli/unit_run.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace cli {

// How many units are in each state.
using FleetCounts = std::map<UnitResult, size_t>;

std::string HeaderLine(const FleetCounts& counts, uint64_t elapsedMs,
                       std::optional<uint64_t> leftMs);

// Which units get a line of their own, in the order shown (failed ones first), and how many of
// each kind are left out.
struct UnitChoice {
    std::vector<size_t> shown;
    size_t hiddenFailed = 0;
    size_t hiddenRunning = 0;
};

// Chooses among the units for `rows` rows of which the header takes one: all failed and running
// units when they fit; else one row says how many more there are, and the failed units keep at
// least half of the rest.
UnitChoice ChooseUnits(const std::vector<UnitResult>& results, int rows);

// "... and N more running" (and failed); empty when nothing is left out.
std::string ClosingLine(const UnitChoice& choice);

// The columns that begin a unit's line in every view: its address and its own model ("?" until
// the unit has named it), each followed by at least one blank.
std::string UnitColumns(const std::string& address, const std::string& model);
// The text padded with blanks to `width`, or followed by one blank when it is longer.
std::string Column(std::string text, size_t width);

// A running unit's step as its line shows it: the step in progress with its status; between
// steps the last one, done; before the first one the connection.
struct StepShown {
    std::string name;
    std::string state; // safe for a terminal
    bool done = false; // the step has ended (its bar is full)
};
StepShown StepOf(const WindowState& window);

// The order of the summary's rows: complete and current units, then failed ones, then the rest
// (not started), each group in the order given, so that a long table ends with what went wrong.
std::vector<size_t> SummaryOrder(const std::vector<UnitResult>& results);

// The line cut so that it ends before the last column (a full row would make the terminal wrap).
std::string FitToWidth(std::string line, int columns);

// The time the run still needs: each running unit as long as a complete unit took on average,
// less what it has run, then the waiting units in rounds of as many as run now. Nothing before
// the first unit has completed.
std::optional<uint64_t> TimeLeftMs(const std::vector<uint64_t>& completeMs,
                                   const std::vector<uint64_t>& runningForMs, size_t waiting);

} // namespace cli
