#include "platform/identity.h"

#include <windows.h>

#include <cstdlib>

namespace platform {

std::string UserName() {
    char name[257] = {};
    DWORD size = sizeof name;
    if (!GetUserNameA(name, &size) || name[0] == '\0')
        return "?";
    return name;
}

std::string HostName() {
    char name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = sizeof name;
    if (!GetComputerNameA(name, &size) || name[0] == '\0')
        return "?";
    return name;
}

std::string DefaultStateFolder() {
    const char* folder = std::getenv("LOCALAPPDATA");
    if (!folder || folder[0] == '\0')
        return "";
    return std::string(folder) + "\\KQVorlink";
}

} // namespace platform
