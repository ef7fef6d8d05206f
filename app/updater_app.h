#pragma once
// The application object: one copy of the program at a time, the main dialog run modally, and
// the socket library stopped at the very end.

#include "platform/app.h"
#include "platform/process.h"

class CUpdaterApp : public platform::CWinApp {
  public:
    // Always false: the process ends once the main dialog has closed.
    bool InitInstance() override;
    int ExitInstance() override;

  private:
    platform::SingleInstanceLock m_hMutex;
};

// The program's application object, made on first use (and then the current one).
CUpdaterApp& TheApp();
