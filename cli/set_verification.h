#pragma once
// What is checked of a set before any unit is contacted when the run names its manifest, in this
// order: the signature against the allowed signers; the manifest's format, model and expiry; the
// set's bytes against the manifest (every listed file with its size and SHA-256, no other file
// that the discovery looks at); the release against the highest this host has sent for the model.
// The set's files are loaded into the store here, so the bytes checked are those every unit gets.

#include "cli/set_evidence.h"
#include "cli/trust_options.h"

#include <cstdint>
#include <optional>
#include <string>

class ComponentStore;

namespace cli {

class UpdateSet;

struct SetVerification {
    SetEvidence evidence;
    std::string error; // one line naming the file and the cause; empty when the set verified
};

// A signed set (options.Signed()). targetVersion: update's --target-version, which must be the
// manifest's when both are given.
SetVerification VerifySignedSet(const TrustOptions& options, const UpdateSet& set,
                                ComponentStore& store,
                                const std::optional<std::string>& targetVersion,
                                int64_t nowEpochSeconds);

// A set without a manifest: its files loaded and their digest; error only when a file cannot be
// loaded (then the digest is not known, and each unit's run says what is wrong).
SetVerification DescribeUnsignedSet(const UpdateSet& set, ComponentStore& store);

// The current time for these checks.
int64_t EpochSecondsNow();

} // namespace cli
