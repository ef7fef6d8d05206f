// Update-set discovery: which component files in the current directory each step will upload.
// Runs once while the dialog initialises; a step whose component is absent has its label hidden.

#include "files/update_set_discovery.h"

#include "app/res/resource.h"
#include "app/updater_dlg.h"
#include "files/file_search.h"

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

bool Accepted(const Search& search, const std::string& name) {
    return search.belongs(name) && IsNonEmptyFile(name.c_str());
}

// The newest accepted file of one search; empty when there is none.
std::string NewestFile(const Search& search) {
    std::vector<platform::FindEntry> list;
    FindFiles(&list, search.pattern, search.extLength);
    const platform::FindEntry* chosen =
        ChooseNewest(list, [&](const std::string& name) { return Accepted(search, name); });
    return chosen ? chosen->name : std::string();
}

// Every accepted file, search by search, each search's files in name order.
std::vector<std::string> AcceptedFiles(const std::vector<Search>& searches) {
    std::vector<std::string> names;
    for (const Search& search : searches) {
        std::vector<platform::FindEntry> list;
        FindFiles(&list, search.pattern, search.extLength);
        for (const platform::FindEntry& entry : list) {
            if (Accepted(search, entry.name))
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

void RecordNewest(CUpdaterDlg& dialog, std::string& field, const Search& search, int labelId) {
    const std::string name = NewestFile(search);
    if (!name.empty())
        field = name;
    MarkPresence(dialog, !name.empty(), labelId);
}

void RecordAll(CUpdaterDlg& dialog, std::vector<std::string>& field,
               const std::vector<Search>& searches, int labelId) {
    const std::vector<std::string> names = AcceptedFiles(searches);
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
    ScanCpuFile();
    ScanFpga5mFile();
    ScanResizeFpgaFile();
    ScanWeb0Files();
    ScanWeb1Files();
    ScanCursorFiles();
    ScanIconFiles();
    ScanShadingFiles();
    ScanGammaFiles();
    ScanSceneFiles();
    ScanLogoFile();
    ScanFpga2mFile();
    if (!m_bDataFound)
        ShowDlgItem(IDC_DATA, false);
}

void CUpdaterDlg::ScanCpuFile() {
    RecordNewest(*this, m_pszCpuFile, {"*.cpu", 3, AnyName}, IDC_STEP1);
    if (!m_pszCpuFile.empty())
        m_nCpuFileVersion = CpuFileVersion(m_pszCpuFile);
}

void CUpdaterDlg::ScanFpga5mFile() {
    RecordNewest(*this, m_pszFpga5mFile, {"*.bin", 3, IsFpga5mName}, IDC_STEP2);
}

void CUpdaterDlg::ScanResizeFpgaFile() {
    RecordNewest(*this, m_pszResizeFpgaFile, {"*.bin", 3, IsResizeFpgaName}, IDC_STEP3);
}

void CUpdaterDlg::ScanWeb0Files() {
    RecordAll(*this, m_arrWeb0Files, WebSearches(IsWeb0Name), IDC_STEP4);
}

void CUpdaterDlg::ScanWeb1Files() {
    RecordAll(*this, m_arrWeb1Files, WebSearches(IsWeb1Name), IDC_STEP5);
}

void CUpdaterDlg::ScanCursorFiles() {
    RecordAll(*this, m_arrCursorFiles, {{"*.bmp", 3, IsCursorName}, {"*.bmp", 3, IsButtonName}},
              IDC_STEP6);
}

void CUpdaterDlg::ScanIconFiles() {
    RecordAll(*this, m_arrIconFiles, {{"*.bmp", 3, IsIconName}}, IDC_STEP7);
}

void CUpdaterDlg::ScanShadingFiles() {
    RecordAll(*this, m_arrShadingFiles, {{"*.sdt", 3, AnyName}}, IDC_STEP8);
}

void CUpdaterDlg::ScanGammaFiles() {
    RecordAll(*this, m_arrGammaFiles, {{"*.tbl", 3, AnyName}}, IDC_STEP9);
}

void CUpdaterDlg::ScanSceneFiles() {
    RecordAll(*this, m_arrSceneFiles, {{"*.cst", 3, AnyName}}, IDC_STEP10);
}

void CUpdaterDlg::ScanLogoFile() {
    // A plain name matches at most one file; should there be more, the last in name order stays.
    const std::vector<std::string> names = AcceptedFiles({{"LOGO.bmp", 3, AnyName}});
    if (!names.empty())
        m_pszLogoFile = names.back();
    MarkPresence(*this, !names.empty(), IDC_STEP11);
}

void CUpdaterDlg::ScanFpga2mFile() {
    RecordNewest(*this, m_pszFpga2mFile, {"*.bin", 3, IsFpga2mName}, IDC_STEP12);
}
