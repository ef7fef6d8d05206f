#include "cli/set_verification.h"

#include "cli/finish_window.h"
#include "cli/release_state_file.h"
#include "cli/set_files.h"
#include "cli/update_set.h"
#include "platform/file.h"
#include "trust/digest.h"
#include "trust/signature_verdict.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

namespace cli {
namespace {

using Bytes = std::vector<uint8_t>;

std::optional<Bytes> ReadNamed(const char* option, const std::string& path, size_t limit,
                               std::string& error) {
    std::optional<Bytes> bytes = platform::ReadWholeFile(path.c_str());
    if (!bytes)
        error = std::string(option) + " '" + path +
                "' cannot be read: " + platform::LastFileErrorMessage();
    else if (bytes->size() > limit)
        error = std::string(option) + " '" + path + "' is larger than " + std::to_string(limit) +
                " bytes";
    return error.empty() ? bytes : std::nullopt;
}

// A valid-after/valid-before time, read as the ISO forms of --finish-by read it.
trust::SignerMoment SignerMomentOf(const trust::SignerTime& time) {
    char iso[32];
    std::snprintf(iso, sizeof iso, "%04d-%02d-%02dT%02d:%02d:%02d%s", time.year, time.month,
                  time.day, time.hour, time.minute, time.second, time.utc ? "Z" : "");
    const FinishTime moment = ParseFinishTime(iso, 0);
    if (!moment.error.empty())
        return {0, "the time " + std::string(iso) + " cannot be used"};
    return {moment.epochSeconds, ""};
}

// The signature, judged against the allowed signers.
std::string SignatureError(const TrustOptions& options, const Bytes& manifest, int64_t now,
                           SetEvidence& evidence) {
    std::string error;
    const auto signers = ReadNamed("--allowed-signers", options.allowedSigners,
                                   trust::kMaxAllowedSignersBytes, error);
    const auto signature =
        signers ? ReadNamed("--signature", options.signature, trust::kMaxSignatureFileBytes, error)
                : std::nullopt;
    if (!signature)
        return error;
    const trust::AllowedSigners allowed = trust::ReadAllowedSigners(*signers);
    if (!allowed.error.empty())
        return "--allowed-signers '" + options.allowedSigners + "' " + allowed.error;
    const trust::SignatureVerdict verdict = trust::JudgeSignature(
        manifest, trust::ReadSshSignature(*signature), allowed, now, SignerMomentOf);
    if (!verdict.accepted)
        return "--signature '" + options.signature + "' is refused: " + verdict.reason;
    evidence.signer = verdict.principal;
    evidence.keyFingerprint = verdict.fingerprint;
    return "";
}

// The manifest's own fields against the set, the options and the time.
std::string ManifestFieldsError(const std::string& path, const trust::Manifest& manifest,
                                const UpdateSet& set,
                                const std::optional<std::string>& targetVersion, int64_t now) {
    const std::string named = "--manifest '" + path + "'";
    if (manifest.model != set.Model())
        return named + " is for the model " + manifest.model + ", the set is for " + set.Model();
    if (targetVersion && manifest.targetVersion && *targetVersion != *manifest.targetVersion)
        return named + " names the target version " + *manifest.targetVersion +
               ", --target-version " + *targetVersion;
    if (manifest.expires) {
        const FinishTime expiry = ParseFinishTime(*manifest.expires, now);
        if (!expiry.error.empty() || manifest.expires->size() <= 5)
            return named + ": its expiry cannot be read";
        if (now >= expiry.epochSeconds)
            return named + " expired at " + expiry.shown;
    }
    return "";
}

// The set's bytes against the manifest's list.
std::string SetBytesError(const std::string& path, const trust::Manifest& manifest,
                          const SetFiles& loaded) {
    const std::string named = " (--manifest '" + path + "')";
    if (!loaded.error.empty())
        return "the set's file " + loaded.error;
    const auto listed = [&](const std::string& name) {
        return std::any_of(manifest.files.begin(), manifest.files.end(),
                           [&](const auto& file) { return file.name == name; });
    };
    for (const trust::ManifestFile& file : loaded.files) {
        if (!listed(file.name))
            return "'" + file.name + "' would be sent but is not in the manifest" + named;
    }
    for (const std::string& name : ComponentCandidates()) {
        if (!listed(name))
            return "'" + name +
                   "' lies beside the set's files but is not in the manifest (a file "
                   "of another set?)" +
                   named;
    }
    for (const trust::ManifestFile& entry : manifest.files) {
        const auto found = std::find_if(loaded.files.begin(), loaded.files.end(),
                                        [&](const auto& file) { return file.name == entry.name; });
        if (found == loaded.files.end())
            return "'" + entry.name + "' is listed but not among the set's files" + named;
        if (found->bytes != entry.bytes)
            return "'" + entry.name + "' has " + std::to_string(found->bytes) +
                   " bytes, the manifest lists " + std::to_string(entry.bytes) + named;
        if (found->sha256 != entry.sha256)
            return "'" + entry.name + "' differs from the manifest: its SHA-256 is " +
                   found->sha256 + named;
    }
    return "";
}

// The release against the highest this host has sent for the model.
std::string ReleaseError(const TrustOptions& options, const std::string& model,
                         SetEvidence& evidence) {
    const KeptRelease kept = ReadKeptRelease(options.stateDir, model);
    if (!kept.error.empty())
        return "--state-dir '" + options.stateDir + "': " + kept.error;
    if (!kept.state)
        return "";
    evidence.previousRelease = kept.state->release;
    evidence.downgrade = *evidence.release < kept.state->release;
    if (evidence.downgrade && !options.allowDowngrade)
        return "release " + std::to_string(*evidence.release) + " of --manifest '" +
               options.manifest + "' is lower than release " + std::to_string(kept.state->release) +
               " that this host has sent for " + model +
               " (--allow-downgrade sends it all the same)";
    return "";
}

std::string FilesDigest(const SetFiles& loaded) {
    return trust::LowerHex(trust::Sha256Of(trust::FileLines(loaded.files)));
}

} // namespace

SetVerification VerifySignedSet(const TrustOptions& options, const UpdateSet& set,
                                ComponentStore& store,
                                const std::optional<std::string>& targetVersion,
                                int64_t nowEpochSeconds) {
    SetVerification result;
    SetEvidence& evidence = result.evidence;
    evidence.isSigned = true;
    evidence.manifest = options.manifest;
    evidence.downgradeAllowed = options.allowDowngrade;
    const auto manifestBytes =
        ReadNamed("--manifest", options.manifest, trust::kMaxManifestBytes, result.error);
    if (!manifestBytes)
        return result;
    if (result.error = SignatureError(options, *manifestBytes, nowEpochSeconds, evidence);
        !result.error.empty())
        return result;
    const trust::ManifestReading reading = trust::ReadManifest(*manifestBytes);
    if (!reading.error.empty()) {
        result.error = "--manifest '" + options.manifest + "' " + reading.error;
        return result;
    }
    const trust::Manifest& manifest = reading.manifest;
    evidence.sha256 = trust::LowerHex(trust::Sha256Of(*manifestBytes));
    evidence.release = manifest.release;
    evidence.targetVersion = manifest.targetVersion;
    evidence.expires = manifest.expires;
    result.error =
        ManifestFieldsError(options.manifest, manifest, set, targetVersion, nowEpochSeconds);
    if (!result.error.empty())
        return result;
    const SetFiles loaded = LoadSetFiles(set, store);
    if (result.error = SetBytesError(options.manifest, manifest, loaded); !result.error.empty())
        return result;
    evidence.filesSha256 = FilesDigest(loaded);
    result.error = ReleaseError(options, set.Model(), evidence);
    return result;
}

SetVerification DescribeUnsignedSet(const UpdateSet& set, ComponentStore& store) {
    SetVerification result;
    const SetFiles loaded = LoadSetFiles(set, store);
    if (!loaded.error.empty()) {
        result.error = loaded.error;
        return result;
    }
    result.evidence.filesSha256 = FilesDigest(loaded);
    result.evidence.sha256 = result.evidence.filesSha256;
    return result;
}

int64_t EpochSecondsNow() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

} // namespace cli
