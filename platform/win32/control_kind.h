#pragma once
// Which of the dialogs' control kinds a child window of a dialog is, told by its window class
// (and, for static controls, whether it shows a picture).

#include "platform/dialog.h"

#include <windows.h>

namespace platform {

ControlKind KindOfControl(HWND control);

} // namespace platform
