#pragma once
// The rules of update-set discovery that do not need the dialog (the scans themselves are
// members of CUpdaterDlg).

#include "platform/file.h"

#include <functional>
#include <string>
#include <vector>

// One directory search of a scan: the pattern and extension length given to FindFiles, and the
// test by which a found name belongs to the component (prefixes compare byte for byte).
struct ComponentSearch {
    const char* pattern;
    int extLength;
    bool (*belongs)(const std::string& name);
};

// The folder as the scans see it: one search's kept entries in name order (as FindFiles gives
// them) and whether a found file has content. The dialog's scans look at the current directory.
struct DiscoveryFolder {
    std::function<std::vector<platform::FindEntry>(const ComponentSearch& search)> find;
    std::function<bool(const platform::FindEntry& entry)> hasContent;
};

// The twelve scans, in the order FindUpdateFiles runs them.
enum class ComponentScan {
    Cpu,
    Fpga5m,
    ResizeFpga,
    Web0,
    Web1,
    Cursor,
    Icon,
    Shading,
    Gamma,
    Scene,
    Logo,
    Fpga2m
};

// Every pattern the scans search for: the folder is read once for all of them.
const std::vector<std::string>& DiscoveryPatterns();

// The names a scan accepts in a folder (belonging to the component, with content). The CPU and
// FPGA scans give at most one, the newest (ChooseNewest); the others give every accepted name,
// search by search, each search's names in name order.
std::vector<std::string> ScanFolder(ComponentScan scan, const DiscoveryFolder& folder);

// The entry to record from a sorted search result: walking from the head, an entry that passes
// accept wins when nothing is chosen yet or its last-write time is strictly later than the
// chosen one's, so among equal times the first in name order stays. Null when none passes.
const platform::FindEntry* ChooseNewest(const std::vector<platform::FindEntry>& sorted,
                                        const std::function<bool(const std::string&)>& accept);

// The version number in a CPU program file's name: its third and fourth characters as a
// two-digit decimal number (ab07.cpu gives 7), or 5 when they are not both digits.
int CpuFileVersion(const std::string& name);
