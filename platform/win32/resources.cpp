// The program's icon and strings from its own resources, its title, and the box without owner.

#include "platform/dialog.h"

#include <windows.h>

namespace platform {

IconHandle LoadIconResource(int resourceId) {
    return ::LoadIconA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(resourceId));
}

std::string LoadStringResource(int resourceId) {
    char text[512] = {};
    const int length =
        ::LoadStringA(::GetModuleHandleA(nullptr), UINT(resourceId), text, int(sizeof text));
    return std::string(text, length > 0 ? size_t(length) : 0);
}

const char* ApplicationTitle() {
    // The executable's own name without folder and extension, as the framework takes it.
    static const std::string title = [] {
        char path[MAX_PATH + 1] = {};
        const DWORD length = ::GetModuleFileNameA(nullptr, path, MAX_PATH);
        std::string name(path, length);
        const size_t slash = name.find_last_of("\\/:");
        if (slash != std::string::npos)
            name.erase(0, slash + 1);
        const size_t dot = name.find_last_of('.');
        if (dot != std::string::npos && dot > 0)
            name.erase(dot);
        return name;
    }();
    return title.c_str();
}

int MessageBoxNoOwner(const std::string& text, const std::string& caption, unsigned style) {
    return ::MessageBoxA(nullptr, text.c_str(), caption.c_str(), style);
}

} // namespace platform
