#include "cli/commands.h"

#include "cli/check_command.h"
#include "cli/command_options.h"
#include "cli/command_output.h"
#include "cli/signed_set_commands.h"
#include "cli/update_checks.h"
#include "cli/update_command.h"
#include "platform/console.h"
#include "platform/process.h"
#include "platform/socket.h"

#include <CLI/CLI.hpp>

#include <filesystem>

namespace cli {
namespace {

// Relative paths name places as seen from where the program was started, before it changes to
// the set's folder.
std::string Absolute(const std::string& path) {
    return path.empty() ? path : std::filesystem::absolute(path).string();
}

// The paths of the options made absolute, then the set's folder made the current one; a usage
// error when it cannot be.
std::string EnterSetFolder(CommandOptions& options) {
    options.reportFile = Absolute(options.reportFile);
    options.logDir = Absolute(options.logDir);
    options.retryFrom = Absolute(options.retryFrom);
    CompleteTrustPaths(options.trust);
    std::error_code changed;
    std::filesystem::current_path(options.setDir, changed);
    if (changed)
        return "--set '" + options.setDir + "': " + changed.message();
    return "";
}

// The command that was parsed, once everything has been checked.
int RunCommand(bool check, const CommandOptions& options, RolloutRules rules, const UnitList& units,
               const UpdateSet& set, const PreparedSet& prepared, ReportFile& report,
               std::FILE* out, std::FILE* err) {
    platform::PrepareChildProcesses(); // before any unit's socket or lock exists
    if (platform::StartupSockets() != 0) {
        std::fprintf(err, "kqvorlink-cli: the socket library cannot be started\n");
        return 1;
    }
    platform::CatchInterrupts();
    const bool terminal = platform::IsTerminal(out);
    const int status =
        check ? Check(options.jobs, units, set, report, out, err)
              : Update(options, std::move(rules), units, set, prepared, report, terminal, out, err);
    platform::ReadyToEnd(); // the report is written
    platform::CleanupSockets();
    return status;
}

} // namespace

int RunCli(int argc, char** argv, std::FILE* out, std::FILE* err) {
    CLI::App app{"Updates many KQ-A2/KQ-B2 camera control units at once from one update set.",
                 "kqvorlink-cli"};
    CommandOptions options;
    const Commands commands = DeclareCommands(app, options);
    if (const std::optional<int> status = ParseCommandLine(app, argc, argv, out, err))
        return *status;
    if (const std::string error = TrustOptionsError(options.trust); !error.empty())
        return UsageError(err, error);
    // With --retry-from the UNIT arguments may be left out; manifest and verify take none.
    const bool takesUnits = commands.check->parsed() || commands.update->parsed();
    UnitList units;
    if (takesUnits && (!options.units.empty() || options.retryFrom.empty()))
        units = ParseUnits(options.units, ReadFileText);
    if (!units.error.empty())
        return UsageError(err, units.error);
    if (const std::string error = EnterSetFolder(options); !error.empty())
        return UsageError(err, error);

    // Everything is checked before any unit is contacted.
    const UpdateSet set;
    if (commands.manifest->parsed())
        return ManifestCommand(options.trust, options.targetVersion, set, out, err);
    if (commands.verify->parsed())
        return VerifyCommand(options.trust, set, out, err);
    RolloutRules rules;
    PreparedSet prepared;
    if (commands.update->parsed()) {
        if (const std::optional<int> status =
                CheckAndCompleteUpdate(options, set, units, rules, out, err))
            return *status;
        // The set's bytes are loaded (and, with a manifest, verified) once, for every unit.
        if (const std::optional<int> status =
                PrepareSet(options.trust, options.targetVersion, set, prepared, err))
            return *status;
    }
    ReportFile report(options.reportFile);
    if (const ReportFile::Refusal refused = report.Claim(); !refused.why.empty()) {
        const std::string text = "--report '" + options.reportFile + "': " + refused.why;
        if (!refused.runFailure)
            return UsageError(err, text);
        std::fprintf(err, "kqvorlink-cli: %s\n", text.c_str());
        return 1;
    }
    return RunCommand(commands.check->parsed(), options, std::move(rules), units, set, prepared,
                      report, out, err);
}

} // namespace cli
