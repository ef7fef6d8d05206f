#include "cli/signed_set_commands.h"

#include "cli/command_output.h"
#include "cli/finish_window.h"
#include "cli/release_state_file.h"
#include "cli/set_files.h"
#include "cli/set_verification.h"
#include "cli/terminal_text.h"
#include "cli/update_set.h"
#include "platform/file.h"
#include "platform/identity.h"
#include "trust/manifest.h"
#include "trust/text_lines.h"
#include "update/component_store.h"

namespace cli {
namespace {

// The manifest's fields from the options; why they cannot stand in one, or empty.
std::string ManifestFieldsFromOptions(const TrustOptions& options,
                                      const std::optional<std::string>& targetVersion,
                                      const UpdateSet& set, trust::Manifest& manifest) {
    manifest.model = set.Model();
    manifest.release = *options.release;
    if (manifest.model.empty() || !trust::IsPrintableText(manifest.model))
        return "the set's model cannot stand in a manifest";
    if (targetVersion) {
        if (targetVersion->empty() || !trust::IsPrintableText(*targetVersion))
            return "--target-version needs a version text without control characters";
        manifest.targetVersion = *targetVersion;
    }
    if (!options.expires.empty()) {
        // Only the ISO forms: a clock time alone names no day.
        const FinishTime expiry = ParseFinishTime(options.expires, EpochSecondsNow());
        if (!expiry.error.empty() || options.expires.size() <= 5)
            return "--expires '" + options.expires +
                   "' is no ISO 8601 date and time (2026-12-24T06:00, with Z or +01:00)";
        if (expiry.epochSeconds <= EpochSecondsNow())
            return "--expires '" + options.expires + "' has passed";
        manifest.expires = expiry.iso;
    }
    return "";
}

} // namespace

int SetRefused(std::FILE* err, const std::string& why) {
    std::fprintf(err, "kqvorlink-cli: the set is refused: %s\n", TerminalText(why).c_str());
    return kUsageErrorStatus;
}

int ManifestCommand(const TrustOptions& options, const std::optional<std::string>& targetVersion,
                    const UpdateSet& set, std::FILE* out, std::FILE* err) {
    if (set.Plan().empty())
        return UsageError(err, "no component files in the set");
    trust::Manifest manifest;
    if (const std::string why = ManifestFieldsFromOptions(options, targetVersion, set, manifest);
        !why.empty())
        return UsageError(err, why);
    ComponentStore store(false);
    SetFiles loaded = LoadSetFiles(set, store);
    if (!loaded.error.empty())
        return UsageError(err, "the set's file " + TerminalText(loaded.error));
    for (const trust::ManifestFile& file : loaded.files) {
        if (const std::string why = trust::FileNameProblem(file.name); !why.empty())
            return UsageError(err, "the set's file " + TerminalText(file.name) + ": " + why);
    }
    manifest.files = std::move(loaded.files);
    const std::string text = trust::ManifestText(std::move(manifest));
    if (options.out.empty()) {
        std::fwrite(text.data(), 1, text.size(), out);
        return std::fflush(out) == 0 ? 0 : 1;
    }
    if (!platform::ReplaceFileWhole(options.out.c_str(), text.data(), text.size()))
        return UsageError(err, "--out '" + options.out + "': " + platform::LastFileErrorMessage());
    return 0;
}

int VerifyCommand(const TrustOptions& options, const UpdateSet& set, std::FILE* out,
                  std::FILE* err) {
    if (!options.Signed())
        return UsageError(err, "verify needs --manifest and --allowed-signers");
    ComponentStore store(false);
    const SetVerification verified =
        VerifySignedSet(options, set, store, std::nullopt, EpochSecondsNow());
    if (!verified.error.empty())
        return SetRefused(err, verified.error);
    const SetEvidence& evidence = verified.evidence;
    std::fprintf(out, "verified: %s release %llu, manifest SHA-256 %s, signed by %s (%s)%s\n",
                 TerminalText(set.Model()).c_str(),
                 static_cast<unsigned long long>(*evidence.release), evidence.sha256.c_str(),
                 TerminalText(evidence.signer).c_str(), evidence.keyFingerprint.c_str(),
                 evidence.downgrade ? ", a downgrade (--allow-downgrade)" : "");
    return 0;
}

std::optional<int> PrepareSet(const TrustOptions& options,
                              const std::optional<std::string>& targetVersion, const UpdateSet& set,
                              PreparedSet& prepared, std::FILE* err) {
    prepared.store = std::make_shared<ComponentStore>(true);
    prepared.who = {platform::UserName(), platform::HostName(), options.operatorText};
    if (!options.Signed()) {
        // A file that cannot be loaded is left to the units' runs, which say so each.
        prepared.evidence = DescribeUnsignedSet(set, *prepared.store).evidence;
        return std::nullopt;
    }
    if (const std::string why = PrepareStateFolder(options.stateDir); !why.empty())
        return UsageError(err, "--state-dir '" + options.stateDir + "': " + why);
    SetVerification verified =
        VerifySignedSet(options, set, *prepared.store, targetVersion, EpochSecondsNow());
    if (!verified.error.empty())
        return SetRefused(err, verified.error);
    prepared.evidence = std::move(verified.evidence);
    return std::nullopt;
}

bool KeepRelease(const TrustOptions& options, const std::string& model, const PreparedSet& prepared,
                 bool unitCompleted, std::FILE* err) {
    const SetEvidence& evidence = prepared.evidence;
    if (!evidence.isSigned || !unitCompleted)
        return true;
    // Read again now: another run may have kept a higher release meanwhile.
    const KeptRelease kept = ReadKeptRelease(options.stateDir, model);
    if (kept.state && kept.state->release >= *evidence.release)
        return true;
    std::string why = kept.error;
    if (why.empty())
        why = WriteKeptRelease(options.stateDir, {model, *evidence.release, evidence.sha256});
    if (why.empty())
        return true;
    std::fprintf(err, "kqvorlink-cli: the release sent is not kept in --state-dir: %s\n",
                 TerminalText(why).c_str());
    return false;
}

} // namespace cli
