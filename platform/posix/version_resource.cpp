// The Linux build keeps no version resource in its executable, so it answers from a built-in copy
// of the Windows program's resource, for the program's own name only.

#include "platform/version_resource.h"

#include "version/version.h"

#include <cstdint>
#include <cstdio>
#include <strings.h>
#include <vector>

namespace platform {
namespace {

struct VersionValue {
    const char* key;
    const char* value;
};

struct StringTable {
    const char* name; // language and code page as eight lower-case hexadecimal digits
    std::vector<VersionValue> values;
};

// The values that both string tables hold.
const std::vector<VersionValue> kCommonValues = {
    {"CompanyName", KQ_COMPANY_NAME},       {"FileDescription", KQ_FILE_DESCRIPTION},
    {"FileVersion", KQ_FILE_VERSION_TEXT},  {"InternalName", KQ_INTERNAL_NAME},
    {"LegalCopyright", KQ_LEGAL_COPYRIGHT}, {"OriginalFilename", KQ_ORIGINAL_FILENAME},
    {"ProductName", KQ_PRODUCT_NAME},       {"ProductVersion", KQ_FILE_VERSION_TEXT},
};

std::vector<VersionValue> WithComments(std::vector<VersionValue> values) {
    values.push_back({"Comments", KQ_COMMENTS_EN});
    return values;
}

// As in the resource script: only the English table has "Comments", and the translation list
// names the Japanese one.
const StringTable kStringTables[] = {
    {"040904b0", WithComments(kCommonValues)},
    {"041104b0", kCommonValues},
};

// The translation list: language 0x0411, code page 0x04B0.
const uint16_t kTranslation[][2] = {{0x0411, 0x04B0}};

} // namespace

std::optional<std::string> QueryVersionValue(const char* fileName, const char* key) {
    // File names compare without regard to case, as on Windows.
    if (fileName == nullptr || key == nullptr || strcasecmp(fileName, KQ_ORIGINAL_FILENAME) != 0)
        return std::nullopt;
    char tableName[9];
    std::snprintf(tableName, sizeof tableName, "%04x%04x", kTranslation[0][0], kTranslation[0][1]);
    for (const StringTable& table : kStringTables) {
        if (strcasecmp(table.name, tableName) != 0)
            continue;
        for (const VersionValue& entry : table.values) {
            if (strcasecmp(entry.key, key) == 0)
                return std::string(entry.value);
        }
    }
    return std::nullopt;
}

} // namespace platform
