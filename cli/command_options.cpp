#include "cli/command_options.h"

#include "cli/command_output.h"
#include "platform/file.h"
#include "version/program_version.h"

#include <CLI/CLI.hpp>

#include <algorithm>

namespace cli {
namespace {

constexpr unsigned kMaxJobs = 256;

// What both commands take: the set, how many units at a time, the report and the units.
void AddCommonOptions(CLI::App& command, CommandOptions& options) {
    command
        .add_option("--set", options.setDir, "the update set's folder (default: the current one)")
        ->check(CLI::ExistingDirectory);
    command.add_option("--jobs", options.jobs, "units at a time (1-256, default 16)")
        ->check(CLI::Range(1u, kMaxJobs));
    command.add_option("--report", options.reportFile,
                       "write a JSON report to FILE (rewritten as the run goes)");
    command.add_option("UNIT", options.units,
                       "a dotted IPv4 address, a range FIRST-LAST, or @FILE (one per line, "
                       "# comments)");
}

// A whole number of at least 1 (the plain unsigned option would take 0).
CLI::Validator OneOrMore() {
    return CLI::Validator(
        [](const std::string& text) {
            return !text.empty() && text.size() < 10 &&
                           text.find_first_not_of("0123456789") == std::string::npos &&
                           std::stoul(text) >= 1
                       ? std::string()
                       : std::string("must be 1 or more");
        },
        "N>=1");
}

void AddUpdateOptions(CLI::App& update, CommandOptions& options) {
    update
        .add_option("--log-dir", options.logDir,
                    "folder of the units' logs KQVorlink-<address>.log (default: the set's)")
        ->check(CLI::ExistingDirectory);
    update.add_flag("--keep-logs", options.keepLogs, "keep the logs of complete units too");
    update
        .add_option("--stop-after-failures", options.stopAfterFailures,
                    "once N units have failed start no further unit")
        ->check(OneOrMore());
    update.add_option("--retry-from", options.retryFrom,
                      "run the units that did not complete in that earlier JSON report");
    update.add_option("--skip-version", options.skipVersion,
                      "leave units that give exactly this version text as they are");
    update.add_option("--target-version", options.targetVersion,
                      "the version the units must end up with: units at it are left as they "
                      "are, every updated unit is asked again and fails unless it reports it");
    AddRolloutOptions(update, options.rollout);
    AddTrustOptions(update, options.trust);
}

} // namespace

Commands DeclareCommands(CLI::App& app, CommandOptions& options) {
    app.set_version_flag("--version", "kqvorlink-cli " + ProgramVersion());
    app.require_subcommand(1, 1);
    CLI::App* check = app.add_subcommand(
        "check", "log in, ask model and version, log out; show what an update would send");
    AddCommonOptions(*check, options);
    CLI::App* update = app.add_subcommand("update", "update every unit");
    AddCommonOptions(*update, options);
    AddUpdateOptions(*update, options);
    CLI::App* manifest = app.add_subcommand("manifest", "write the set's manifest, for signing");
    manifest->add_option("--set", options.setDir, "the update set's folder")
        ->check(CLI::ExistingDirectory);
    AddManifestOptions(*manifest, options.trust, options.targetVersion);
    CLI::App* verify = app.add_subcommand(
        "verify", "check a set against its signed manifest as update does; contact no unit");
    verify->add_option("--set", options.setDir, "the update set's folder")
        ->check(CLI::ExistingDirectory);
    AddVerifyOptions(*verify, options.trust);
    return {check, update, manifest, verify};
}

std::optional<int> ParseCommandLine(CLI::App& app, int argc, char** argv, std::FILE* out,
                                    std::FILE* err) {
    static const std::string kCommands[] = {"check", "update", "manifest", "verify"};
    if (argc > 1 && argv[1][0] != '-' &&
        std::find(std::begin(kCommands), std::end(kCommands), argv[1]) == std::end(kCommands))
        return UsageError(err, "'" + std::string(argv[1]) +
                                   "' is no command (check, update, manifest or verify)");
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
    return std::nullopt;
}

std::optional<std::string> ReadFileText(const std::string& path) {
    const auto bytes = platform::ReadWholeFile(path.c_str()); // never inherited by a child
    if (!bytes)
        return std::nullopt;
    return std::string(bytes->begin(), bytes->end());
}

} // namespace cli
