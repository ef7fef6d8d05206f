#include "cli/commands.h"

#include "cli/check_unit.h"
#include "cli/fleet_view.h"
#include "cli/report.h"
#include "cli/report_file.h"
#include "cli/retry_from.h"
#include "cli/terminal_text.h"
#include "cli/unit_list.h"
#include "cli/worker_pool.h"
#include "platform/console.h"
#include "platform/file.h"
#include "platform/socket.h"
#include "update/component_store.h"
#include "version/program_version.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace cli {
namespace {

constexpr unsigned kDefaultJobs = 16;
constexpr unsigned kMaxJobs = 256;

struct Options {
    std::string setDir = ".";
    unsigned jobs = kDefaultJobs;
    std::string reportFile;
    std::string logDir;
    bool keepLogs = false;
    unsigned stopAfterFailures = 0; // 0: never stop
    std::string retryFrom;
    std::optional<std::string> skipVersion;
    std::vector<std::string> units;
};

std::optional<std::string> ReadFileText(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file)
        return std::nullopt;
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

int UsageError(std::FILE* err, const std::string& text) {
    std::fprintf(err, "kqvorlink-cli: %s\nRun with --help for more information.\n", text.c_str());
    return 2;
}

void PrintPlan(std::FILE* out, const UpdateSet& set) {
    std::fprintf(out, "Update set: model %s%s; an update sends:\n", set.Model().c_str(),
                 set.DefaultSetting() ? ", then resets the unit to its default data" : "");
    for (const PlannedFile& file : set.Plan())
        std::fprintf(out, "  %-22s %-24s %12llu bytes\n", file.component.c_str(), file.file.c_str(),
                     static_cast<unsigned long long>(file.bytes));
    if (set.Plan().empty())
        std::fprintf(out, "  (no component files found)\n");
}

// The report's first writing, before any unit is contacted: a place that cannot take it is a
// usage error then.
std::string FirstReportError(ReportFile& report, const std::string& text) {
    if (!report.Wanted() || report.Write(text))
        return "";
    return "--report '" + report.Path() + "': the report cannot be written: " + report.Error();
}

// A rewrite during the run that failed: said at once, and the run ends with status 1.
void SayReportFailed(std::FILE* err, const ReportFile& report) {
    std::fprintf(err, "kqvorlink-cli: the report cannot be written to %s: %s\n",
                 report.Path().c_str(), report.Error().c_str());
}

int Check(const Options& options, const UnitList& units, const UpdateSet& set, ReportFile& report,
          std::FILE* out, std::FILE* err) {
    ReportHead head{std::filesystem::current_path().string(), LocalIsoTime(), ""};
    if (const std::string error = FirstReportError(report, CheckReport(set, head, {}, {}));
        !error.empty())
        return UsageError(err, error);
    PrintPlan(out, set);
    std::vector<CheckResult> results(units.addresses.size());
    RunPool(units.addresses.size(), options.jobs,
            {[&](size_t i) { results[i] = CheckUnit(units.addresses[i], set); },
             [](size_t, size_t) {},
             [] {},
             {}});
    bool allGood = true;
    for (size_t i = 0; i < results.size(); ++i) {
        const CheckResult& r = results[i];
        const char* address = units.addresses[i].c_str();
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
    head.ended = LocalIsoTime();
    if (report.Wanted() && !report.Write(CheckReport(set, head, units.addresses, results))) {
        SayReportFailed(err, report);
        return 1;
    }
    return allGood ? 0 : 1;
}

int Update(const Options& options, const UnitList& list, const UpdateSet& set, ReportFile& report,
           bool terminal, std::FILE* out, std::FILE* err) {
    const auto store = std::make_shared<ComponentStore>(true);
    const LogPolicy logs{options.logDir, options.keepLogs};
    std::vector<std::unique_ptr<UnitRun>> units;
    for (const std::string& address : list.addresses)
        units.push_back(std::make_unique<UnitRun>(address, set, store, logs, options.skipVersion));

    ReportHead head{std::filesystem::current_path().string(), LocalIsoTime(), ""};
    if (const std::string error = FirstReportError(report, UpdateReport(set, head, units));
        !error.empty())
        return UsageError(err, error);
    PrintPlan(out, set);

    // At every unit's start and end the whole report is written anew (at the end before that
    // thread starts another unit).
    std::atomic<bool> reportFailed{false};
    const auto rewriteReport = [&] {
        if (report.Wanted() && !report.Write(UpdateReport(set, head, units)) &&
            !reportFailed.exchange(true))
            SayReportFailed(err, report);
    };
    std::atomic<unsigned> failures{0};
    FleetView view(out, terminal);
    RunPool(
        units.size(), options.jobs,
        {[&](size_t i) {
             units[i]->MarkRunning();
             rewriteReport();
             units[i]->Run();
             if (units[i]->Result() == UnitResult::Failed)
                 ++failures;
             rewriteReport();
         },
         [&](size_t running, size_t first) {
             for (size_t i = first; i < units.size(); ++i)
                 units[i]->MarkNotStarted("Not started: the run was interrupted.");
             view.Interrupted(running, units.size() - first);
         },
         [&] { view.Refresh(units); },
         [&] { return options.stopAfterFailures > 0 && failures >= options.stopAfterFailures; }});
    size_t stopped = 0;
    for (const auto& unit : units) {
        if (unit->Result() != UnitResult::Waiting)
            continue;
        unit->MarkNotStarted("Not started: " + std::to_string(failures.load()) +
                             " unit(s) had failed (--stop-after-failures " +
                             std::to_string(options.stopAfterFailures) + ").");
        ++stopped;
    }
    view.Refresh(units);
    if (stopped > 0)
        view.Notice("Stopped after " + std::to_string(failures.load()) +
                    " failed unit(s): " + std::to_string(stopped) + " unit(s) not started.");
    view.Summary(units);

    head.ended = LocalIsoTime();
    rewriteReport();
    if (reportFailed)
        return 1;
    for (const auto& unit : units) {
        if (unit->Result() != UnitResult::Complete && unit->Result() != UnitResult::Current)
            return 1;
    }
    return 0;
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
        return "--retry-from '" + reportPath + "' cannot be read";
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
    app.set_version_flag("--version", "kqvorlink-cli " + ProgramVersion());
    app.require_subcommand(1, 1);
    Options options;
    const auto addSet = [&](CLI::App* command) {
        command
            ->add_option("--set", options.setDir,
                         "the update set's folder (default: the current one)")
            ->check(CLI::ExistingDirectory);
        command->add_option("--jobs", options.jobs, "units at a time (1-256, default 16)")
            ->check(CLI::Range(1u, kMaxJobs));
        command->add_option("--report", options.reportFile,
                            "write a JSON report to FILE (rewritten as the run goes)");
        command->add_option("UNIT", options.units,
                            "a dotted IPv4 address, a range FIRST-LAST, or @FILE (one per line, "
                            "# comments)");
    };
    CLI::App* check = app.add_subcommand(
        "check", "log in, ask model and version, log out; show what an update would send");
    addSet(check);
    CLI::App* update = app.add_subcommand("update", "update every unit");
    addSet(update);
    update
        ->add_option("--log-dir", options.logDir,
                     "folder of the units' logs KQVorlink-<address>.log (default: the set's)")
        ->check(CLI::ExistingDirectory);
    update->add_flag("--keep-logs", options.keepLogs, "keep the logs of complete units too");
    update
        ->add_option("--stop-after-failures", options.stopAfterFailures,
                     "once N units have failed start no further unit")
        ->check(CLI::PositiveNumber);
    update->add_option("--retry-from", options.retryFrom,
                       "run the units that did not complete in that earlier JSON report");
    update->add_option("--skip-version", options.skipVersion,
                       "leave units that give exactly this version text as they are");

    if (argc > 1 && argv[1][0] != '-' && std::string(argv[1]) != "check" &&
        std::string(argv[1]) != "update")
        return UsageError(err, "'" + std::string(argv[1]) + "' is no command (check or update)");
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        std::fprintf(out, "%s", app.help().c_str());
        return 0;
    } catch (const CLI::CallForVersion& e) {
        std::fprintf(out, "%s\n", e.what());
        return 0;
    } catch (const CLI::ParseError& e) {
        return UsageError(err, e.what());
    }
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
    if (update->parsed()) {
        if (set.Plan().empty())
            return UsageError(err, "no component files in " + setDir);
        if (!options.retryFrom.empty()) {
            if (const std::string error = AddRetryUnits(options.retryFrom, set.Model(), units);
                !error.empty())
                return UsageError(err, error);
        }
        if (options.logDir.empty())
            options.logDir = std::filesystem::current_path().string();
        if (const std::string why = FolderNotWritable(options.logDir); !why.empty())
            return UsageError(err, "--log-dir '" + options.logDir + "': " + why);
    }
    ReportFile report(options.reportFile);

    if (platform::StartupSockets() != 0) {
        std::fprintf(err, "kqvorlink-cli: the socket library cannot be started\n");
        return 1;
    }
    platform::CatchInterrupts();
    const bool terminal = platform::IsTerminal(out);
    const int status = check->parsed() ? Check(options, units, set, report, out, err)
                                       : Update(options, units, set, report, terminal, out, err);
    platform::CleanupSockets();
    return status;
}

} // namespace cli
