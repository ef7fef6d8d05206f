#include "json_line.h"

#include <cstdio>

namespace kqdriver {

std::string Quote(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c >= 0x7f) {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\u%04x", c);
            out += esc;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

std::string Fail(const std::string& why) {
    return JsonLine().Bool("ok", false).Str("error", why).Text();
}

std::string Array(const std::vector<std::string>& items) {
    std::string out = "[";
    for (size_t i = 0; i < items.size(); ++i)
        out += (i ? "," : "") + items[i];
    return out + "]";
}

void JsonLine::Key(const std::string& key) {
    if (!m_body.empty())
        m_body += ",";
    m_body += Quote(key) + ":";
}

JsonLine& JsonLine::Str(const std::string& key, const std::string& value) {
    Key(key);
    m_body += Quote(value);
    return *this;
}

JsonLine& JsonLine::Int(const std::string& key, long long value) {
    Key(key);
    m_body += std::to_string(value);
    return *this;
}

JsonLine& JsonLine::Bool(const std::string& key, bool value) {
    Key(key);
    m_body += value ? "true" : "false";
    return *this;
}

JsonLine& JsonLine::Raw(const std::string& key, const std::string& json) {
    Key(key);
    m_body += json;
    return *this;
}

} // namespace kqdriver
