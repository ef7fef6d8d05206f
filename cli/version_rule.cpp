#include "cli/version_rule.h"

#include "cli/terminal_text.h"
#include "cli/unit_text.h"

namespace cli {

std::string VersionGiven(const std::string& argument) {
    return VersionAsShown(BytesOfExactText(argument));
}

bool IsCurrent(const VersionRule& rule, const CheckResult& check) {
    return rule.current && check.answered && check.modelMatches &&
           VersionAsShown(check.version) == VersionAsShown(*rule.current);
}

std::string VersionAfterFailure(const VersionRule& rule, const CheckResult& after) {
    if (!after.answered)
        return "version after the update not read: " + VersionAsShown(after.message);
    const std::string version = VersionAsShown(after.version);
    if (rule.target && version != VersionAsShown(*rule.target))
        return "version after the update is " + ExactText(version) + ", not " +
               ExactText(VersionAsShown(*rule.target));
    return "";
}

} // namespace cli
