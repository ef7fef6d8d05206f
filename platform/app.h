#pragma once
// CWinApp: our stand-in for the framework's application object. The program defines one global
// object of a class derived from it; the platform's entry point runs it with RunApplication.

#include "platform/dialog.h"

namespace platform {

class CWinApp {
  public:
    // The newest application object that still exists is the current one.
    CWinApp();
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;
    virtual ~CWinApp();

    // Runs the program; the framework's default does nothing and succeeds.
    virtual bool InitInstance() { return true; }
    // The process exit code.
    virtual int ExitInstance() { return 0; }

    // The main window; set by InitInstance while its dialog runs.
    CDialog* m_pMainWnd = nullptr;

    // The current application object, or null.
    static CWinApp* Current();
};

// Runs the current application object: InitInstance, then ExitInstance, whose value is returned
// as the exit code (1 when there is no application object).
int RunApplication();

} // namespace platform
