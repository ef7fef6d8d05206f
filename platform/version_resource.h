#pragma once
// String values of a program file's version resource.

#include <optional>
#include <string>

namespace platform {

// The value of a string key in the version resource of a file. The file is named as the caller
// gives it (a bare name is found by the platform's library search order, the program's own
// folder first). The value comes from the string table that the first entry of the resource's
// translation list names; the key is matched without regard to case. nullopt when the file, its
// version resource, its translation list or the key is not found.
std::optional<std::string> QueryVersionValue(const char* fileName, const char* key);

} // namespace platform
