#include "cli/commands.h"

#include "cli/check_command.h"
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
    const int status = commands.check->parsed() ? Check(options.jobs, units, set, report, out, err)
                                                : Update(options, std::move(rules), units, set,
                                                         report, terminal, out, err);
    platform::ReadyToEnd(); // the report is written
    platform::CleanupSockets();
    return status;
}

} // namespace cli
