#include "cli/update_set.h"

#include "app/res/resource.h"
#include "files/param_file.h"
#include "platform/file.h"
#include "update/component_store.h"
#include "update/component_table.h"

#include <cstdio>
#include <cstring>

namespace cli {

std::string ComponentName(int labelId) {
    if (labelId == IDC_DEFAULT_SETTING)
        return "Default Setting";
    for (const ComponentRow& row : ComponentRows()) {
        if (row.labelId == labelId) {
            const std::string title = row.runTitle;
            return title.rfind("Update ", 0) == 0 ? title.substr(7) : title;
        }
    }
    return "";
}

UpdateSet::UpdateSet()
    : m_found(std::make_unique<CUpdaterDlg>(UnitWindowFactory(&m_window), "",
                                            std::make_shared<ComponentStore>(false))) {
    // The dialog's rules: the model and default setting from the parameter file, else KQ-A2.
    char param[kParamFileCapacity] = {};
    if (ReadParamFile(param) > 0)
        m_found->ApplyParamFile(param);
    else
        std::snprintf(m_found->m_szModel, sizeof m_found->m_szModel, "%s", "KQ-A2");
    m_found->FindUpdateFiles();

    for (const ComponentRow& row : ComponentRows()) {
        for (const std::string& name : ComponentFiles(*m_found, row)) {
            const uint64_t bytes = platform::RegularFileSize(name.c_str()).value_or(0);
            m_plan.push_back({row.labelId, row.step, ComponentName(row.labelId), name, bytes});
        }
    }
}

int UpdateSet::CpuPasses(int deviceVersion) const {
    if (m_found->m_pszCpuFile.empty())
        return 0;
    return CpuProgramPasses(m_found->m_nCpuFileVersion, deviceVersion);
}

} // namespace cli
