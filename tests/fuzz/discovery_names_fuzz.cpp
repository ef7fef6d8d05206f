// Fuzz target: file names as a directory may give them, through the Windows matching rules of
// the directory search, the extension-length filter and name order of FindFiles, the twelve
// scans' selection rules, the CPU version number, and the STOR command and record header that a
// recorded name ends up in. What each scan records is checked against the components told by
// the names alone.
//
// Input: entries separated by '/', the one byte no directory entry's name can hold. The first
// byte of an entry is its last-write time (and '0' marks an empty file); the rest is its name.

#include "files/file_search.h"
#include "files/update_set_discovery.h"
#include "link/protocol_format.h"
#include "platform/posix/name_match.h"
#include "tests/fuzz/fuzz_check.h"
#include "update/upload_record.h"

#include <algorithm>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace {

struct Listed {
    uint64_t time;
    bool hasContent;
};

unsigned char FoldAscii(unsigned char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c - 'A' + 'a') : c;
}

bool EqualNoCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return FoldAscii(static_cast<unsigned char>(x)) ==
                      FoldAscii(static_cast<unsigned char>(y));
           });
}

// What a search keeps, told plainly: a wildcard "*.ext" keeps the names that end with a dot and
// that extension, a plain pattern the name itself, both without regard to case.
bool ShouldKeep(const ComponentSearch& search, const std::string& name) {
    const std::string pattern = search.pattern;
    if (pattern[0] != '*')
        return EqualNoCase(pattern, name);
    const std::string tail = pattern.substr(1);
    return name.size() >= tail.size() && EqualNoCase(name.substr(name.size() - tail.size()), tail);
}

bool EndsWithNoCase(const std::string& name, const std::string& tail) {
    return name.size() >= tail.size() && EqualNoCase(name.substr(name.size() - tail.size()), tail);
}

// The component a file belongs to, told by its name alone, and its group within the component
// (web: .htm, .html, .jpg, .gif; cursor: CUR, BUT). Extensions compare without regard to case,
// prefixes byte for byte.
struct Belonging {
    ComponentScan scan;
    int group;
};
std::optional<Belonging> ComponentOf(const std::string& name) {
    using S = ComponentScan;
    const auto starts = [&](const char* prefix) { return name.rfind(prefix, 0) == 0; };
    if (EndsWithNoCase(name, ".cpu"))
        return Belonging{S::Cpu, 0};
    if (EndsWithNoCase(name, ".bin"))
        return Belonging{starts("R") ? S::ResizeFpga : starts("T") ? S::Fpga2m : S::Fpga5m, 0};
    const char* web[] = {".htm", ".html", ".jpg", ".gif"};
    for (int group = 0; group < 4; ++group) {
        if (EndsWithNoCase(name, web[group]))
            return Belonging{starts("oem") ? S::Web0 : S::Web1, group};
    }
    if (EndsWithNoCase(name, ".bmp")) {
        if (starts("CUR") || starts("BUT"))
            return Belonging{S::Cursor, starts("BUT") ? 1 : 0};
        if (starts("ICON"))
            return Belonging{S::Icon, 0};
        if (EqualNoCase(name, "LOGO.bmp"))
            return Belonging{S::Logo, 0};
        return std::nullopt;
    }
    if (EndsWithNoCase(name, ".sdt"))
        return Belonging{S::Shading, 0};
    if (EndsWithNoCase(name, ".tbl"))
        return Belonging{S::Gamma, 0};
    if (EndsWithNoCase(name, ".cst"))
        return Belonging{S::Scene, 0};
    return std::nullopt;
}

bool IsSingleChoice(ComponentScan scan) {
    return scan == ComponentScan::Cpu || scan == ComponentScan::Fpga5m ||
           scan == ComponentScan::ResizeFpga || scan == ComponentScan::Fpga2m;
}

// What a scan must record from the directory: the files of its component that have content;
// for a single-choice scan the newest of them (the first in name order among equal times), for
// the others all of them, group by group, each group in name order.
void CheckScan(ComponentScan scan, const std::vector<platform::FindEntry>& directory,
               const std::map<std::string, Listed>& listing,
               const std::vector<std::string>& recorded) {
    std::vector<std::pair<int, platform::FindEntry>> expected;
    for (const platform::FindEntry& entry : directory) {
        const std::optional<Belonging> belonging = ComponentOf(entry.name);
        if (belonging && belonging->scan == scan && listing.at(entry.name).hasContent)
            expected.push_back({belonging->group, entry});
    }
    std::stable_sort(expected.begin(), expected.end(), [](const auto& a, const auto& b) {
        return a.first != b.first ? a.first < b.first : FileNameLess(a.second.name, b.second.name);
    });
    if (!IsSingleChoice(scan)) {
        FUZZ_CHECK(recorded.size() == expected.size());
        for (size_t i = 0; i < recorded.size(); ++i)
            FUZZ_CHECK(recorded[i] == expected[i].second.name);
        return;
    }
    FUZZ_CHECK(recorded.size() == (expected.empty() ? 0u : 1u));
    if (recorded.empty())
        return;
    const auto newest =
        std::max_element(expected.begin(), expected.end(), [](const auto& a, const auto& b) {
            return a.second.lastWriteTime < b.second.lastWriteTime;
        });
    FUZZ_CHECK(recorded.front() == newest->second.name);
}

void CheckRecordedName(const std::string& name) {
    const int version = CpuFileVersion(name);
    FUZZ_CHECK((version >= 0 && version <= 99) || version == 5);

    const std::string stor = FormatStorCommand(name.c_str());
    FUZZ_CHECK(stor.size() == name.size() + 8 && stor.rfind("STOR  ", 0) == 0);

    const auto record = std::make_unique<uint8_t[]>(kUploadHeaderSize);
    EncodeUploadHeader(MakeUploadHeader(name, 1, 11), record.get());
    FUZZ_CHECK(RecordLogText(record.get(), kUploadHeaderSize).size() <= kUploadHeaderSize);
    // The name field: the name's first 16 bytes, zero-padded.
    std::string expected = name.substr(0, kUploadNameFieldSize);
    expected.resize(kUploadNameFieldSize, '\0');
    FUZZ_CHECK(std::string(reinterpret_cast<const char*>(record.get()), kUploadNameFieldSize) ==
               expected);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The directory: names are unique in it, "." and ".." are not reported.
    std::map<std::string, Listed> listing;
    std::vector<platform::FindEntry> directory;
    const std::string input(reinterpret_cast<const char*>(data), size);
    for (size_t start = 0; start < input.size();) {
        size_t end = input.find('/', start);
        if (end == std::string::npos)
            end = input.size();
        if (end - start >= 2) {
            const unsigned char mark = static_cast<unsigned char>(input[start]);
            const std::string name = input.substr(start + 1, end - start - 1);
            if (name != "." && name != ".." && name.find('\0') == std::string::npos &&
                listing.emplace(name, Listed{mark, mark != '0'}).second)
                directory.push_back({name, mark});
        }
        start = end + 1;
    }

    DiscoveryFolder folder;
    folder.find = [&](const ComponentSearch& search) {
        std::vector<platform::FindEntry> found;
        for (const platform::FindEntry& entry : directory) {
            if (platform::WindowsNameMatches(search.pattern, entry.name))
                found.push_back(entry);
        }
        std::vector<platform::FindEntry> list;
        FUZZ_CHECK(KeepFound(found, search.extLength, &list) == !list.empty());
        std::set<std::string> kept;
        for (const platform::FindEntry& entry : list)
            kept.insert(entry.name);
        for (const platform::FindEntry& entry : directory)
            FUZZ_CHECK(kept.count(entry.name) == (ShouldKeep(search, entry.name) ? 1u : 0u));
        FUZZ_CHECK(std::is_sorted(list.begin(), list.end(),
                                  [](const platform::FindEntry& a, const platform::FindEntry& b) {
                                      return FileNameLess(a.name, b.name);
                                  }));
        return list;
    };
    folder.hasContent = [&](const platform::FindEntry& entry) {
        return listing.at(entry.name).hasContent;
    };

    for (int scan = static_cast<int>(ComponentScan::Cpu);
         scan <= static_cast<int>(ComponentScan::Fpga2m); ++scan) {
        const auto which = static_cast<ComponentScan>(scan);
        const std::vector<std::string> names = ScanFolder(which, folder);
        CheckScan(which, directory, listing, names);
        for (const std::string& name : names)
            CheckRecordedName(name);
    }
    return 0;
}
