#include "cli/terminal_text.h"

#include <cstdio>

namespace cli {
namespace {

bool Unprintable(unsigned char byte) {
    return byte < 0x20 || byte > 0x7e;
}

void AppendEscape(std::string& line, unsigned char byte) {
    char escaped[5];
    std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
    line += escaped;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

std::string TerminalText(const std::string& text) {
    std::string line;
    line.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte == '\r' || byte == '\n')
            line += ' ';
        else if (Unprintable(byte))
            AppendEscape(line, byte);
        else
            line += c;
    }
    while (!line.empty() && line.back() == ' ')
        line.pop_back();
    return line;
}

std::string ExactText(std::string_view text) {
    size_t end = text.size(); // the trailing blanks start here
    while (end > 0 && text[end - 1] == ' ')
        --end;
    std::string line;
    line.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (Unprintable(byte) || byte == '\\' || byte == '"' || i >= end)
            AppendEscape(line, byte);
        else
            line += text[i];
    }
    return line;
}

std::string BytesOfExactText(std::string_view shown) {
    std::string bytes;
    bytes.reserve(shown.size());
    for (size_t i = 0; i < shown.size(); ++i) {
        if (shown[i] == '\\' && i + 3 < shown.size() && shown[i + 1] == 'x' &&
            HexValue(shown[i + 2]) >= 0 && HexValue(shown[i + 3]) >= 0) {
            bytes += char(HexValue(shown[i + 2]) * 16 + HexValue(shown[i + 3]));
            i += 3;
        } else {
            bytes += shown[i];
        }
    }
    return bytes;
}

} // namespace cli
