// The program's resources and unowned message boxes as the headless backend provides them.

#include "platform/dialog.h"
#include "platform/dialog_template.h"
#include "platform/headless/desktop.h"

namespace platform {

IconHandle LoadIconResource(int resourceId) {
    // A token that tells the icons apart; nothing draws them here.
    return reinterpret_cast<IconHandle>(static_cast<intptr_t>(0x10000 + resourceId));
}

std::string LoadStringResource(int resourceId) {
    const char* text = LookUpStringTemplate(resourceId);
    return text ? text : "";
}

const char* ApplicationTitle() {
    return "KQVorlink";
}

int MessageBoxNoOwner(const std::string& text, const std::string& caption, unsigned style) {
    headless::Desktop::Instance().Record({0, "msgbox", 0, text, style, 0});
    return headless::Desktop::Instance().ShowMessageBox({text, caption, style, false});
}

} // namespace platform
