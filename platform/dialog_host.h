#pragma once
// The window behind a CDialog. One implementation per backend; CDialog forwards to it and the
// backend calls the dialog's handlers. Backends guarantee the thread rule of dialog.h.

#include "platform/dialog.h"

#include <memory>

namespace platform {

class DialogHost {
  public:
    virtual ~DialogHost() = default;

    virtual int RunModal() = 0;
    virtual void EndDialog(int result) = 0;

    virtual void SetItemText(int id, const std::string& text) = 0;
    virtual std::string GetItemText(int id) = 0;
    virtual void ShowItem(int id, bool show) = 0;
    virtual bool IsItemVisible(int id) = 0;
    virtual void EnableItem(int id, bool enable) = 0;
    virtual void SetItemFont(int id, const CFont& font) = 0;
    virtual void SetFocusTo(int id) = 0;
    virtual void SelectAllText(int id) = 0;
    virtual void SetProgressRange(int id, uint32_t low, uint32_t high) = 0;
    virtual void SetProgressPos(int id, uint32_t pos) = 0;

    virtual void SetCaption(const std::string& caption) = 0;
    virtual std::string GetCaption() = 0;
    virtual void SetWindowIcon(IconHandle icon) = 0;
    virtual void AppendSystemMenuItem(const std::string& text, unsigned commandId) = 0;
    virtual unsigned SetTimer(unsigned id, unsigned periodMs) = 0;
    virtual void KillTimer(unsigned id) = 0;
    virtual int MessageBox(const std::string& text, unsigned style) = 0;
    virtual int OwnerlessMessageBox(const std::string& text, const std::string& caption,
                                    unsigned style) {
        return MessageBoxNoOwner(text, caption, style);
    }
    virtual void PostClose() = 0;
    virtual bool IsIconic() = 0;
    virtual void PaintIconCentered(IconHandle icon) = 0;
    virtual void RunOnDialogThread(const std::function<void()>& fn) = 0;
};

// Made by the backend that the program is linked with.
std::unique_ptr<DialogHost> CreateDialogHost(CDialog& dialog, int templateId);

} // namespace platform
