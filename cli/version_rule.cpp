#include "cli/version_rule.h"

namespace cli {
namespace {

std::string WithoutTrailingBlanks(const std::string& text) {
    const size_t end = text.find_last_not_of(" \t\r\n");
    return end == std::string::npos ? std::string() : text.substr(0, end + 1);
}

} // namespace

std::string ComparableVersion(const std::string& text) {
    return WithoutTrailingBlanks(text);
}

bool IsCurrent(const VersionRule& rule, const CheckResult& check) {
    return rule.current && check.answered && check.modelMatches &&
           ComparableVersion(check.version) == ComparableVersion(*rule.current);
}

std::string VersionAfterFailure(const VersionRule& rule, const CheckResult& after) {
    if (!after.answered)
        return "version after the update not read: " + WithoutTrailingBlanks(after.message);
    const std::string version = ComparableVersion(after.version);
    if (rule.target && version != ComparableVersion(*rule.target))
        return "version after the update is " + version + ", not " +
               ComparableVersion(*rule.target);
    return "";
}

} // namespace cli
