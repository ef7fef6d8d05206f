#pragma once
// The window of one unit's run in the fleet front end: the run's controls as in-memory state
// that the terminal view renders, and its message boxes as the unit's outcome. Calls come from
// the unit's worker thread and the view reads from the main thread, so the state is locked.

#include "platform/dialog_host.h"

#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace cli {

// A message box the run showed: its text and kind ("information", "warning", "stop").
struct BoxShown {
    std::string text;
    std::string kind;
};

// What the view shows of a unit at one moment. What the unit confirmed is not read from here
// but from the run's record (CUpdaterDlg::m_record).
struct WindowState {
    // The status line ("downloading..."), as set since the current step began or the last one
    // ended: the dialog leaves a step's last status in place until the next step sets its own.
    std::string status;
    int boldLabel = 0; // the label of the step in progress (0: none)
    int lastLabel = 0; // that label, or between steps the last step's (0: none yet)
    uint32_t barHigh = 0, barPos = 0;
    std::vector<BoxShown> boxes;
};

class UnitWindow final : public platform::DialogHost {
  public:
    WindowState State() const;

    int RunModal() override { return -1; } // a unit's run has no modal loop
    void EndDialog(int) override {}
    void SetItemText(int id, const std::string& text) override;
    std::string GetItemText(int id) override;
    void ShowItem(int id, bool show) override;
    bool IsItemVisible(int id) override;
    void EnableItem(int, bool) override {}
    void SetItemFont(int id, const platform::CFont& font) override;
    void SetFocusTo(int) override {}
    void SelectAllText(int) override {}
    void SetProgressRange(int id, uint32_t low, uint32_t high) override;
    void SetProgressPos(int id, uint32_t pos) override;
    void SetCaption(const std::string&) override {}
    std::string GetCaption() override { return ""; }
    void SetWindowIcon(platform::IconHandle) override {}
    void AppendSystemMenuItem(const std::string&, unsigned) override {}
    unsigned SetTimer(unsigned id, unsigned) override { return id; } // nothing blinks here
    void KillTimer(unsigned) override {}
    int MessageBox(const std::string& text, unsigned style) override;
    int OwnerlessMessageBox(const std::string& text, const std::string&, unsigned style) override;
    void PostClose() override {}
    bool IsIconic() override { return false; }
    void PaintIconCentered(platform::IconHandle) override {}
    void RunOnDialogThread(const std::function<void()>& fn) override { fn(); }

  private:
    mutable std::mutex m_mutex;
    std::map<int, std::string> m_texts;
    std::map<int, bool> m_hidden;
    WindowState m_state;
};

// Makes a UnitWindow for the dialog and hands its address to *window.
platform::HostFactory UnitWindowFactory(UnitWindow** window);

} // namespace cli
