#pragma once
// What a run's report says of the set it sent and of who sent it, so that every site's reports
// show which bytes went out, who released them and who started the run.

#include <cstdint>
#include <optional>
#include <string>

namespace cli {

struct SetEvidence {
    bool isSigned = false;
    std::string sha256;      // signed: the manifest's; else the SHA-256 of the set's file lines
    std::string filesSha256; // the SHA-256 of the set's file lines, as a manifest lists them
    std::string manifest;    // the manifest's path
    std::optional<uint64_t> release;
    std::optional<std::string> targetVersion;
    std::optional<std::string> expires;      // as the manifest gives it
    std::string signer;                      // the allowed signers' principal
    std::string keyFingerprint;              // "SHA256:..."
    std::optional<uint64_t> previousRelease; // the highest this host had sent for the model
    bool downgrade = false;                  // release below previousRelease
    bool downgradeAllowed = false;           // --allow-downgrade
};

struct OperatorIdentity {
    std::string user;
    std::string host;
    std::optional<std::string> text; // --operator
};

} // namespace cli
