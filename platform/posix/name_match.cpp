#include "platform/posix/name_match.h"

#include <cctype>
#include <cstring>

namespace platform {
namespace {

char Lower(char c) {
    return char(std::tolower(static_cast<unsigned char>(c)));
}
char Upper(char c) {
    return char(std::toupper(static_cast<unsigned char>(c)));
}

bool ValidShortChar(char c) {
    const unsigned char u = static_cast<unsigned char>(c);
    return u > 0x20 && u < 0x7F && !std::strchr("\"*+,./:;<=>?[\\]|", c);
}

bool IsValidShortName(const std::string& name) {
    const size_t dot = name.find('.');
    const std::string base = name.substr(0, dot);
    const std::string ext = dot == std::string::npos ? "" : name.substr(dot + 1);
    if (base.empty() || base.size() > 8 || ext.size() > 3)
        return false;
    if (dot != std::string::npos && ext.empty())
        return false;
    for (char c : base + ext)
        if (!ValidShortChar(c))
            return false;
    return true;
}

// Characters of a long name as they appear in its short name: upper case, blanks and dots
// dropped, characters that short names cannot hold turned into '_'.
std::string ShortPart(const std::string& part, size_t limit) {
    std::string out;
    for (char c : part) {
        if (out.size() == limit)
            break;
        if (c == ' ' || c == '.')
            continue;
        const unsigned char u = static_cast<unsigned char>(c);
        out += (u > 0x7F || ValidShortChar(c)) ? Upper(c) : '_';
    }
    return out;
}

} // namespace

bool WildcardMatchNoCase(const std::string& pattern, const std::string& name) {
    size_t p = 0, n = 0;
    size_t starP = std::string::npos, starN = 0;
    while (n < name.size()) {
        // A '*' in the pattern is a wildcard even where the name holds a '*' (POSIX names may).
        if (p < pattern.size() && pattern[p] == '*') {
            starP = p++;
            starN = n;
        } else if (p < pattern.size() &&
                   (pattern[p] == '?' || Lower(pattern[p]) == Lower(name[n]))) {
            ++p;
            ++n;
        } else if (starP != std::string::npos) {
            p = starP + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

std::string ShortNameFor(const std::string& name) {
    if (IsValidShortName(name))
        return "";
    const size_t lastDot = name.rfind('.');
    const bool hasExt = lastDot != std::string::npos && lastDot > 0;
    std::string base = ShortPart(hasExt ? name.substr(0, lastDot) : name, 6);
    const std::string ext = hasExt ? ShortPart(name.substr(lastDot + 1), 3) : "";
    if (base.empty())
        base.push_back('_');
    return base + "~1" + (ext.empty() ? "" : "." + ext);
}

bool WindowsNameMatches(const std::string& pattern, const std::string& name) {
    if (WildcardMatchNoCase(pattern, name))
        return true;
    // "*.*" and "name.*" also find names without any extension.
    if (pattern.size() >= 2 && pattern.compare(pattern.size() - 2, 2, ".*") == 0 &&
        name.find('.') == std::string::npos &&
        WildcardMatchNoCase(pattern.substr(0, pattern.size() - 2), name))
        return true;
    // The usual "*.ext" pattern: only the extension of the short name can decide, so spare the
    // whole short name for the many names that cannot match (large folders open at once).
    const size_t lastDot = name.rfind('.');
    if (pattern.size() > 2 && pattern[0] == '*' && pattern[1] == '.' &&
        pattern.find_first_of("*?.", 2) == std::string::npos) {
        if (lastDot == std::string::npos || lastDot == 0)
            return false;
        const std::string shortExt = ShortPart(name.substr(lastDot + 1), 3);
        return WildcardMatchNoCase(pattern.substr(2), shortExt) && !IsValidShortName(name);
    }
    const std::string shortName = ShortNameFor(name);
    return !shortName.empty() && WildcardMatchNoCase(pattern, shortName);
}

} // namespace platform
