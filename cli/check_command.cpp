#include "cli/check_command.h"

#include "cli/check_unit.h"
#include "cli/command_output.h"
#include "cli/local_time.h"
#include "cli/report.h"
#include "cli/terminal_text.h"
#include "cli/worker_pool.h"
#include "platform/console.h"

#include <filesystem>
#include <mutex>

namespace cli {
namespace {

// The check of every unit. The pool's threads fill in the results; the report is written from
// them by the thread that ends last, or at once when the program is about to be ended.
class CheckRun {
  public:
    CheckRun(const UnitList& units, const UpdateSet& set, ReportFile& report, ReportHead head,
             std::FILE* out, std::FILE* err)
        : m_addresses(units.addresses), m_set(set), m_report(report), m_head(std::move(head)),
          m_out(out), m_err(err), m_results(m_addresses.size()), m_checked(m_results.size()),
          m_notContacted(m_results.size()) {}

    int Run(unsigned jobs) {
        RunPool(m_results.size(), jobs,
                {.run = [this](size_t i) { CheckOne(i); },
                 .interrupt = [this](size_t, size_t first) { StopStarting(first); },
                 .escaped = [this](size_t i, const std::string& why) { FailEscaped(i, why); },
                 .interruptShown = [this](size_t running,
                                          size_t first) { ShowInterrupt(running, first); },
                 .ended = [this] { WriteLastReport(); }});
        const bool allGood = PrintResults();
        // The interrupt is what the caller asked for: it decides the status, a report that
        // could not be written is said all the same.
        if (!m_reportWritten)
            SayReportFailed(m_err, m_report, m_report.Error());
        if (m_interrupted)
            return kInterruptedStatus;
        return allGood && m_reportWritten ? 0 : 1;
    }

  private:
    template <typename Change> void Keep(size_t i, const Change& change) {
        const std::lock_guard lock(m_resultsMutex);
        change(m_results[i]);
        m_checked[i] = true;
    }

    // On a pool thread.
    void CheckOne(size_t i) {
        CheckResult result = CheckUnit(m_addresses[i], m_set);
        Keep(i, [&](CheckResult& r) { r = std::move(result); });
    }

    void FailEscaped(size_t i, const std::string& why) {
        Keep(i,
             [&](CheckResult& r) { r.message = "Error : the check ended unexpectedly: " + why; });
    }

    // The interrupt, under the pool's lock: the units from first on are not contacted.
    void StopStarting(size_t first) {
        m_notContacted = first;
        m_interrupted = true;
    }

    // What a person is told of the interrupt. Windows ends the process in seconds when its
    // console closes: the report is written now.
    void ShowInterrupt(size_t running, size_t first) {
        std::fprintf(m_out,
                     "Interrupted. %zu unit(s) being checked will finish; %zu unit(s) will not be "
                     "contacted.\n",
                     running, m_results.size() - first);
        std::fflush(m_out);
        if (!platform::EndingImminent())
            return;
        std::vector<std::string> cutOff;
        if (!WriteReport(first, cutOff))
            SayReportFailed(m_err, m_report, m_report.Error());
        SayCutOffAndEnd(m_err, cutOff);
    }

    // Once no unit is being checked.
    void WriteLastReport() {
        std::vector<std::string> none;
        m_reportWritten = WriteReport(m_notContacted, none);
    }

    // The results so far, the units from first on not contacted; the units still being checked
    // go into cutOff. Whether the report was written (or none is wanted).
    bool WriteReport(size_t first, std::vector<std::string>& cutOff) {
        std::unique_lock lock(m_resultsMutex);
        std::vector<CheckResult> now = m_results;
        for (size_t i = 0; i < now.size(); ++i) {
            if (i >= first) {
                now[i].message = "Not contacted: the run was interrupted.";
            } else if (!m_checked[i]) {
                now[i].message = "Cut off: the program was ended during the check.";
                cutOff.push_back(m_addresses[i]);
            }
        }
        m_head.ended = LocalTimeNow();
        const ReportHead ended = m_head;
        lock.unlock();
        return !m_report.Wanted() || m_report.Write(CheckReport(m_set, ended, m_addresses, now));
    }

    // A line for each unit; whether every unit answered and is of the set's model.
    bool PrintResults() const {
        bool allGood = true;
        for (size_t i = 0; i < m_results.size(); ++i) {
            const CheckResult& r = m_results[i];
            const char* address = m_addresses[i].c_str();
            if (i >= m_notContacted) {
                std::fprintf(m_out, "%-16s not contacted: the run was interrupted\n", address);
                allGood = false;
            } else if (!r.answered) {
                std::fprintf(m_out, "%-16s no answer: %s\n", address,
                             TerminalText(r.message).c_str());
                allGood = false;
            } else {
                PrintAnswer(address, r);
                allGood = allGood && r.modelMatches;
            }
        }
        return allGood;
    }

    void PrintAnswer(const char* address, const CheckResult& r) const {
        std::fprintf(m_out, "%-16s model %s (%s), version \"%s\"", address,
                     TerminalText(r.model).c_str(),
                     r.modelMatches ? "matches the set" : "NOT the set's model",
                     TerminalText(r.version).c_str());
        if (r.cpuPasses > 0)
            std::fprintf(m_out, ", CPU program in %d pass%s", r.cpuPasses,
                         r.cpuPasses == 1 ? "" : "es");
        std::fprintf(m_out, "\n");
    }

    const std::vector<std::string>& m_addresses;
    const UpdateSet& m_set;
    ReportFile& m_report;
    ReportHead m_head; // its end under m_resultsMutex
    std::FILE* const m_out;
    std::FILE* const m_err;
    std::mutex m_resultsMutex;
    std::vector<CheckResult> m_results;
    std::vector<bool> m_checked;
    size_t m_notContacted; // the units from here on, after an interrupt
    bool m_interrupted = false;
    bool m_reportWritten = true;
};

} // namespace

int Check(unsigned jobs, const UnitList& units, const UpdateSet& set, ReportFile& report,
          std::FILE* out, std::FILE* err) {
    ReportHead head{std::filesystem::current_path().string(), LocalTimeNow(), "", "", ""};
    if (const std::string error = FirstReportError(report, CheckReport(set, head, {}, {}));
        !error.empty())
        return UsageError(err, error);
    PrintPlan(out, set);
    return CheckRun(units, set, report, std::move(head), out, err).Run(jobs);
}

} // namespace cli
