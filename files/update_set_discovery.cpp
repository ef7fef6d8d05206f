// Update-set discovery: which component files in the current directory each step will upload.
// Runs once while the dialog initialises; a step whose component is absent has its label hidden.

#include "files/update_set_discovery.h"

#include "app/res/resource.h"
#include "app/updater_dlg.h"
#include "files/file_search.h"
#include "update/component_table.h"

#include <cstring>

namespace {

bool StartsWith(const std::string& name, const char* prefix) {
    return name.rfind(prefix, 0) == 0;
}

// Prefixes compare byte for byte: case matters ("r_fpga.bin" is no resize program).
bool AnyName(const std::string&) {
    return true;
}
bool IsFpga5mName(const std::string& name) {
    return name[0] != 'R' && name[0] != 'T';
}
bool IsResizeFpgaName(const std::string& name) {
    return name[0] == 'R';
}
bool IsFpga2mName(const std::string& name) {
    return name[0] == 'T';
}
bool IsWeb0Name(const std::string& name) {
    return StartsWith(name, "oem");
}
bool IsWeb1Name(const std::string& name) {
    return !IsWeb0Name(name);
}
bool IsCursorName(const std::string& name) {
    return StartsWith(name, "CUR");
}
bool IsButtonName(const std::string& name) {
    return StartsWith(name, "BUT");
}
bool IsIconName(const std::string& name) {
    return StartsWith(name, "ICON");
}

// Web pages and images, in the order the unit takes them.
std::vector<ComponentSearch> WebSearches(bool (*belongs)(const std::string&)) {
    return {{"*.htm", 3, belongs},
            {"*.html", 4, belongs},
            {"*.jpg", 3, belongs},
            {"*.gif", 3, belongs}};
}

struct ScanRule {
    int step;        // the component's row in the component table
    bool newestOnly; // the single-choice scans record only the newest accepted file
    std::vector<ComponentSearch> searches;
};

const ScanRule& RuleOf(ComponentScan scan) {
    static const ScanRule kRules[] = {
        {kStepCpu, true, {{"*.cpu", 3, AnyName}}},
        {kStepFpga5m, true, {{"*.bin", 3, IsFpga5mName}}},
        {kStepResizeFpga, true, {{"*.bin", 3, IsResizeFpgaName}}},
        {kStepWeb0, false, WebSearches(IsWeb0Name)},
        {kStepWeb1, false, WebSearches(IsWeb1Name)},
        {kStepCursor, false, {{"*.bmp", 3, IsCursorName}, {"*.bmp", 3, IsButtonName}}},
        {kStepIcon, false, {{"*.bmp", 3, IsIconName}}},
        {kStepShading, false, {{"*.sdt", 3, AnyName}}},
        {kStepGamma, false, {{"*.tbl", 3, AnyName}}},
        {kStepScene, false, {{"*.cst", 3, AnyName}}},
        {kStepLogo, false, {{"LOGO.bmp", 3, AnyName}}},
        {kStepFpga2m, true, {{"*.bin", 3, IsFpga2mName}}},
    };
    return kRules[static_cast<int>(scan)];
}

// The folder as read once: a search keeps its entries from the listing, and an entry has content
// when the directory search saw a size.
DiscoveryFolder ListedFolder(const FolderListing& listing) {
    return {[&listing](const ComponentSearch& search) {
                return listing.Find(search.pattern, search.extLength);
            },
            [](const platform::FindEntry& entry) { return entry.size != 0; }};
}

// One scan into the dialog. The component's row says where its names go: a single-file field
// keeps the last name (a single-choice scan gives at most one; should a plain name match more,
// the last in name order stays), a list takes them all. The step label of an absent component is
// hidden.
void ScanInto(CUpdaterDlg& dialog, ComponentScan scan, const FolderListing& folder) {
    const ComponentRow& row = *FindComponent(RuleOf(scan).step);
    const std::vector<std::string> names = ScanFolder(scan, ListedFolder(folder));
    if (row.list)
        (dialog.*row.list).insert((dialog.*row.list).end(), names.begin(), names.end());
    else if (!names.empty())
        dialog.*row.file = names.back();
    if (names.empty())
        dialog.ShowDlgItem(row.labelId, false);
    else
        dialog.m_bDataFound = 1;
    if (row.variant == ComponentVariant::CpuProgram && !(dialog.*row.file).empty())
        dialog.m_nCpuFileVersion = CpuFileVersion(dialog.*row.file);
}

} // namespace

const std::vector<std::string>& DiscoveryPatterns() {
    static const std::vector<std::string> kPatterns = {"*.cpu", "*.bin", "*.htm",   "*.html",
                                                       "*.jpg", "*.gif", "*.bmp",   "*.sdt",
                                                       "*.tbl", "*.cst", "LOGO.bmp"};
    return kPatterns;
}

std::vector<std::string> ScanFolder(ComponentScan scan, const DiscoveryFolder& folder) {
    const ScanRule& rule = RuleOf(scan);
    std::vector<std::string> names;
    for (const ComponentSearch& search : rule.searches) {
        std::vector<platform::FindEntry> list = folder.find(search);
        std::erase_if(list,
                      [&](const platform::FindEntry& entry) { return !folder.hasContent(entry); });
        if (rule.newestOnly) {
            if (const platform::FindEntry* chosen = ChooseNewest(list, search.belongs))
                names.push_back(chosen->name);
            continue;
        }
        for (const platform::FindEntry& entry : list) {
            if (search.belongs(entry.name))
                names.push_back(entry.name);
        }
    }
    return names;
}

const platform::FindEntry* ChooseNewest(const std::vector<platform::FindEntry>& sorted,
                                        const std::function<bool(const std::string&)>& accept) {
    const platform::FindEntry* chosen = nullptr;
    for (const platform::FindEntry& entry : sorted) {
        if (!accept(entry.name))
            continue;
        if (chosen == nullptr || entry.lastWriteTime > chosen->lastWriteTime)
            chosen = &entry;
    }
    return chosen;
}

int CpuFileVersion(const std::string& name) {
    auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
    if (name.size() < 4 || !isDigit(name[2]) || !isDigit(name[3]))
        return 5;
    return (name[2] - '0') * 10 + (name[3] - '0');
}

void CUpdaterDlg::FindUpdateFiles() {
    const FolderListing folder(DiscoveryPatterns());
    ScanCpuFile(folder);
    ScanFpga5mFile(folder);
    ScanResizeFpgaFile(folder);
    ScanWeb0Files(folder);
    ScanWeb1Files(folder);
    ScanCursorFiles(folder);
    ScanIconFiles(folder);
    ScanShadingFiles(folder);
    ScanGammaFiles(folder);
    ScanSceneFiles(folder);
    ScanLogoFile(folder);
    ScanFpga2mFile(folder);
    if (!m_bDataFound)
        ShowDlgItem(IDC_DATA, false);
}

// The dialog's twelve scans, each over its row of the tables above.
void CUpdaterDlg::ScanCpuFile(const FolderListing& folder) {
    ScanInto(*this, ComponentScan::Cpu, folder);
}
void CUpdaterDlg::ScanFpga5mFile(const FolderListing& folder) {
    ScanInto(*this, ComponentScan::Fpga5m, folder);
}
void CUpdaterDlg::ScanResizeFpgaFile(const FolderListing& folder) {
    ScanInto(*this, ComponentScan::ResizeFpga, folder);
}
void CUpdaterDlg::ScanWeb0Files(const FolderListing& folder) {
    ScanInto(*this, ComponentScan::Web0, folder);
}
void CUpdaterDlg::ScanWeb1Files(const FolderListing& folder) {
    ScanInto(*this, ComponentScan::Web1, folder);
}
void CUpdaterDlg::ScanCursorFiles(const FolderListing& folder) {
    ScanInto(*this, ComponentScan::Cursor, folder);
}
void CUpdaterDlg::ScanIconFiles(const FolderListing& folder) {
    ScanInto(*this, ComponentScan::Icon, folder);
}
void CUpdaterDlg::ScanShadingFiles(const FolderListing& folder) {
    ScanInto(*this, ComponentScan::Shading, folder);
}
void CUpdaterDlg::ScanGammaFiles(const FolderListing& folder) {
    ScanInto(*this, ComponentScan::Gamma, folder);
}
void CUpdaterDlg::ScanSceneFiles(const FolderListing& folder) {
    ScanInto(*this, ComponentScan::Scene, folder);
}
void CUpdaterDlg::ScanLogoFile(const FolderListing& folder) {
    ScanInto(*this, ComponentScan::Logo, folder);
}
void CUpdaterDlg::ScanFpga2mFile(const FolderListing& folder) {
    ScanInto(*this, ComponentScan::Fpga2m, folder);
}

void CUpdaterDlg::AdoptUpdateSet(const CUpdaterDlg& from) {
    std::memcpy(m_szModel, from.m_szModel, sizeof m_szModel);
    m_bDefaultSetting = from.m_bDefaultSetting;
    m_bDataFound = from.m_bDataFound;
    m_nCpuFileVersion = from.m_nCpuFileVersion;
    for (const ComponentRow& row : ComponentRows()) {
        if (row.file)
            this->*row.file = from.*row.file;
        if (row.list)
            this->*row.list = from.*row.list;
    }
}
