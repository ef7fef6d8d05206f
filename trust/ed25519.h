#pragma once
// Ed25519 signature verification (RFC 8032), by the crypto library.

#include <cstdint>
#include <span>

namespace trust {

constexpr size_t kEd25519KeySize = 32;
constexpr size_t kEd25519SignatureSize = 64;

// Whether signature (64 bytes) is publicKey's (32 bytes) over message. Any other size is false.
bool VerifyEd25519(std::span<const uint8_t> publicKey, std::span<const uint8_t> message,
                   std::span<const uint8_t> signature);

} // namespace trust
