#include "link/protocol_format.h"

#include <cstdio>
#include <cstring>

std::string FormatPortCommand(uint32_t addrNet, uint16_t port) {
    unsigned char b[4];
    std::memcpy(b, &addrNet, sizeof b); // network order: the bytes stand in dotted order
    char text[64];
    std::snprintf(text, sizeof text, "PORT %u,%u,%u,%u,%u,%u\r\n", b[0], b[1], b[2], b[3],
                  port / 256u, port % 256u);
    return text;
}

std::string FormatStorCommand(const char* name) {
    std::string command = std::string("STOR  ") + name + "\r\n";
    const size_t dot = command.find('.');
    if (dot == std::string::npos)
        return command;
    for (size_t i = dot + 1; i < command.size() && i <= dot + 3; ++i) {
        if (command[i] >= 'A' && command[i] <= 'Z')
            command[i] = static_cast<char>(command[i] - 'A' + 'a');
    }
    return command;
}

std::string FindModelText(const char* reply) {
    const char* found = std::strstr(reply, "KQ-");
    if (found == nullptr)
        return "NODEV";
    return std::string(found, strnlen(found, 5));
}

std::string UnameVersionText(const char* reply) {
    constexpr size_t kCodeAndSeparator = 4;
    const size_t length = std::strlen(reply);
    return length > kCodeAndSeparator ? std::string(reply + kCodeAndSeparator) : std::string();
}

std::string VersionTextWithoutLineEnd(const char* versionText) {
    const size_t length = std::strlen(versionText);
    return length >= 2 ? std::string(versionText, length - 2) : std::string();
}

std::string UnitVersionText(std::string_view reply) {
    constexpr size_t kCodeAndSeparator = 4;
    if (reply.size() <= kCodeAndSeparator)
        return std::string();
    std::string_view text = reply.substr(kCodeAndSeparator);
    if (text.size() >= 2 && text.substr(text.size() - 2) == "\r\n")
        text.remove_suffix(2);
    else if (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.remove_suffix(1);
    return std::string(text);
}

int ParseDeviceVersion(const char* versionTextWithLineEnd) {
    // Three tokens cut the way strtok(".") cuts them; the rest starts behind the '.' that ended
    // the third one.
    const char* p = versionTextWithLineEnd;
    for (int token = 0; token < 3; ++token) {
        while (*p == '.')
            ++p;
        if (*p == '\0')
            return 0;
        while (*p != '\0' && *p != '.')
            ++p;
        if (*p == '\0')
            return 0; // no '.' ends the third token: there is no rest
    }
    const char* rest = p + 1;
    const auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
    if (!isDigit(rest[0]) || !isDigit(rest[1]))
        return 0;
    return (rest[0] - '0') * 10 + (rest[1] - '0');
}

bool ContainsFailed500(const char* reply) {
    return std::strstr(reply, "500 failed.") != nullptr;
}

bool IsRefusal(const char* reply, bool tolerateFailed500) {
    const char first = reply[0];
    return (first == '4' || first == '5') && !(tolerateFailed500 && ContainsFailed500(reply));
}
