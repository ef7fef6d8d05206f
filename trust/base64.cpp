#include "trust/base64.h"

#include <string>

namespace trust {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int ValueOf(char c) {
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '+')
        return 62;
    if (c == '/')
        return 63;
    return -1;
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

} // namespace

std::optional<std::vector<uint8_t>> DecodeBase64(std::string_view text) {
    std::vector<uint8_t> bytes;
    bytes.reserve(text.size() / 4 * 3);
    uint32_t bits = 0;
    int count = 0;   // characters of the current group of four
    int padding = 0; // '=' seen
    for (const char c : text) {
        if (IsBlank(c))
            continue;
        if (c == '=') {
            // Only the third and fourth place of a group may be padding.
            if (count < 2)
                return std::nullopt;
            ++padding;
            ++count;
        } else {
            const int value = ValueOf(c);
            if (value < 0 || padding > 0)
                return std::nullopt;
            bits = (bits << 6) | uint32_t(value);
            ++count;
        }
        if (count == 4) {
            if (padding == 0) {
                bytes.push_back(uint8_t(bits >> 16));
                bytes.push_back(uint8_t(bits >> 8));
                bytes.push_back(uint8_t(bits));
            } else if (padding == 1) {
                if ((bits & 0x3) != 0)
                    return std::nullopt;
                bytes.push_back(uint8_t(bits >> 10));
                bytes.push_back(uint8_t(bits >> 2));
            } else {
                if ((bits & 0xf) != 0)
                    return std::nullopt;
                bytes.push_back(uint8_t(bits >> 4));
            }
            if (padding > 0)
                count = 5; // nothing may follow padding
            else
                count = 0, bits = 0;
        } else if (count > 4) {
            return std::nullopt;
        }
    }
    if (count != 0 && count != 5)
        return std::nullopt;
    return bytes;
}

std::string EncodeBase64Unpadded(std::span<const uint8_t> bytes) {
    std::string text;
    size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        const uint32_t v = uint32_t(bytes[i]) << 16 | uint32_t(bytes[i + 1]) << 8 | bytes[i + 2];
        for (int shift = 18; shift >= 0; shift -= 6)
            text += kAlphabet[(v >> shift) & 63];
    }
    const size_t rest = bytes.size() - i;
    if (rest > 0) {
        const uint32_t v = uint32_t(bytes[i]) << 16 | (rest == 2 ? uint32_t(bytes[i + 1]) << 8 : 0);
        text += kAlphabet[(v >> 18) & 63];
        text += kAlphabet[(v >> 12) & 63];
        if (rest == 2)
            text += kAlphabet[(v >> 6) & 63];
    }
    return text;
}

} // namespace trust
