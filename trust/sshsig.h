#pragma once
// The armoured SSH signature that `ssh-keygen -Y sign` writes ("-----BEGIN SSH SIGNATURE-----",
// base64, "-----END SSH SIGNATURE-----") and the SSHSIG blob inside it: magic, version 1, the
// signer's public key, the namespace, a reserved string, the hash algorithm (sha256 or sha512)
// and the signature over the message's hash. Read as hostile input: any flaw is an error text.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace trust {

// Larger signature files are refused unread (an Ed25519 one is about 300 bytes).
constexpr size_t kMaxSignatureFileBytes = 64 * 1024;

struct SshSignature {
    std::vector<uint8_t> publicKey; // the signer's key blob
    std::string nameSpace;
    std::vector<uint8_t> reserved;
    std::string hashAlgorithm;      // "sha256" or "sha512"
    std::string signatureType;      // the signature blob's type, "ssh-ed25519", ...
    std::vector<uint8_t> signature; // the raw signature bytes of that type

    std::string error; // why the file is no signature; empty when read
};

SshSignature ReadSshSignature(std::span<const uint8_t> file);

// The bytes the signer signed: magic, namespace, reserved, hash algorithm and H(message).
std::vector<uint8_t> SignedData(const SshSignature& signature, std::span<const uint8_t> message);

} // namespace trust
