// Construction and destruction of the main dialog.

#include "app/updater_dlg.h"

#include "app/res/resource.h"
#include "update/component_store.h"

namespace {
constexpr int kFontHeight = 16;
constexpr int kWeightBold = 700;
constexpr int kWeightNormal = 400;
constexpr const char* kFontFace = "tahoma";
} // namespace

CUpdaterDlg::CUpdaterDlg()
    : CDialog(IDD_UPDATER_DIALOG), m_pComponents(std::make_shared<ComponentStore>(false)) {
    Construct();
}

CUpdaterDlg::CUpdaterDlg(const platform::HostFactory& makeHost, std::string logPath,
                         std::shared_ptr<ComponentStore> components, bool keepLogAfterSuccess)
    : CDialog(IDD_UPDATER_DIALOG, makeHost), m_log(std::move(logPath), keepLogAfterSuccess),
      m_pComponents(std::move(components)) {
    Construct();
}

void CUpdaterDlg::Construct() {
    m_hIcon = platform::LoadIconResource(IDR_MAINFRAME);
    m_fontBold.Create(kFontHeight, kWeightBold, kFontFace);
    m_fontNormal.Create(kFontHeight, kWeightNormal, kFontFace);
    m_szModel[0] = '\0';
    m_szDeviceVersion[0] = '\0';
}

// The worker uses this object until it returns, so it is joined before any field goes away.
CUpdaterDlg::~CUpdaterDlg() {
    JoinWorker();
}

void CUpdaterDlg::JoinWorker() {
    if (m_pWorkerThread.joinable()) {
        m_pWorkerThread.join();
    }
}
