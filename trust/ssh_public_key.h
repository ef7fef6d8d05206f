#pragma once
// An SSH public key as its wire blob: its type and, for Ed25519, its 32 bytes; the fingerprint
// as `ssh-keygen -l` prints it.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace trust {

inline constexpr char kEd25519KeyType[] = "ssh-ed25519";

struct PublicKey {
    std::string type;             // "ssh-ed25519", "ssh-rsa", ...
    std::vector<uint8_t> blob;    // the whole wire blob (what fingerprints and comparisons use)
    std::vector<uint8_t> ed25519; // the key's 32 bytes; empty for any other type
};

// The key of a wire blob; nullopt when it does not even carry a type. An Ed25519 blob must hold
// exactly its type and 32 bytes; another type is kept by name only.
std::optional<PublicKey> ReadPublicKey(std::span<const uint8_t> blob);

// "SHA256:" and the unpadded base64 of the blob's SHA-256.
std::string Fingerprint(std::span<const uint8_t> blob);

// "RSA", "ECDSA", ... for messages: the type without its "ssh-" and what follows a dash.
std::string KeyTypeName(const std::string& type);

} // namespace trust
