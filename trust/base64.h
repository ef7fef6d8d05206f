#pragma once
// Base64 (RFC 4648, the standard alphabet) as the SSH formats use it.

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace trust {

// The bytes of a base64 text; blanks and line ends between characters are skipped. Padding must
// be whole and last, and the unused bits of the last character zero. nullopt for anything else.
std::optional<std::vector<uint8_t>> DecodeBase64(std::string_view text);

// Base64 without the closing '=' padding (as key fingerprints are written).
std::string EncodeBase64Unpadded(std::span<const uint8_t> bytes);

} // namespace trust
