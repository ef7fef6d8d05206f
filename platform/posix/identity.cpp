#include "platform/identity.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

namespace platform {
namespace {

// The user's entry, with a buffer of the size the system asks for.
std::string PasswordField(bool home) {
    long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 && size < (1 << 20) ? size_t(size) : 16384);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || !found)
        return "";
    const char* field = home ? found->pw_dir : found->pw_name;
    return field ? field : "";
}

} // namespace

std::string UserName() {
    const std::string name = PasswordField(false);
    return name.empty() ? "?" : name;
}

std::string HostName() {
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0 || name[0] == '\0')
        return "?";
    return name;
}

std::string DefaultStateFolder() {
    // An empty or relative XDG_STATE_HOME is to be ignored (the XDG base directory rules).
    if (const char* state = std::getenv("XDG_STATE_HOME"); state && state[0] == '/')
        return std::string(state) + "/kqvorlink";
    std::string home;
    if (const char* variable = std::getenv("HOME"); variable && variable[0] == '/')
        home = variable;
    else
        home = PasswordField(true);
    return home.empty() ? "" : home + "/.local/state/kqvorlink";
}

} // namespace platform
