#pragma once
// The programs' version as people and reports see it, from the same values as the Windows
// program's version resource.

#include "version/version.h"

#include <string>

// "2.0.0.0" from the file version "2, 0, 0, 0".
inline std::string ProgramVersion() {
    std::string version;
    for (const char c : std::string(KQ_FILE_VERSION_TEXT)) {
        if (c != ' ')
            version.push_back(c == ',' ? '.' : c);
    }
    return version;
}
