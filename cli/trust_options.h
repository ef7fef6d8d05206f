#pragma once
// The options of a signed roll-out: `update --manifest FILE --allowed-signers FILE [--signature
// FILE] [--allow-downgrade] [--state-dir DIR] [--operator TEXT]`, the commands `manifest` (writes
// a set's manifest) and `verify` (checks a set as update would, contacting no unit).

#include <cstdint>
#include <optional>
#include <string>

namespace CLI {
class App;
}

namespace cli {

struct TrustOptions {
    std::string manifest;
    std::string allowedSigners;
    std::string signature; // default: the manifest's path with ".sig"
    std::string stateDir;  // default: platform::DefaultStateFolder()
    bool allowDowngrade = false;
    std::optional<std::string> operatorText;
    // manifest
    std::optional<uint64_t> release;
    std::string expires;
    std::string out;

    bool Signed() const { return !manifest.empty(); }
};

// update's options of a signed roll-out.
void AddTrustOptions(CLI::App& update, TrustOptions& options);
// The verify command's own: --manifest, --allowed-signers, --signature, --state-dir.
void AddVerifyOptions(CLI::App& verify, TrustOptions& options);
// The manifest command's own: --release, --target-version (into targetVersion), --expires, --out.
void AddManifestOptions(CLI::App& manifest, TrustOptions& options,
                        std::optional<std::string>& targetVersion);

// Makes the paths absolute (they name places as seen from where the program was started) and
// fills in the defaults.
void CompleteTrustPaths(TrustOptions& options);

// A usage error of the options (--manifest without --allowed-signers or the reverse); empty when
// they go together.
std::string TrustOptionsError(const TrustOptions& options);

} // namespace cli
