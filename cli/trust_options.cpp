#include "cli/trust_options.h"

#include "platform/identity.h"

#include <CLI/CLI.hpp>

#include <filesystem>

namespace cli {
namespace {

std::string Absolute(const std::string& path) {
    return path.empty() ? path : std::filesystem::absolute(path).string();
}

void AddSignatureOptions(CLI::App& command, TrustOptions& options) {
    command.add_option("--manifest", options.manifest,
                       "the set's signed manifest (kqvorlink-cli manifest; ssh-keygen -Y sign -n "
                       "kqvorlink-set)");
    command.add_option("--allowed-signers", options.allowedSigners,
                       "ssh-keygen's allowed_signers file of those who may sign sets");
    command.add_option("--signature", options.signature,
                       "the manifest's signature (default: the manifest's path with .sig)");
    command.add_option("--state-dir", options.stateDir,
                       "where the highest release sent for each model is kept (default: "
                       "$XDG_STATE_HOME/kqvorlink, ~/.local/state/kqvorlink; Windows: "
                       "%LOCALAPPDATA%\\KQVorlink)");
    command.add_flag("--allow-downgrade", options.allowDowngrade,
                     "accept a release lower than the highest this host has sent for the model");
}

} // namespace

void AddTrustOptions(CLI::App& update, TrustOptions& options) {
    AddSignatureOptions(update, options);
    update.add_option("--operator", options.operatorText,
                      "who started the run, for the report (e.g. the controller's user)");
}

void AddVerifyOptions(CLI::App& verify, TrustOptions& options) {
    AddSignatureOptions(verify, options);
}

void AddManifestOptions(CLI::App& manifest, TrustOptions& options,
                        std::optional<std::string>& targetVersion) {
    manifest.add_option("--release", options.release, "the set's release, a whole number")
        ->required();
    manifest.add_option("--target-version", targetVersion,
                        "the version the units must end up with");
    manifest
        .add_option("--expires", options.expires,
                    "when the manifest expires: an ISO 8601 date and time (local, Z or +HH:MM)")
        ->type_name("TIME");
    manifest.add_option("--out", options.out, "write the manifest to FILE (default: stdout)");
}

void CompleteTrustPaths(TrustOptions& options) {
    if (!options.manifest.empty() && options.signature.empty())
        options.signature = options.manifest + ".sig";
    if (options.stateDir.empty())
        options.stateDir = platform::DefaultStateFolder();
    for (std::string* path : {&options.manifest, &options.allowedSigners, &options.signature,
                              &options.stateDir, &options.out})
        *path = Absolute(*path);
}

std::string TrustOptionsError(const TrustOptions& options) {
    if (options.manifest.empty() != options.allowedSigners.empty())
        return options.manifest.empty() ? "--allowed-signers needs --manifest"
                                        : "--manifest needs --allowed-signers";
    if (options.manifest.empty() && (options.allowDowngrade || !options.signature.empty()))
        return "--signature and --allow-downgrade need --manifest";
    return "";
}

} // namespace cli
