#pragma once
// The JSON reports of `update` and `check` (--report FILE), for a site's own automation. Their
// schemas are in docs/schema/ and described in the README ("Updating many units"); "schema"
// names the version of the layout and changes only when a reader would have to change. Every
// text goes in through ReportText (cli/report_text.h), so any byte a unit sent is kept.

#include "cli/check_unit.h"
#include "cli/set_evidence.h"
#include "cli/unit_run.h"

#include <memory>
#include <string>
#include <vector>

namespace cli {

// The update report's layout is at 3, the check report's at 2: every time carries its offset
// from UTC. Update 2 added version_after, target_version, the units' attempts (later within it
// their waves, runs and whether they answered).
constexpr int kUpdateReportSchema = 3;
constexpr int kCheckReportSchema = 2;

// What both reports start with.
struct ReportHead {
    std::string setFolder;
    std::string started;       // times as LocalTimeNow() gives them, with their offset
    std::string ended;         // empty while the run goes on (null in the report)
    std::string targetVersion; // update: --target-version; empty: none (null)
    std::string finishBy;      // update: the window's end, ISO 8601 with offset; empty: none
    SetEvidence evidence{};    // update: what was sent and who released it
    OperatorIdentity who{};    // update: who started the run
};

// One unit as the update report gives it.
struct ReportedUnit {
    std::string address;
    std::string logPath;
    UnitSnapshot state;
};

std::string UpdateReport(const UpdateSet& set, const ReportHead& head,
                         const std::vector<ReportedUnit>& units);
// The update report of every unit's state now, written again and again during a run. A unit's
// text is made anew only when what the report shows of it has changed (its result, a reply of the
// unit that the run recorded), so a writing costs little more than copying the text.
class UpdateReportBuilder {
  public:
    std::string Text(const UpdateSet& set, const ReportHead& head,
                     const std::vector<std::unique_ptr<UnitRun>>& units);

  private:
    // A unit's text and what it was made of, as far as the report shows it.
    struct Kept {
        bool made = false;
        UnitResult result = UnitResult::Waiting;
        unsigned notes = 0; // RunFacts::notes
        std::optional<bool> answered;
        std::string text;
    };
    std::vector<Kept> m_kept;
};

// The units checked so far: addresses[i] has results[i].
std::string CheckReport(const UpdateSet& set, const ReportHead& head,
                        const std::vector<std::string>& addresses,
                        const std::vector<CheckResult>& results);

} // namespace cli
