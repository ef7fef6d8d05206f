#include "cli/update_checks.h"

#include "cli/command_output.h"
#include "cli/report_file.h"
#include "cli/retry_from.h"
#include "cli/update_set.h"
#include "cli/version_rule.h"
#include "platform/file.h"

#include <algorithm>
#include <filesystem>

namespace cli {
namespace {

// Puts the version texts into the form they are compared in; then the error, if any: a target
// names a version, and a second version to skip would leave units that never reach the target.
std::string NormaliseVersionOptions(CommandOptions& options) {
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

// Checks the versions (normalising them), the set and --retry-from's report (putting its units
// first).
std::string CompleteVersionsAndUnits(CommandOptions& options, const UpdateSet& set,
                                     UnitList& units) {
    if (std::string error = NormaliseVersionOptions(options); !error.empty())
        return error;
    if (set.Plan().empty())
        return "no component files in " + options.setDir;
    if (!options.retryFrom.empty())
        return AddRetryUnits(options.retryFrom, set.Model(), units);
    return "";
}

// Where the run writes (the log folder's default filled in) and in what order it starts the
// units (the rules made).
std::string CompleteLogDirAndRules(CommandOptions& options, const UpdateSet& set,
                                   const UnitList& units, RolloutRules& rules) {
    if (options.logDir.empty())
        options.logDir = std::filesystem::current_path().string();
    if (const std::string why = FolderNotWritable(options.logDir); !why.empty())
        return "--log-dir '" + options.logDir + "': " + why;
    return MakeRolloutRules(options.rollout, units.addresses.size(), options.stopAfterFailures, set,
                            rules);
}

} // namespace

std::optional<int> CheckAndCompleteUpdate(CommandOptions& options, const UpdateSet& set,
                                          UnitList& units, RolloutRules& rules, std::FILE* out,
                                          std::FILE* err) {
    if (const std::string error = CompleteVersionsAndUnits(options, set, units); !error.empty())
        return UsageError(err, error);
    // Nothing is contacted and nothing written, so the report stays the record of its run.
    if (!options.retryFrom.empty() && units.addresses.empty()) {
        std::fprintf(out, "nothing to retry: every unit of %s completed\n",
                     options.retryFrom.c_str());
        return 0;
    }
    if (const std::string error = CompleteLogDirAndRules(options, set, units, rules);
        !error.empty())
        return UsageError(err, error);
    return std::nullopt;
}

} // namespace cli
