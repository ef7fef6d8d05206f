#include "cli/commands.h"

#include "cli/check_unit.h"
#include "cli/command_options.h"
#include "cli/command_output.h"
#include "cli/report.h"
#include "cli/report_file.h"
#include "cli/retry_from.h"
#include "cli/rollout_options.h"
#include "cli/terminal_text.h"
#include "cli/unit_list.h"
#include "cli/update_command.h"
#include "cli/version_rule.h"
#include "cli/worker_pool.h"
#include "platform/clock.h"
#include "platform/console.h"
#include "platform/file.h"
#include "platform/process.h"
#include "platform/socket.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <sstream>

namespace cli {
namespace {

int Check(const CommandOptions& options, const UnitList& units, const UpdateSet& set,
          ReportFile& report, std::FILE* out, std::FILE* err) {
    ReportHead head{std::filesystem::current_path().string(), LocalIsoTime(), "", "", ""};
    if (const std::string error = FirstReportError(report, CheckReport(set, head, {}, {}));
        !error.empty())
        return UsageError(err, error);
    PrintPlan(out, set);
    std::vector<CheckResult> results(units.addresses.size());
    size_t notContacted = results.size(); // the units from here on, after an interrupt
    bool interrupted = false;
    // The pool's threads fill in the results; the report is written from them by the thread that
    // ends last, or at once when the program is about to be ended.
    std::mutex resultsMutex;
    std::vector<bool> checked(results.size());
    const auto keep = [&](size_t i, const auto& change) {
        const std::lock_guard lock(resultsMutex);
        change(results[i]);
        checked[i] = true;
    };
    // The units still being checked go into `cutOff`.
    const auto writeReport = [&](size_t first, std::vector<std::string>& cutOff) {
        std::unique_lock lock(resultsMutex);
        std::vector<CheckResult> now = results;
        for (size_t i = 0; i < now.size(); ++i) {
            if (i >= first) {
                now[i].message = "Not contacted: the run was interrupted.";
            } else if (!checked[i]) {
                now[i].message = "Cut off: the program was ended during the check.";
                cutOff.push_back(units.addresses[i]);
            }
        }
        head.ended = LocalIsoTime();
        const ReportHead ended = head;
        lock.unlock();
        return !report.Wanted() || report.Write(CheckReport(set, ended, units.addresses, now));
    };
    bool reportWritten = true;
    RunPool(results.size(), options.jobs,
            {[&](size_t i) {
                 CheckResult result = CheckUnit(units.addresses[i], set);
                 keep(i, [&](CheckResult& r) { r = std::move(result); });
             },
             [&](size_t, size_t first) {
                 notContacted = first;
                 interrupted = true;
             },
             [] {},
             {},
             [&](size_t i, const std::string& why) {
                 keep(i, [&](CheckResult& r) {
                     r.message = "Error : the check ended unexpectedly: " + why;
                 });
             },
             {},
             [&](size_t running, size_t first) {
                 std::fprintf(out,
                              "Interrupted. %zu unit(s) being checked will finish; %zu unit(s) "
                              "will not be contacted.\n",
                              running, results.size() - first);
                 std::fflush(out);
                 if (platform::EndingImminent()) {
                     // Windows ends the process in seconds: the report is written now.
                     std::vector<std::string> cutOff;
                     if (!writeReport(first, cutOff))
                         SayReportFailed(err, report, report.Error());
                     SayCutOffAndEnd(err, cutOff);
                 }
             },
             [&] {
                 std::vector<std::string> none;
                 reportWritten = writeReport(notContacted, none);
             }});
    bool allGood = true;
    for (size_t i = 0; i < results.size(); ++i) {
        const CheckResult& r = results[i];
        const char* address = units.addresses[i].c_str();
        if (i >= notContacted) {
            std::fprintf(out, "%-16s not contacted: the run was interrupted\n", address);
            allGood = false;
            continue;
        }
        if (!r.answered) {
            std::fprintf(out, "%-16s no answer: %s\n", address, TerminalText(r.message).c_str());
            allGood = false;
            continue;
        }
        std::fprintf(out, "%-16s model %s (%s), version \"%s\"", address,
                     TerminalText(r.model).c_str(),
                     r.modelMatches ? "matches the set" : "NOT the set's model",
                     TerminalText(r.version).c_str());
        if (r.cpuPasses > 0)
            std::fprintf(out, ", CPU program in %d pass%s", r.cpuPasses,
                         r.cpuPasses == 1 ? "" : "es");
        std::fprintf(out, "\n");
        allGood = allGood && r.modelMatches;
    }
    if (!reportWritten) {
        SayReportFailed(err, report, report.Error());
        return 1;
    }
    if (interrupted)
        return kInterruptedStatus;
    return allGood ? 0 : 1;
}

// Version texts are taken in the form they are compared in; a target names a version, and a
// second version to skip would leave units that never reach the target.
std::string VersionOptionsError(CommandOptions& options) {
    for (std::optional<std::string>* text : {&options.skipVersion, &options.targetVersion}) {
        if (*text)
            **text = VersionAsShown(**text);
    }
    if (options.targetVersion && options.targetVersion->empty())
        return "--target-version needs a version text";
    if (options.targetVersion && options.skipVersion &&
        options.skipVersion != options.targetVersion)
        return "--skip-version '" + *options.skipVersion + "' and --target-version '" +
               *options.targetVersion + "' differ; a unit at the target is left as it is anyway";
    return "";
}

// Relative paths name places as seen from where the program was started, before it changes to
// the set's folder.
std::string Absolute(const std::string& path) {
    return path.empty() ? path : std::filesystem::absolute(path).string();
}

// The units of --retry-from, then those of the arguments that are not among them yet.
std::string AddRetryUnits(const std::string& reportPath, const std::string& model,
                          UnitList& units) {
    const std::optional<std::string> text = ReadFileText(reportPath);
    if (!text)
        return "--retry-from '" + reportPath +
               "' cannot be read: " + platform::LastFileErrorMessage();
    RetryUnits retry = UnitsToRetry(*text, model);
    if (!retry.error.empty())
        return "--retry-from '" + reportPath + "' " + retry.error;
    for (const std::string& address : units.addresses) {
        if (std::find(retry.addresses.begin(), retry.addresses.end(), address) ==
            retry.addresses.end())
            retry.addresses.push_back(address);
    }
    units.addresses = std::move(retry.addresses);
    return "";
}

} // namespace

int RunCli(int argc, char** argv, std::FILE* out, std::FILE* err) {
    CLI::App app{"Updates many KQ-A2/KQ-B2 camera control units at once from one update set.",
                 "kqvorlink-cli"};
    CommandOptions options;
    const Commands commands = DeclareCommands(app, options);
    if (const std::optional<int> status = ParseCommandLine(app, argc, argv, out, err))
        return *status;
    // With --retry-from the UNIT arguments may be left out.
    UnitList units;
    if (!options.units.empty() || options.retryFrom.empty())
        units = ParseUnits(options.units, ReadFileText);
    if (!units.error.empty())
        return UsageError(err, units.error);

    const std::string setDir = options.setDir;
    options.reportFile = Absolute(options.reportFile);
    options.logDir = Absolute(options.logDir);
    options.retryFrom = Absolute(options.retryFrom);
    std::error_code changed;
    std::filesystem::current_path(options.setDir, changed);
    if (changed)
        return UsageError(err, "--set '" + options.setDir + "': " + changed.message());

    // Everything is checked before any unit is contacted.
    const UpdateSet set;
    if (commands.update->parsed()) {
        if (const std::string error = VersionOptionsError(options); !error.empty())
            return UsageError(err, error);
        if (set.Plan().empty())
            return UsageError(err, "no component files in " + setDir);
        if (!options.retryFrom.empty()) {
            if (const std::string error = AddRetryUnits(options.retryFrom, set.Model(), units);
                !error.empty())
                return UsageError(err, error);
            // Nothing is contacted and nothing written, so R stays the record of its run.
            if (units.addresses.empty()) {
                std::fprintf(out, "nothing to retry: every unit of %s completed\n",
                             options.retryFrom.c_str());
                return 0;
            }
        }
        if (options.logDir.empty())
            options.logDir = std::filesystem::current_path().string();
        if (const std::string why = FolderNotWritable(options.logDir); !why.empty())
            return UsageError(err, "--log-dir '" + options.logDir + "': " + why);
    }
    RolloutRules rules;
    if (commands.update->parsed()) {
        if (const std::string error = MakeRolloutRules(options.rollout, units.addresses.size(),
                                                       options.stopAfterFailures, set, rules);
            !error.empty())
            return UsageError(err, error);
    }
    ReportFile report(options.reportFile);
    if (const std::string why = report.Claim(); !why.empty())
        return UsageError(err, "--report '" + options.reportFile + "': " + why);

    platform::PrepareChildProcesses(); // before any unit's socket or lock exists
    if (platform::StartupSockets() != 0) {
        std::fprintf(err, "kqvorlink-cli: the socket library cannot be started\n");
        return 1;
    }
    platform::CatchInterrupts();
    const bool terminal = platform::IsTerminal(out);
    const int status = commands.check->parsed() ? Check(options, units, set, report, out, err)
                                                : Update(options, std::move(rules), units, set,
                                                         report, terminal, out, err);
    platform::ReadyToEnd(); // the report is written
    platform::CleanupSockets();
    return status;
}

} // namespace cli
