#include "update/component_table.h"

#include "app/res/resource.h"

namespace {

using V = ComponentVariant;

constexpr ComponentRow kRows[] = {
    {kStepCpu, V::CpuProgram, &CUpdaterDlg::m_pszCpuFile, nullptr, nullptr, "CPU File Name : %s",
     "Update CPU Program", IDC_STEP1, 0},
    {kStepFpga5m, V::SingleFile, &CUpdaterDlg::m_pszFpga5mFile, nullptr, "EXCM k_FP\r\n",
     "FPGA File Name : %s", "Update 5M FPGA Program", IDC_STEP2, 2},
    {kStepResizeFpga, V::SingleFile, &CUpdaterDlg::m_pszResizeFpgaFile, nullptr, "EXCM k_FP2\r\n",
     "Resize FPGA File Name : %s", "Update Resize FPGA Program", IDC_STEP3, 3},
    {kStepWeb0, V::List, nullptr, &CUpdaterDlg::m_arrWeb0Files, "EXCM k_Web0\r\n",
     "Web0 Data File Name : %s", "Update Web 0 Data", IDC_STEP4, 4},
    {kStepWeb1, V::List, nullptr, &CUpdaterDlg::m_arrWeb1Files, "EXCM k_Web1\r\n",
     "Web1 Data File Name : %s", "Update Web 1 Data", IDC_STEP5, 5},
    {kStepCursor, V::List, nullptr, &CUpdaterDlg::m_arrCursorFiles, "EXCM k_Cr\r\n",
     "Cursor Data File Name : %s", "Update Cursor Data", IDC_STEP6, 6},
    {kStepIcon, V::List, nullptr, &CUpdaterDlg::m_arrIconFiles, "EXCM k_Ic\r\n",
     "Icon Data File Name : %s", "Update Icon Data", IDC_STEP7, 7},
    {kStepShading, V::List, nullptr, &CUpdaterDlg::m_arrShadingFiles, "EXCM k_Sd\r\n",
     "Shading Data File Name : %s", "Update Shading Data", IDC_STEP8, 8},
    {kStepGamma, V::List, nullptr, &CUpdaterDlg::m_arrGammaFiles, "EXCM k_Gm\r\n",
     "Gamma Data File Name : %s", "Update Gamma Data", IDC_STEP9, 9},
    {kStepScene, V::List, nullptr, &CUpdaterDlg::m_arrSceneFiles, "EXCM k_Mcs\r\n",
     "Scene Data File Name : %s", "Update Scene Data", IDC_STEP10, 10},
    {kStepLogo, V::SingleFile, &CUpdaterDlg::m_pszLogoFile, nullptr, "EXCM k_Lg\r\n",
     "LOGO File Name : %s", "Update Logo Data", IDC_STEP11, 11},
    // The 2M FPGA program has its own selector but the unit expects the FPGA record kind.
    {kStepFpga2m, V::SingleFile, &CUpdaterDlg::m_pszFpga2mFile, nullptr, "EXCM k_FP3\r\n",
     "FPGA3 File Name : %s", "Update 2M FPGA Program", IDC_STEP12, 2},
};

} // namespace

std::span<const ComponentRow> ComponentRows() {
    return kRows;
}

const ComponentRow* FindComponent(int step) {
    for (const ComponentRow& row : kRows) {
        if (row.step == step)
            return &row;
    }
    return nullptr;
}

std::vector<std::string> ComponentFiles(const CUpdaterDlg& dialog, const ComponentRow& row) {
    if (row.list)
        return dialog.*row.list;
    const std::string& name = dialog.*row.file;
    if (name.empty())
        return {};
    return {name};
}
