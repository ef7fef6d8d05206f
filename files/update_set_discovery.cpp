// Update-set discovery: which component files in the current directory each step will upload.
// Runs once while the dialog initialises; a step whose component is absent has its label hidden.

#include "files/update_set_discovery.h"

#include "app/res/resource.h"
#include "app/updater_dlg.h"
#include "files/file_search.h"
#include "update/component_table.h"

#include <cstring>

namespace {

using NameTest = bool (*)(const std::string& name);

// One directory search and the names of it that belong to a component.
struct Search {
    const char* pattern;
    int extLength;
    NameTest belongs;
};

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

// Every pattern the scans search for: the folder is read once for all of them.
const std::vector<std::string> kPatterns = {"*.cpu", "*.bin", "*.htm", "*.html", "*.jpg",   "*.gif",
                                            "*.bmp", "*.sdt", "*.tbl", "*.cst",  "LOGO.bmp"};

// An entry that belongs to the search and has something in it (the search saw its size).
bool Accepted(const Search& search, const platform::FindEntry& entry) {
    return search.belongs(entry.name) && entry.size != 0;
}

// The newest accepted file of one search; empty when there is none.
std::string NewestFile(const FolderListing& folder, const Search& search) {
    std::vector<platform::FindEntry> list = folder.Find(search.pattern, search.extLength);
    std::erase_if(list, [](const platform::FindEntry& entry) { return entry.size == 0; });
    const platform::FindEntry* chosen = ChooseNewest(list, search.belongs);
    return chosen ? chosen->name : std::string();
}

// Every accepted file, search by search, each search's files in name order.
std::vector<std::string> AcceptedFiles(const FolderListing& folder,
                                       const std::vector<Search>& searches) {
    std::vector<std::string> names;
    for (const Search& search : searches) {
        for (const platform::FindEntry& entry : folder.Find(search.pattern, search.extLength)) {
            if (Accepted(search, entry))
                names.push_back(entry.name);
        }
    }
    return names;
}

// Notes a found component, or hides the step label of an absent one.
void MarkPresence(CUpdaterDlg& dialog, bool found, int labelId) {
    if (found)
        dialog.m_bDataFound = 1;
    else
        dialog.ShowDlgItem(labelId, false);
}

void RecordNewest(CUpdaterDlg& dialog, const FolderListing& folder, std::string& field,
                  const Search& search, int labelId) {
    const std::string name = NewestFile(folder, search);
    if (!name.empty())
        field = name;
    MarkPresence(dialog, !name.empty(), labelId);
}

void RecordAll(CUpdaterDlg& dialog, const FolderListing& folder, std::vector<std::string>& field,
               const std::vector<Search>& searches, int labelId) {
    const std::vector<std::string> names = AcceptedFiles(folder, searches);
    field.insert(field.end(), names.begin(), names.end());
    MarkPresence(dialog, !names.empty(), labelId);
}

// Web pages and images, in the order the unit takes them.
std::vector<Search> WebSearches(NameTest belongs) {
    return {{"*.htm", 3, belongs},
            {"*.html", 4, belongs},
            {"*.jpg", 3, belongs},
            {"*.gif", 3, belongs}};
}

} // namespace

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
    RecordNewest(*this, folder, m_pszCpuFile, {"*.cpu", 3, AnyName}, IDC_STEP1);
    if (!m_pszCpuFile.empty())
        m_nCpuFileVersion = CpuFileVersion(m_pszCpuFile);
}

void CUpdaterDlg::ScanFpga5mFile(const FolderListing& folder) {
    RecordNewest(*this, folder, m_pszFpga5mFile, {"*.bin", 3, IsFpga5mName}, IDC_STEP2);
}

void CUpdaterDlg::ScanResizeFpgaFile(const FolderListing& folder) {
    RecordNewest(*this, folder, m_pszResizeFpgaFile, {"*.bin", 3, IsResizeFpgaName}, IDC_STEP3);
}

void CUpdaterDlg::ScanWeb0Files(const FolderListing& folder) {
    RecordAll(*this, folder, m_arrWeb0Files, WebSearches(IsWeb0Name), IDC_STEP4);
}

void CUpdaterDlg::ScanWeb1Files(const FolderListing& folder) {
    RecordAll(*this, folder, m_arrWeb1Files, WebSearches(IsWeb1Name), IDC_STEP5);
}

void CUpdaterDlg::ScanCursorFiles(const FolderListing& folder) {
    RecordAll(*this, folder, m_arrCursorFiles,
              {{"*.bmp", 3, IsCursorName}, {"*.bmp", 3, IsButtonName}}, IDC_STEP6);
}

void CUpdaterDlg::ScanIconFiles(const FolderListing& folder) {
    RecordAll(*this, folder, m_arrIconFiles, {{"*.bmp", 3, IsIconName}}, IDC_STEP7);
}

void CUpdaterDlg::ScanShadingFiles(const FolderListing& folder) {
    RecordAll(*this, folder, m_arrShadingFiles, {{"*.sdt", 3, AnyName}}, IDC_STEP8);
}

void CUpdaterDlg::ScanGammaFiles(const FolderListing& folder) {
    RecordAll(*this, folder, m_arrGammaFiles, {{"*.tbl", 3, AnyName}}, IDC_STEP9);
}

void CUpdaterDlg::ScanSceneFiles(const FolderListing& folder) {
    RecordAll(*this, folder, m_arrSceneFiles, {{"*.cst", 3, AnyName}}, IDC_STEP10);
}

void CUpdaterDlg::ScanLogoFile(const FolderListing& folder) {
    // A plain name matches at most one file; should there be more, the last in name order stays.
    const std::vector<std::string> names = AcceptedFiles(folder, {{"LOGO.bmp", 3, AnyName}});
    if (!names.empty())
        m_pszLogoFile = names.back();
    MarkPresence(*this, !names.empty(), IDC_STEP11);
}

void CUpdaterDlg::ScanFpga2mFile(const FolderListing& folder) {
    RecordNewest(*this, folder, m_pszFpga2mFile, {"*.bin", 3, IsFpga2mName}, IDC_STEP12);
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
