#pragma once
// The SSH wire encoding (RFC 4251): big-endian uint32 and length-prefixed strings, read from
// bytes that may end anywhere, and written.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace trust {

class WireReader {
  public:
    explicit WireReader(std::span<const uint8_t> bytes) : m_rest(bytes) {}

    std::optional<uint32_t> Uint32();
    // A string's bytes; nullopt when its length runs past the end. Once a read has failed every
    // later one fails too, so a caller may look only at the last.
    std::optional<std::span<const uint8_t>> String();
    // Exactly count bytes.
    std::optional<std::span<const uint8_t>> Bytes(size_t count);
    bool AtEnd() const { return !m_failed && m_rest.empty(); }

  private:
    std::span<const uint8_t> m_rest;
    bool m_failed = false;
};

void AppendWireString(std::vector<uint8_t>& out, std::span<const uint8_t> bytes);
void AppendWireString(std::vector<uint8_t>& out, const std::string& text);

std::string TextOf(std::span<const uint8_t> bytes);

} // namespace trust
