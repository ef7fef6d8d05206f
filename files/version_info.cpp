// Reading the version resource and composing the caption and the About lines.

#include "files/version_info.h"

#include "platform/version_resource.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>
#include <vector>

namespace {

constexpr size_t kCaptionCapacity = 40;
constexpr size_t kAboutLineCapacity = 72;

// Formats two values into a buffer of the given capacity; longer results are cut, not overflowed.
std::string FormatCut(size_t capacity, const char* format, const char* first, const char* second) {
    std::vector<char> text(capacity, '\0');
    std::snprintf(text.data(), capacity, format, first, second);
    return text.data();
}

// A value read into a buffer of the given capacity; empty when it cannot be read.
std::string VersionValue(const char* fileName, const char* key, int capacity) {
    std::vector<char> text(static_cast<size_t>(capacity), '\0');
    GetVersionString(text.data(), capacity, fileName, key);
    return text.data();
}

} // namespace

int GetVersionString(char* text, int capacity, const char* fileName, const char* key) {
    if (capacity <= 0)
        return 0;
    const std::optional<std::string> value = platform::QueryVersionValue(fileName, key);
    if (!value)
        return 0;
    const size_t length = std::min(value->size(), static_cast<size_t>(capacity - 1));
    std::memcpy(text, value->data(), length);
    text[length] = '\0';
    return 1;
}

std::string CaptionText(const char* originalFileName, const char* fileVersion) {
    return FormatCut(kCaptionCapacity, "%s Rev. %s", originalFileName, fileVersion);
}

std::string AboutVersionText(const char* comments, const char* fileVersion) {
    return FormatCut(kAboutLineCapacity, "%s Version %s", comments, fileVersion);
}

std::string AboutCopyrightText(const char* legalCopyright, const char* companyName) {
    return FormatCut(kAboutLineCapacity, "%s %s\n", legalCopyright, companyName);
}

std::string ComposeCaption(const char* fileName) {
    const std::string name = VersionValue(fileName, "OriginalFileName", 20);
    const std::string version = VersionValue(fileName, "FileVersion", 20);
    return CaptionText(name.c_str(), version.c_str());
}

AboutLines ComposeAboutLines(const char* fileName) {
    const std::string comments = VersionValue(fileName, "Comments", 51);
    const std::string fileVersion = VersionValue(fileName, "FileVersion", 21);
    const std::string copyright = VersionValue(fileName, "LegalCopyright", 51);
    const std::string company = VersionValue(fileName, "CompanyName", 21);
    return {AboutVersionText(comments.c_str(), fileVersion.c_str()),
            AboutCopyrightText(copyright.c_str(), company.c_str())};
}
