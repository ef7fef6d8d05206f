#pragma once
// The update set of a fleet run: the current directory's parameter file and component files,
// found once with the dialog's own discovery and rules, and what an update would send.

#include "app/updater_dlg.h"
#include "cli/unit_window.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace cli {

struct PlannedFile {
    int labelId;           // the component's step label
    int step;              // its step code (UpdateStep)
    std::string component; // "CPU Program", "Web 0 Data", ...
    std::string file;
    uint64_t bytes;
};

class UpdateSet {
  public:
    // Reads the parameter file and discovers the components in the current directory.
    UpdateSet();

    // What the units' runs take over (CUpdaterDlg::AdoptUpdateSet).
    const CUpdaterDlg& Found() const { return *m_found; }
    std::string Model() const { return m_found->m_szModel; }
    bool DefaultSetting() const { return m_found->m_bDefaultSetting != 0; }
    // Every file an update sends, in the order it sends them.
    const std::vector<PlannedFile>& Plan() const { return m_plan; }
    bool HasCpuProgram() const { return !m_found->m_pszCpuFile.empty(); }
    // How many times the CPU program goes to a unit of the given version (0: none in the set).
    int CpuPasses(int deviceVersion) const;

  private:
    UnitWindow* m_window = nullptr;
    std::unique_ptr<CUpdaterDlg> m_found;
    std::vector<PlannedFile> m_plan;
};

// The component's name for people: the step's title without its leading "Update ".
std::string ComponentName(int labelId);

} // namespace cli
