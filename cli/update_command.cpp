#include "cli/update_command.h"

#include "cli/command_output.h"
#include "cli/fleet_view.h"
#include "cli/local_time.h"
#include "cli/report_writer.h"
#include "cli/rollout_options.h"
#include "cli/update_report_text.h"
#include "cli/version_rule.h"
#include "cli/worker_pool.h"
#include "platform/clock.h"
#include "platform/console.h"
#include "update/component_store.h"

#include <algorithm>
#include <filesystem>
#include <optional>

namespace cli {
namespace {

using UnitRuns = std::vector<std::unique_ptr<UnitRun>>;

// One run for each unit of the list.
UnitRuns MakeUnitRuns(const CommandOptions& options, const UnitList& list, const UpdateSet& set,
                      const std::shared_ptr<ComponentStore>& store) {
    const LogPolicy logs{options.logDir, options.keepLogs};
    // --target-version is a --skip-version too; a set with a CPU program is always read back.
    const VersionRule versions{options.targetVersion ? options.targetVersion : options.skipVersion,
                               options.targetVersion, options.targetVersion || set.HasCpuProgram()};
    UnitRuns units;
    for (const std::string& address : list.addresses)
        units.push_back(std::make_unique<UnitRun>(address, set, store, logs, versions));
    return units;
}

ReportHead FirstHead(const CommandOptions& options, const RolloutRules& rules,
                     const PreparedSet& prepared) {
    return {std::filesystem::current_path().string(),
            LocalTimeNow(),
            "",
            options.targetVersion.value_or(""),
            rules.window ? rules.window->Time().iso : "",
            prepared.evidence,
            prepared.who};
}

// How a unit's run ended, as the roll-out weighs it: a unit that failed before it was sent the
// set (busy, of another model, never identified) is no test of the set.
RunEnd EndOf(const UnitRun& unit) {
    switch (unit.Result()) {
    case UnitResult::Complete:
        return RunEnd::Complete;
    case UnitResult::Current:
        return RunEnd::Current;
    default:
        if (unit.Unanswered())
            return RunEnd::Unanswered;
        return unit.SentTheSet() ? RunEnd::Failed : RunEnd::NotSent;
    }
}

// The run of every unit, from the first start to the summary. One writer writes the report as
// the run goes; the units only say that it changed.
class UpdateRun {
  public:
    UpdateRun(const UnitRuns& units, RolloutRules rules, UpdateReportText& text, ReportFile& report,
              bool terminal, std::FILE* out, std::FILE* err)
        : m_units(units), m_text(text), m_err(err), m_writer(StartWriter(report, text, err)),
          m_view(out, terminal), m_rollout(units.size(), std::move(rules), UnitEvents()) {}

    int Run(unsigned jobs) {
        RunPool(m_units.size(), jobs,
                {.run = [this](size_t i) { RunUnit(i); },
                 .interrupt = [this](size_t, size_t) { StopStarting(); },
                 .tick = [this] { Show(); },
                 .escaped = [this](size_t i, const std::string& why) { FailEscaped(i, why); },
                 .next = [this] { return m_rollout.Next(RolloutClock()); },
                 .interruptShown = [this](size_t running, size_t) { ShowInterrupt(running); },
                 .ended = [this] { MarkEnded(); }});
        ShowEnd();
        const bool reportWritten = !m_writer || m_writer->Finish();
        if (m_interrupted)
            return kInterruptedStatus;
        if (!reportWritten)
            return 1;
        const bool allDone = std::all_of(m_units.begin(), m_units.end(),
                                         [](const auto& unit) { return Done(unit->Result()); });
        return allDone ? 0 : 1;
    }

  private:
    static std::optional<ReportWriter> StartWriter(ReportFile& report, UpdateReportText& text,
                                                   std::FILE* err) {
        if (!report.Wanted())
            return std::nullopt;
        return std::optional<ReportWriter>(
            std::in_place, report, [&text] { return text.Text(); },
            [&report, err](const std::string& why) { SayReportFailed(err, report, why); });
    }

    // The roll-out's decisions, told to the units' runs.
    RolloutEvents UnitEvents() {
        return {
            .notStarted = [this](size_t i,
                                 const std::string& why) { m_units[i]->MarkNotStarted(why); },
            .retryLater = [this](size_t i, uint64_t delayMs) { m_units[i]->AwaitRetry(delayMs); },
            .givenUp = [this](size_t i, const std::string& why) { m_units[i]->GiveUp(why); },
            .startsInWave = [this](size_t i, size_t wave) { m_units[i]->InWave(wave); },
            .name = [this](size_t i) { return m_units[i]->Address(); }};
    }

    void ReportChanged() {
        if (m_writer)
            m_writer->Changed();
    }

    // On a pool thread.
    void RunUnit(size_t i) {
        m_units[i]->MarkRunning();
        ReportChanged();
        const uint64_t began = platform::NowMs();
        m_units[i]->Run(m_rollout.MayTryAgain(i));
        m_rollout.Ended(i, EndOf(*m_units[i]), platform::NowMs() - began, RolloutClock());
        ReportChanged();
    }

    // A run that ended with an exception is never complete: the unit is failed with the reason,
    // and the rest go on.
    void FailEscaped(size_t i, const std::string& why) {
        m_units[i]->MarkFailed(why);
        m_rollout.Ended(i, EndOf(*m_units[i]), 0, RolloutClock());
        ReportChanged();
    }

    // The interrupt, under the pool's lock: no further unit starts. A unit awaiting a further
    // attempt is not "not started": it stays failed.
    void StopStarting() {
        m_interrupted = true;
        const auto count = [this](UnitResult result) {
            return size_t(std::count_if(m_units.begin(), m_units.end(), [result](const auto& unit) {
                return unit->Result() == result;
            }));
        };
        m_notStarted = count(UnitResult::Waiting);
        m_notTriedAgain = count(UnitResult::AwaitingRetry);
        m_rollout.Stop("Not started: the run was interrupted.", "the run was interrupted");
        ReportChanged();
    }

    // What a person is told of the interrupt. Windows ends the process in seconds when its
    // console closes: the running units are cut off, and the report is written a last time now
    // (nothing is written after this).
    void ShowInterrupt(size_t running) {
        m_view.Interrupted(running, m_notStarted, m_notTriedAgain);
        if (!platform::EndingImminent())
            return;
        if (m_writer)
            m_writer->Finish();
        std::vector<std::string> cutOff;
        for (const auto& unit : m_units) {
            if (unit->Result() == UnitResult::Running)
                cutOff.push_back(unit->Address());
        }
        SayCutOffAndEnd(m_err, cutOff);
    }

    void Show() {
        m_view.SetNote(m_rollout.HeaderText());
        m_view.Refresh(m_units);
    }

    // The run's end reaches the report now, whatever the output is doing.
    void MarkEnded() {
        m_text.MarkEnded();
        ReportChanged();
    }

    void ShowEnd() {
        Show();
        if (const std::string notice = m_rollout.StopNotice(); !notice.empty())
            m_view.Notice(notice + ": " + std::to_string(m_rollout.StoppedUnits()) +
                          " unit(s) not started.");
        m_view.Summary(m_units);
    }

    const UnitRuns& m_units;
    UpdateReportText& m_text;
    std::FILE* const m_err;
    std::optional<ReportWriter> m_writer;
    FleetView m_view;
    Rollout m_rollout;
    bool m_interrupted = false;
    size_t m_notStarted = 0;    // by the interrupt
    size_t m_notTriedAgain = 0; // awaiting a further attempt at the interrupt
};

} // namespace

int Update(const CommandOptions& options, RolloutRules rules, const UnitList& list,
           const UpdateSet& set, const PreparedSet& prepared, ReportFile& report, bool terminal,
           std::FILE* out, std::FILE* err) {
    const UnitRuns units = MakeUnitRuns(options, list, set, prepared.store);
    UpdateReportText text(set, FirstHead(options, rules, prepared), units);
    if (const std::string error = FirstReportError(report, text.Text()); !error.empty())
        return UsageError(err, error);
    PrintPlan(out, set);
    if (const std::string line = PlanLine(rules); !line.empty())
        std::fprintf(out, "%s\n", line.c_str());
    const int status =
        UpdateRun(units, std::move(rules), text, report, terminal, out, err).Run(options.jobs);
    const bool completed = std::any_of(units.begin(), units.end(), [](const auto& unit) {
        return unit->Result() == UnitResult::Complete;
    });
    if (!KeepRelease(options.trust, set.Model(), prepared, completed, err) && status == 0)
        return 1;
    return status;
}

} // namespace cli
