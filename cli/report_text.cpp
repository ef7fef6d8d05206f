#include "cli/report_text.h"

#include <cstdint>

namespace cli {
namespace {

// The length of the valid UTF-8 sequence at the start of `rest` (1-4), or 0 when its first byte
// does not start one: no overlong forms, no surrogates, nothing above U+10FFFF.
size_t Utf8SequenceLength(std::string_view rest) {
    const auto byte = [&](size_t i) { return uint8_t(rest[i]); };
    const uint8_t lead = byte(0);
    if (lead < 0x80)
        return 1;
    size_t length = 0;
    uint8_t low = 0x80, high = 0xBF; // the range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (rest.size() < length || byte(1) < low || byte(1) > high)
        return 0;
    for (size_t i = 2; i < length; ++i) {
        if (byte(i) < 0x80 || byte(i) > 0xBF)
            return 0;
    }
    return length;
}

void AppendEscape(std::string& out, uint8_t byte) {
    constexpr char kHex[] = "0123456789ABCDEF";
    out += "\\x";
    out += kHex[byte >> 4];
    out += kHex[byte & 0x0F];
}

} // namespace

std::string ReportText(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (size_t i = 0; i < bytes.size();) {
        const size_t length = Utf8SequenceLength(bytes.substr(i));
        if (length == 0 || (bytes[i] == '\\' && i + 1 < bytes.size() && bytes[i + 1] == 'x')) {
            AppendEscape(out, uint8_t(bytes[i]));
            ++i;
            continue;
        }
        out.append(bytes.substr(i, length));
        i += length;
    }
    return out;
}

} // namespace cli
