// String values of a file's version resource, read with the system's version API. The system
// matches the key without regard to case, so "OriginalFileName" finds "OriginalFilename".

#include "platform/version_resource.h"

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <vector>

namespace platform {

std::optional<std::string> QueryVersionValue(const char* fileName, const char* key) {
    if (fileName == nullptr || key == nullptr)
        return std::nullopt;
    DWORD ignored = 0;
    const DWORD size = ::GetFileVersionInfoSizeA(fileName, &ignored);
    if (size == 0)
        return std::nullopt;
    std::vector<char> block(size, 0);
    if (!::GetFileVersionInfoA(fileName, 0, size, block.data()))
        return std::nullopt;

    void* translation = nullptr;
    UINT length = 0;
    if (!::VerQueryValueA(block.data(), "\\VarFileInfo\\Translation", &translation, &length) ||
        translation == nullptr || length < 4)
        return std::nullopt;
    // Only the first entry counts: language in the low half, code page in the high half.
    DWORD first;
    std::memcpy(&first, translation, sizeof first);

    char path[260] = {};
    std::snprintf(path, sizeof path, "\\StringFileInfo\\%04x%04x\\%s", unsigned(LOWORD(first)),
                  unsigned(HIWORD(first)), key);
    void* value = nullptr;
    if (!::VerQueryValueA(block.data(), path, &value, &length) || value == nullptr)
        return std::nullopt;
    // length counts characters and may include the terminating zero.
    const char* text = static_cast<const char*>(value);
    return std::string(text, strnlen(text, length));
}

} // namespace platform
