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
    bool newestOnly; // the single-choice scans record only the newest accepted file
    std::vector<ComponentSearch> searches;
};

const ScanRule& RuleOf(ComponentScan scan) {
    static const ScanRule kRules[] = {
        {true, {{"*.cpu", 3, AnyName}}},
        {true, {{"*.bin", 3, IsFpga5mName}}},
        {true, {{"*.bin", 3, IsResizeFpgaName}}},
        {false, WebSearches(IsWeb0Name)},
        {false, WebSearches(IsWeb1Name)},
        {false, {{"*.bmp", 3, IsCursorName}, {"*.bmp", 3, IsButtonName}}},
        {false, {{"*.bmp", 3, IsIconName}}},
        {false, {{"*.sdt", 3, AnyName}}},
        {false, {{"*.tbl", 3, AnyName}}},
        {false, {{"*.cst", 3, AnyName}}},
        {false, {{"LOGO.bmp", 3, AnyName}}},
        {true, {{"*.bin", 3, IsFpga2mName}}},
    };
    return kRules[static_cast<int>(scan)];
}

// Every pattern the scans search for: the folder is read once for all of them.
const std::vector<std::string> kPatterns = {"*.cpu", "*.bin", "*.htm", "*.html", "*.jpg",   "*.gif",
                                            "*.bmp", "*.sdt", "*.tbl", "*.cst",  "LOGO.bmp"};

// The folder as read once: a search keeps its entries from the listing, and an entry has content
// when the directory search saw a size.
DiscoveryFolder ListedFolder(const FolderListing& listing) {
    return {[&listing](const ComponentSearch& search) {
                return listing.Find(search.pattern, search.extLength);
            },
            [](const platform::FindEntry& entry) { return entry.size != 0; }};
}

// Notes a found component, or hides the step label of an absent one.
void MarkPresence(CUpdaterDlg& dialog, bool found, int labelId) {
    if (found)
        dialog.m_bDataFound = 1;
    else
        dialog.ShowDlgItem(labelId, false);
}

// Records the last of the names (a single-choice scan gives at most one), or hides the step
// label when there is none.
void RecordOne(CUpdaterDlg& dialog, std::string& field, const std::vector<std::string>& names,
               int labelId) {
    if (!names.empty())
        field = names.back();
    MarkPresence(dialog, !names.empty(), labelId);
}

void RecordAll(CUpdaterDlg& dialog, std::vector<std::string>& field,
               const std::vector<std::string>& names, int labelId) {
    field.insert(field.end(), names.begin(), names.end());
    MarkPresence(dialog, !names.empty(), labelId);
}

} // namespace

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
    const FolderListing folder(kPatterns);
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

void CUpdaterDlg::ScanCpuFile(const FolderListing& folder) {
    RecordOne(*this, m_pszCpuFile, ScanFolder(ComponentScan::Cpu, ListedFolder(folder)), IDC_STEP1);
    if (!m_pszCpuFile.empty())
        m_nCpuFileVersion = CpuFileVersion(m_pszCpuFile);
}

void CUpdaterDlg::ScanFpga5mFile(const FolderListing& folder) {
    RecordOne(*this, m_pszFpga5mFile, ScanFolder(ComponentScan::Fpga5m, ListedFolder(folder)),
              IDC_STEP2);
}

void CUpdaterDlg::ScanResizeFpgaFile(const FolderListing& folder) {
    RecordOne(*this, m_pszResizeFpgaFile,
              ScanFolder(ComponentScan::ResizeFpga, ListedFolder(folder)), IDC_STEP3);
}

void CUpdaterDlg::ScanWeb0Files(const FolderListing& folder) {
    RecordAll(*this, m_arrWeb0Files, ScanFolder(ComponentScan::Web0, ListedFolder(folder)),
              IDC_STEP4);
}

void CUpdaterDlg::ScanWeb1Files(const FolderListing& folder) {
    RecordAll(*this, m_arrWeb1Files, ScanFolder(ComponentScan::Web1, ListedFolder(folder)),
              IDC_STEP5);
}

void CUpdaterDlg::ScanCursorFiles(const FolderListing& folder) {
    RecordAll(*this, m_arrCursorFiles, ScanFolder(ComponentScan::Cursor, ListedFolder(folder)),
              IDC_STEP6);
}

void CUpdaterDlg::ScanIconFiles(const FolderListing& folder) {
    RecordAll(*this, m_arrIconFiles, ScanFolder(ComponentScan::Icon, ListedFolder(folder)),
              IDC_STEP7);
}

void CUpdaterDlg::ScanShadingFiles(const FolderListing& folder) {
    RecordAll(*this, m_arrShadingFiles, ScanFolder(ComponentScan::Shading, ListedFolder(folder)),
              IDC_STEP8);
}

void CUpdaterDlg::ScanGammaFiles(const FolderListing& folder) {
    RecordAll(*this, m_arrGammaFiles, ScanFolder(ComponentScan::Gamma, ListedFolder(folder)),
              IDC_STEP9);
}

void CUpdaterDlg::ScanSceneFiles(const FolderListing& folder) {
    RecordAll(*this, m_arrSceneFiles, ScanFolder(ComponentScan::Scene, ListedFolder(folder)),
              IDC_STEP10);
}

void CUpdaterDlg::ScanLogoFile(const FolderListing& folder) {
    // A plain name matches at most one file; should there be more, the last in name order stays.
    RecordOne(*this, m_pszLogoFile, ScanFolder(ComponentScan::Logo, ListedFolder(folder)),
              IDC_STEP11);
}

void CUpdaterDlg::ScanFpga2mFile(const FolderListing& folder) {
    RecordOne(*this, m_pszFpga2mFile, ScanFolder(ComponentScan::Fpga2m, ListedFolder(folder)),
              IDC_STEP12);
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
