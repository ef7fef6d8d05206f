#include "platform/win32/control_kind.h"

#include <commctrl.h>

namespace platform {

ControlKind KindOfControl(HWND control) {
    char cls[64] = {};
    ::GetClassNameA(control, cls, sizeof cls);
    if (::lstrcmpiA(cls, "Edit") == 0)
        return ControlKind::Edit;
    if (::lstrcmpiA(cls, "Button") == 0)
        return ControlKind::Button;
    if (::lstrcmpiA(cls, PROGRESS_CLASSA) == 0)
        return ControlKind::Progress;
    const LONG_PTR type = ::GetWindowLongPtrA(control, GWL_STYLE) & SS_TYPEMASK;
    if (type == SS_ICON || type == SS_BITMAP)
        return ControlKind::Picture;
    return ControlKind::Static;
}

} // namespace platform
