#include "cli/version_rule.h"

#include "cli/unit_text.h"

namespace cli {

bool IsCurrent(const VersionRule& rule, const CheckResult& check) {
    return rule.current && check.answered && check.modelMatches &&
           VersionAsShown(check.version) == VersionAsShown(*rule.current);
}

std::string VersionAfterFailure(const VersionRule& rule, const CheckResult& after) {
    if (!after.answered)
        return "version after the update not read: " + VersionAsShown(after.message);
    const std::string version = VersionAsShown(after.version);
    if (rule.target && version != VersionAsShown(*rule.target))
        return "version after the update is " + version + ", not " + VersionAsShown(*rule.target);
    return "";
}

} // namespace cli
