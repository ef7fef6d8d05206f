#include "cli/report.h"

#include "app/res/resource.h"
#include "version/program_version.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <map>

namespace cli {
namespace {

using nlohmann::json;

json Optional(const std::string& text) {
    return text.empty() ? json(nullptr) : json(text);
}

json Component(const PlannedFile& file) {
    return {{"component", file.component}, {"file", file.file}, {"bytes", file.bytes}};
}

json Head(const char* kind, const UpdateSet& set, const ReportHead& head) {
    return {{"schema", kReportSchema},
            {"report", kind},
            {"program", "kqvorlink-cli"},
            {"version", ProgramVersion()},
            {"set", {{"folder", head.setFolder}, {"model", set.Model()}}},
            {"start", head.started},
            {"end", Optional(head.ended)}};
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
        if (std::find(finished.begin(), finished.end(), file.labelId) != finished.end())
            sent.push_back(Component(file));
    }
    return sent;
}

json UpdateUnit(const UpdateSet& set, const UnitRun& unit) {
    const UnitOutcome outcome = unit.Outcome();
    const WindowState window = unit.Window();
    int cpuPasses = 0;
    json sent = SentComponents(set, unit, window, cpuPasses);
    const bool modelKnown = !window.firstVersionLine.empty();
    // Only a run that went to the dialog's update has a log.
    const bool logged = outcome.result != UnitResult::NotStarted &&
                        outcome.result != UnitResult::Waiting &&
                        outcome.result != UnitResult::Current;
    return {
        {"address", unit.Address()},
        {"model", modelKnown ? json(set.Model()) : json(nullptr)},
        {"version_before", Optional(window.firstVersionLine)},
        {"components", sent},
        {"cpu_passes", cpuPasses},
        {"result", ResultName(outcome.result)},
        {"message", outcome.message},
        {"message_kind", Optional(outcome.messageKind)},
        {"start", Optional(outcome.start)},
        {"end", Optional(outcome.end)},
        {"log", logged ? json(unit.LogPath()) : json(nullptr)},
        {"log_kept", logged && unit.LogKept()},
    };
}

// What an update would send to a checked unit: nothing to one that did not answer or is of
// another model (the update would stop before sending), else the plan with the CPU program as
// often as that unit's version needs it.
json CheckUnitObject(const UpdateSet& set, const std::string& address, const CheckResult& check) {
    json components = json::array();
    uint64_t bytes = 0;
    const bool wouldSend = check.answered && check.modelMatches;
    for (const PlannedFile& file : set.Plan()) {
        const int times = file.labelId == IDC_STEP1 ? check.cpuPasses : 1;
        if (!wouldSend || times == 0)
            continue;
        components.push_back(Component(file));
        bytes += file.bytes * uint64_t(times);
    }
    return {
        {"address", address},
        {"answered", check.answered},
        {"message", check.answered ? json(nullptr) : json(check.message)},
        {"model", check.answered ? json(check.model) : json(nullptr)},
        {"version", check.answered ? json(check.version) : json(nullptr)},
        {"model_matches", check.modelMatches},
        {"components", components},
        {"files", components.size()},
        {"bytes", bytes},
        {"cpu_passes", wouldSend ? check.cpuPasses : 0},
    };
}

} // namespace

std::string UpdateReport(const UpdateSet& set, const ReportHead& head,
                         const std::vector<std::unique_ptr<UnitRun>>& units) {
    json report = Head("update", set, head);
    json list = json::array();
    // Waiting and running units are counted too, but the summary gives only those that ended.
    std::map<UnitResult, size_t> count;
    for (const auto& unit : units) {
        list.push_back(UpdateUnit(set, *unit));
        ++count[unit->Result()];
    }
    report["summary"] = {{"complete", count[UnitResult::Complete]},
                         {"current", count[UnitResult::Current]},
                         {"failed", count[UnitResult::Failed]},
                         {"not_started", count[UnitResult::NotStarted]}};
    report["units"] = list;
    return report.dump(2) + "\n";
}

std::string CheckReport(const UpdateSet& set, const ReportHead& head,
                        const std::vector<std::string>& addresses,
                        const std::vector<CheckResult>& results) {
    json report = Head("check", set, head);
    json list = json::array();
    size_t answered = 0, matching = 0;
    for (size_t i = 0; i < results.size(); ++i) {
        list.push_back(CheckUnitObject(set, addresses[i], results[i]));
        answered += results[i].answered ? 1 : 0;
        matching += results[i].modelMatches ? 1 : 0;
    }
    report["summary"] = {{"answered", answered},
                         {"not_answered", results.size() - answered},
                         {"model_matches", matching}};
    report["units"] = list;
    return report.dump(2) + "\n";
}

} // namespace cli
