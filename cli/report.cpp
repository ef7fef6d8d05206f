#include "cli/report.h"

#include "app/res/program_version.h"
#include "app/res/resource.h"

#include <nlohmann/json.hpp>

#include <algorithm>

namespace cli {
namespace {

using nlohmann::json;

json Optional(const std::string& text) {
    return text.empty() ? json(nullptr) : json(text);
}

// The components the unit was sent: all of the plan after a complete run; after a failure only
// those whose step had ended before the failing one (the step in progress counts as not sent).
json SentComponents(const UpdateSet& set, const UnitRun& unit, const WindowState& window,
                    int& cpuPasses) {
    std::vector<int> finished = window.finishedLabels;
    const UnitResult result = unit.Result();
    if (result == UnitResult::Failed && !finished.empty())
        finished.pop_back();
    cpuPasses = int(std::count(finished.begin(), finished.end(), IDC_STEP1));
    json sent = json::array();
    for (const PlannedFile& file : set.Plan()) {
        if (std::find(finished.begin(), finished.end(), file.labelId) == finished.end())
            continue;
        sent.push_back({{"component", file.component}, {"file", file.file}, {"bytes", file.bytes}});
    }
    return sent;
}

} // namespace

std::string FleetReport(const UpdateSet& set, const std::string& setFolder,
                        const std::vector<std::unique_ptr<UnitRun>>& units,
                        const std::string& started, const std::string& ended) {
    json report;
    report["program"] = "kqvorlink-cli";
    report["version"] = ProgramVersion();
    report["set"] = {{"folder", setFolder}, {"model", set.Model()}};
    report["start"] = started;
    report["end"] = ended;
    json list = json::array();
    size_t counts[3] = {};
    for (const auto& unit : units) {
        const UnitOutcome outcome = unit->Outcome();
        const WindowState window = unit->Window();
        int cpuPasses = 0;
        json sent = SentComponents(set, *unit, window, cpuPasses);
        const bool modelKnown = !window.firstVersionLine.empty();
        list.push_back({
            {"address", unit->Address()},
            {"model", modelKnown ? json(set.Model()) : json(nullptr)},
            {"version_before", Optional(window.firstVersionLine)},
            {"components", sent},
            {"cpu_passes", cpuPasses},
            {"result", ResultName(outcome.result)},
            {"message", outcome.message},
            {"message_kind", Optional(outcome.messageKind)},
            {"start", Optional(outcome.start)},
            {"end", Optional(outcome.end)},
            {"log",
             outcome.result == UnitResult::NotStarted ? json(nullptr) : json(unit->LogPath())},
            {"log_kept", outcome.result != UnitResult::NotStarted && unit->LogKept()},
        });
        counts[outcome.result == UnitResult::Complete ? 0
               : outcome.result == UnitResult::Failed ? 1
                                                      : 2]++;
    }
    report["units"] = list;
    report["summary"] = {
        {"complete", counts[0]}, {"failed", counts[1]}, {"not_started", counts[2]}};
    return report.dump(2) + "\n";
}

} // namespace cli
