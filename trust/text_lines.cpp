#include "trust/text_lines.h"

#include <algorithm>

namespace trust {

bool IsPrintableText(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte >= 0x20 && byte != 0x7f;
    });
}

std::optional<uint64_t> ReadDecimal(std::string_view text) {
    if (text.empty() || text.size() > 18 || (text.size() > 1 && text[0] == '0'))
        return std::nullopt;
    uint64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + uint64_t(c - '0');
    }
    return value;
}

std::optional<std::string_view> TextLines::Next(std::string& why) {
    const size_t end = m_rest.find('\n');
    if (end == std::string_view::npos) {
        why = "line " + std::to_string(m_number) + " has no line end";
        return std::nullopt;
    }
    const std::string_view line = m_rest.substr(0, end);
    if (!IsPrintableText(line)) {
        why = "line " + std::to_string(m_number) + " holds a control character";
        return std::nullopt;
    }
    m_rest.remove_prefix(end + 1);
    ++m_number;
    return line;
}

std::optional<std::string_view> TextLines::Keyword(std::string_view keyword, std::string& why) {
    const std::string prefix = std::string(keyword) + " ";
    if (!m_rest.starts_with(prefix))
        return std::nullopt;
    std::optional<std::string_view> line = Next(why);
    if (line)
        line->remove_prefix(prefix.size());
    return line;
}

} // namespace trust
