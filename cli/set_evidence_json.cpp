#include "cli/set_evidence_json.h"

#include "cli/report_text.h"

namespace cli {
namespace {

using nlohmann::json;

template <typename T> json OrNull(const std::optional<T>& value) {
    return value ? json(*value) : json(nullptr);
}

json TextOrNull(const std::optional<std::string>& text) {
    return text ? json(ReportText(*text)) : json(nullptr);
}

json TextOrNull(const std::string& text) {
    return text.empty() ? json(nullptr) : json(ReportText(text));
}

} // namespace

void AddSetEvidence(json& report, const SetEvidence& set, const OperatorIdentity& who) {
    json& fields = report["set"];
    fields["signed"] = set.isSigned;
    fields["sha256"] = TextOrNull(set.sha256);
    fields["files_sha256"] = TextOrNull(set.filesSha256);
    fields["manifest"] = TextOrNull(set.manifest);
    fields["release"] = OrNull(set.release);
    fields["target_version"] = TextOrNull(set.targetVersion);
    fields["expires"] = TextOrNull(set.expires);
    fields["signer"] = TextOrNull(set.signer);
    fields["key_fingerprint"] = TextOrNull(set.keyFingerprint);
    fields["previous_release"] = OrNull(set.previousRelease);
    fields["downgrade"] = set.downgrade;
    fields["downgrade_allowed"] = set.downgradeAllowed;
    report["operator"] = {{"user", ReportText(who.user)},
                          {"host", ReportText(who.host)},
                          {"text", TextOrNull(who.text)}};
}

} // namespace cli
