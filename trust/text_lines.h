#pragma once
// The small line-oriented text files of this room (the manifest, the release state): lines that
// each end with a line feed, of printable bytes, "keyword value" each.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace trust {

// Bytes 0x20 and above other than DEL (bytes of 0x80 and above pass: names need not be ASCII).
bool IsPrintableText(std::string_view text);

// A decimal whole number of at most 18 digits without leading zeros ("0" itself is one).
std::optional<uint64_t> ReadDecimal(std::string_view text);

class TextLines {
  public:
    explicit TextLines(std::span<const uint8_t> bytes)
        : m_rest(reinterpret_cast<const char*>(bytes.data()), bytes.size()) {}

    bool AtEnd() const { return m_rest.empty(); }
    // The number of the next line to read (1 for the first).
    int Number() const { return m_number; }
    // The next line without its line feed; nullopt (with why) when it has none or holds a
    // control byte.
    std::optional<std::string_view> Next(std::string& why);
    // The next line's value when it begins with "keyword "; the line stays unread otherwise.
    std::optional<std::string_view> Keyword(std::string_view keyword, std::string& why);

  private:
    std::string_view m_rest;
    int m_number = 1;
};

} // namespace trust
