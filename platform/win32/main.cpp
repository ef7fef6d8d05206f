// The Windows entry point: registers the common controls (the progress bar), then runs the
// program's application object.

#include "platform/app.h"

#include <windows.h>

#include <commctrl.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS};
    ::InitCommonControlsEx(&controls);
    return platform::RunApplication();
}
