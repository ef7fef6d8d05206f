#include "trust/ssh_wire.h"

namespace trust {

std::optional<std::span<const uint8_t>> WireReader::Bytes(size_t count) {
    if (m_failed || count > m_rest.size()) {
        m_failed = true;
        return std::nullopt;
    }
    const std::span<const uint8_t> taken = m_rest.first(count);
    m_rest = m_rest.subspan(count);
    return taken;
}

std::optional<uint32_t> WireReader::Uint32() {
    const auto bytes = Bytes(4);
    if (!bytes)
        return std::nullopt;
    return uint32_t((*bytes)[0]) << 24 | uint32_t((*bytes)[1]) << 16 | uint32_t((*bytes)[2]) << 8 |
           (*bytes)[3];
}

std::optional<std::span<const uint8_t>> WireReader::String() {
    const std::optional<uint32_t> length = Uint32();
    if (!length)
        return std::nullopt;
    return Bytes(*length);
}

void AppendWireString(std::vector<uint8_t>& out, std::span<const uint8_t> bytes) {
    const uint32_t length = static_cast<uint32_t>(bytes.size());
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(uint8_t(length >> shift));
    out.insert(out.end(), bytes.begin(), bytes.end());
}

void AppendWireString(std::vector<uint8_t>& out, const std::string& text) {
    AppendWireString(out, std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
}

std::string TextOf(std::span<const uint8_t> bytes) {
    return std::string(bytes.begin(), bytes.end());
}

} // namespace trust
