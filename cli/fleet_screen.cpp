#include "cli/fleet_screen.h"

#include "cli/terminal_text.h"

#include <algorithm>
#include <numeric>

namespace cli {
namespace {

// The header counts both kinds of waiting unit as waiting.
size_t Count(const FleetCounts& counts, UnitResult result) {
    const auto found = counts.find(result);
    const size_t count = found == counts.end() ? 0 : found->second;
    return result == UnitResult::Waiting ? count + Count(counts, UnitResult::AwaitingRetry) : count;
}

std::string Duration(uint64_t ms) {
    const uint64_t s = (ms + 500) / 1000;
    char text[32];
    if (s >= 3600)
        std::snprintf(text, sizeof text, "%llu:%02llu:%02llu", (unsigned long long)(s / 3600),
                      (unsigned long long)(s / 60 % 60), (unsigned long long)(s % 60));
    else
        std::snprintf(text, sizeof text, "%llu:%02llu", (unsigned long long)(s / 60),
                      (unsigned long long)(s % 60));
    return text;
}

} // namespace

std::string HeaderLine(const FleetCounts& counts, uint64_t elapsedMs,
                       std::optional<uint64_t> leftMs) {
    std::string line;
    for (const UnitResult result :
         {UnitResult::Complete, UnitResult::Current, UnitResult::Failed, UnitResult::Running,
          UnitResult::Waiting, UnitResult::NotStarted}) {
        // Units left as they were exist only with --skip-version, units that will not start only
        // after an interrupt or too many failures: each is counted once there is one.
        const bool optional = result == UnitResult::Current || result == UnitResult::NotStarted;
        if (optional && Count(counts, result) == 0)
            continue;
        line += (line.empty() ? "" : ", ") + std::to_string(Count(counts, result)) + " " +
                ResultName(result);
    }
    line += " | " + Duration(elapsedMs) + " elapsed";
    if (leftMs)
        line += ", about " + Duration(*leftMs) + " left";
    return line;
}

UnitChoice ChooseUnits(const std::vector<UnitResult>& results, int rows) {
    std::vector<size_t> failed, running;
    for (size_t i = 0; i < results.size(); ++i) {
        if (results[i] == UnitResult::Failed)
            failed.push_back(i);
        else if (results[i] == UnitResult::Running)
            running.push_back(i);
    }
    const size_t unitRows = size_t(std::max(rows - 1, 0));
    size_t failedRows = failed.size(), runningRows = running.size();
    if (failedRows + runningRows > unitRows) {
        const size_t room = unitRows > 0 ? unitRows - 1 : 0; // one row says what is left out
        failedRows = std::min(failed.size(),
                              std::max(room - std::min(room, running.size()), (room + 1) / 2));
        runningRows = std::min(running.size(), room - failedRows);
    }
    UnitChoice choice;
    choice.shown.assign(failed.begin(), failed.begin() + long(failedRows));
    choice.shown.insert(choice.shown.end(), running.begin(), running.begin() + long(runningRows));
    choice.hiddenFailed = failed.size() - failedRows;
    choice.hiddenRunning = running.size() - runningRows;
    return choice;
}

std::string ClosingLine(const UnitChoice& choice) {
    std::string line;
    if (choice.hiddenFailed > 0)
        line = std::to_string(choice.hiddenFailed) + " more failed";
    if (choice.hiddenRunning > 0)
        line += (line.empty() ? "" : ", ") + std::to_string(choice.hiddenRunning) + " more running";
    return line.empty() ? line : "... and " + line;
}

std::string Column(std::string text, size_t width) {
    text.append(text.size() < width ? width - text.size() : 1, ' ');
    return text;
}

std::string UnitColumns(const std::string& address, const std::string& model) {
    constexpr size_t kAddressWidth = 16, kModelWidth = 7;
    return Column(address, kAddressWidth) +
           Column(model.empty() ? "?" : TerminalText(model), kModelWidth);
}

StepShown StepOf(const WindowState& window) {
    std::string status = TerminalText(window.status);
    while (!status.empty() && status.back() == '.')
        status.pop_back(); // "writing..." reads as "writing"
    if (window.boldLabel != 0)
        return {ComponentName(window.boldLabel), status.empty() ? "started" : status};
    if (window.lastLabel != 0)
        // A step that failed ends the run, so between steps the last one has succeeded; what
        // follows it (connecting again after the CPU program's restart) is said too.
        return {ComponentName(window.lastLabel), status.empty() ? "done" : "done; " + status, true};
    return {"Connection", status.empty() ? "starting" : status};
}

std::vector<size_t> SummaryOrder(const std::vector<UnitResult>& results) {
    const auto group = [&](size_t i) {
        const UnitResult result = results[i];
        return Done(result) ? 0 : result == UnitResult::Failed ? 1 : 2;
    };
    std::vector<size_t> order(results.size());
    std::iota(order.begin(), order.end(), size_t(0));
    std::stable_sort(order.begin(), order.end(),
                     [&](size_t a, size_t b) { return group(a) < group(b); });
    return order;
}

std::string FitToWidth(std::string line, int columns) {
    const size_t width = size_t(std::max(columns - 1, 1));
    if (line.size() > width)
        line.resize(width);
    return line;
}

std::optional<uint64_t> TimeLeftMs(const std::vector<uint64_t>& completeMs,
                                   const std::vector<uint64_t>& runningForMs, size_t waiting) {
    if (completeMs.empty())
        return std::nullopt;
    const uint64_t mean =
        std::accumulate(completeMs.begin(), completeMs.end(), uint64_t(0)) / completeMs.size();
    uint64_t runningLeft = 0;
    for (const uint64_t ran : runningForMs)
        runningLeft = std::max(runningLeft, ran < mean ? mean - ran : 0);
    const size_t atOnce = std::max<size_t>(runningForMs.size(), 1);
    return runningLeft + (waiting + atOnce - 1) / atOnce * mean;
}

} // namespace cli
