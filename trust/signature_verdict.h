#pragma once
// Whether a set's manifest carries a signature that an allowed_signers file accepts, decided as
// `ssh-keygen -Y verify -n kqvorlink-set -I PRINCIPAL -f FILE` decides it for the principal named
// here: the first principal of the first line whose key is the signature's and whose options
// admit it now. Only Ed25519 keys sign sets.

#include "trust/allowed_signers.h"
#include "trust/sshsig.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>

namespace trust {

inline constexpr char kSetNamespace[] = "kqvorlink-set";

// Seconds since 1970 of a valid-after/valid-before time (local ones in the zone of the caller's
// choice), or an error text.
struct SignerMoment {
    int64_t epochSeconds = 0;
    std::string error;
};
using SignerClock = std::function<SignerMoment(const SignerTime& time)>;

struct SignatureVerdict {
    bool accepted = false;
    std::string principal;   // accepted: the principal the signers file names for the key
    std::string fingerprint; // the signature's key, "SHA256:...", once it is known
    std::string reason;      // refused: why, one line
};

SignatureVerdict JudgeSignature(std::span<const uint8_t> message, const SshSignature& signature,
                                const AllowedSigners& signers, int64_t nowEpochSeconds,
                                const SignerClock& clock);

} // namespace trust
