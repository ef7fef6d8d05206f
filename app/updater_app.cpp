#include "app/updater_app.h"

#include "app/updater_dlg.h"
#include "platform/socket.h"

namespace {
constexpr const char* kInstanceName = "KQVorlink";
}

bool CUpdaterApp::InitInstance() {
    switch (m_hMutex.Acquire(kInstanceName)) {
    case platform::SingleInstanceLock::Result::Failed:
        return false;
    case platform::SingleInstanceLock::Result::AlreadyExists:
        // The running copy is neither activated nor told anything.
        platform::MessageBoxNoOwner("KQVorlink.EXE is already started.", "KQVorlink",
                                    platform::kMbIconWarning);
        return false;
    case platform::SingleInstanceLock::Result::Acquired:
        break;
    }
    CUpdaterDlg dialog;
    m_pMainWnd = &dialog;
    dialog.DoModal();
    m_pMainWnd = nullptr; // the dialog goes out of scope here
    return false;
}

int CUpdaterApp::ExitInstance() {
    platform::CleanupSockets();
    m_hMutex.Release();
    return CWinApp::ExitInstance();
}

CUpdaterApp& TheApp() {
    static CUpdaterApp app;
    return app;
}
