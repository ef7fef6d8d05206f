#include "cli/report.h"

#include "app/res/resource.h"
#include "cli/report_text.h"
#include "cli/set_evidence_json.h"
#include "cli/unit_text.h"
#include "version/program_version.h"

#include <nlohmann/json.hpp>

#include <map>
#include <string_view>

namespace cli {
namespace {

using nlohmann::json;

json Text(const std::string& bytes) {
    return ReportText(bytes);
}

json Optional(const std::string& text) {
    return text.empty() ? json(nullptr) : Text(text);
}

json Component(const PlannedFile& file) {
    return {{"component", Text(file.component)}, {"file", Text(file.file)}, {"bytes", file.bytes}};
}

json Head(const char* kind, const UpdateSet& set, const ReportHead& head) {
    return {{"schema", std::string(kind) == "update" ? kUpdateReportSchema : kCheckReportSchema},
            {"report", kind},
            {"program", "kqvorlink-cli"},
            {"version", ProgramVersion()},
            {"set", {{"folder", Text(head.setFolder)}, {"model", Text(set.Model())}}},
            {"start", head.started},
            {"end", Optional(head.ended)}};
}

// The components the unit was sent: those whose write it took (a file component's write
// answered, the CPU program's unit back after its restart), in the order of the plan.
json SentComponents(const UpdateSet& set, const RunFacts& facts) {
    json sent = json::array();
    for (const PlannedFile& file : set.Plan()) {
        if (facts.Writes(file.step) > 0)
            sent.push_back(Component(file));
    }
    return sent;
}

json Runs(const std::vector<AttemptRun>& runs) {
    json list = json::array();
    for (const AttemptRun& run : runs)
        list.push_back(
            {{"start", run.start}, {"end", Optional(run.end)}, {"message", Text(run.message)}});
    return list;
}

template <typename T> json OrNull(const std::optional<T>& value) {
    return value ? json(*value) : json(nullptr);
}

json UpdateUnit(const UpdateSet& set, const ReportedUnit& unit) {
    const UnitOutcome& outcome = unit.state.outcome;
    const RunFacts& facts = unit.state.facts;
    // Only a run that went to the dialog's update has a log.
    const bool logged = outcome.result != UnitResult::NotStarted &&
                        outcome.result != UnitResult::Waiting &&
                        outcome.result != UnitResult::Current;
    return {
        {"address", Text(unit.address)},
        {"model", facts.version ? Text(set.Model()) : json(nullptr)},
        {"version_before", facts.version ? Text(VersionAsShown(*facts.version)) : json(nullptr)},
        {"version_after", outcome.versionAfter ? Text(*outcome.versionAfter) : json(nullptr)},
        {"components", SentComponents(set, facts)},
        {"components_acknowledged", facts.ComponentsAcknowledged()},
        {"cpu_passes", facts.Writes(kStepCpu)},
        {"result", ResultName(outcome.result)},
        {"message", Text(outcome.message)},
        {"message_kind", Optional(outcome.messageKind)},
        {"start", Optional(outcome.start)},
        {"end", Optional(outcome.end)},
        {"log", logged ? Text(unit.logPath) : json(nullptr)},
        {"log_kept", logged && unit.state.logKept},
        {"attempts", outcome.runs.size()},
        {"wave", OrNull(outcome.wave)},
        {"runs", Runs(outcome.runs)},
        {"answered", OrNull(outcome.answered)},
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
        {"address", Text(address)},
        {"answered", check.answered},
        {"message", check.answered ? json(nullptr) : Text(check.message)},
        {"model", check.answered ? Text(check.model) : json(nullptr)},
        {"version", check.answered ? Text(check.version) : json(nullptr)},
        {"model_matches", check.modelMatches},
        {"components", components},
        {"files", components.size()},
        {"bytes", bytes},
        {"cpu_passes", wouldSend ? check.cpuPasses : 0},
    };
}

// One unit's object as it stands in the list of units.
std::string UnitText(const UpdateSet& set, const ReportedUnit& unit) {
    std::string text = UpdateUnit(set, unit).dump(2);
    std::string indented = "    ";
    for (const char c : text) {
        indented += c;
        if (c == '\n')
            indented += "    ";
    }
    return indented;
}

// The whole update report around the units' texts, made in one piece of exactly its size: for a
// large rig the report is megabytes, and a copy more of it is the largest part of the memory a
// writing needs. Waiting and running units are counted too, but the summary gives only those
// that ended.
std::string Assembled(const UpdateSet& set, const ReportHead& head,
                      std::map<UnitResult, size_t>& count,
                      const std::vector<const std::string*>& units) {
    json report = Head("update", set, head);
    report["target_version"] = Optional(head.targetVersion);
    report["finish_by"] = Optional(head.finishBy);
    AddSetEvidence(report, head.evidence, head.who);
    report["summary"] = {{"complete", count[UnitResult::Complete]},
                         {"current", count[UnitResult::Current]},
                         {"failed", count[UnitResult::Failed]},
                         {"not_started", count[UnitResult::NotStarted]}};
    std::string top = report.dump(2);
    top.resize(top.size() - 2); // "\n}": the units go before the closing brace
    constexpr std::string_view kUnitsStart = ",\n  \"units\": [";
    constexpr std::string_view kUnitsEnd = "\n  ]\n}\n";
    size_t size = top.size() + kUnitsStart.size() + kUnitsEnd.size();
    for (const std::string* unit : units)
        size += unit->size() + 2;
    std::string text;
    text.reserve(size);
    (text += top) += kUnitsStart;
    for (size_t i = 0; i < units.size(); ++i)
        (text += i == 0 ? "\n" : ",\n") += *units[i];
    text += units.empty() ? "]\n}\n" : kUnitsEnd;
    return text;
}

} // namespace

std::string UpdateReport(const UpdateSet& set, const ReportHead& head,
                         const std::vector<ReportedUnit>& units) {
    std::vector<std::string> texts;
    std::vector<const std::string*> inOrder;
    std::map<UnitResult, size_t> count;
    texts.reserve(units.size());
    for (const ReportedUnit& unit : units) {
        inOrder.push_back(&texts.emplace_back(UnitText(set, unit)));
        ++count[unit.state.outcome.result];
    }
    return Assembled(set, head, count, inOrder);
}

std::string UpdateReportBuilder::Text(const UpdateSet& set, const ReportHead& head,
                                      const std::vector<std::unique_ptr<UnitRun>>& units) {
    m_kept.resize(units.size());
    std::vector<const std::string*> texts;
    texts.reserve(units.size());
    std::map<UnitResult, size_t> count;
    for (size_t i = 0; i < units.size(); ++i) {
        Kept& kept = m_kept[i];
        // A waiting or ended unit stays as it was until its result moves on (it only moves
        // forward); a running one is looked at.
        const UnitResult result = units[i]->Result();
        if (!kept.made || result != kept.result || result == UnitResult::Running) {
            const ReportedUnit unit{units[i]->Address(), units[i]->LogPath(), units[i]->Snapshot()};
            const Kept now{true, unit.state.outcome.result, unit.state.facts.notes,
                           unit.state.outcome.answered, ""};
            if (!kept.made || now.result != kept.result || now.notes != kept.notes ||
                now.answered != kept.answered) {
                kept = now;
                kept.text = UnitText(set, unit);
            }
        }
        texts.push_back(&kept.text);
        ++count[kept.result];
    }
    return Assembled(set, head, count, texts);
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
    report["units"] = std::move(list);
    return report.dump(2) + "\n";
}

} // namespace cli
