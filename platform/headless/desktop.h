#pragma once
// The headless backend's world, for tests: every dialog that is open, every control of its
// template with what a person would see (text, visibility, enabled state, font, focus, selection,
// progress range and position), an ordered record of events, and scripted answers to message
// boxes. A test acts on a dialog as a person would (type, click, close, fire a timer) and each
// action is carried to the dialog's thread and waited for.

#include "platform/dialog.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace headless {

struct ControlState {
    int id = 0;
    platform::ControlKind kind = platform::ControlKind::Static;
    std::string text;
    bool visible = true;
    bool enabled = true;
    std::string fontFace; // empty: the template font
    int fontWeight = 0;
    int fontHeight = 0;
    uint32_t rangeLow = 0, rangeHigh = 100, pos = 0; // progress bars
    int selStart = 0, selEnd = 0;                    // edit controls
};

// One recorded event. kind is one of: "text", "show", "enable", "font", "focus", "select",
// "range", "pos", "caption", "settimer", "killtimer", "msgbox", "postclose", "end", "sysmenu",
// "icon", "paint". id is the control (or timer) id; a/b carry numbers (visibility 0/1, range,
// position, timer period, message-box style, font weight); text carries texts.
struct Event {
    int dialogTemplate = 0;
    std::string kind;
    int id = 0;
    std::string text;
    int64_t a = 0, b = 0;
};

struct MessageBoxRecord {
    std::string text;
    std::string caption;
    unsigned style = 0;
    bool owned = true;
};

// A view of one open dialog; valid while the dialog is open.
class DialogView {
  public:
    virtual ~DialogView() = default;
    virtual int TemplateId() const = 0;
    virtual ControlState Control(int id) const = 0;
    virtual std::vector<ControlState> Controls() const = 0; // template order
    virtual std::string Caption() const = 0;
    virtual int FocusedId() const = 0; // 0 when none
    virtual std::vector<std::string> SystemMenuItems() const = 0;
    virtual bool TimerArmed(unsigned id) const = 0;
    virtual unsigned TimerPeriod(unsigned id) const = 0;

    // A person's actions (carried to the dialog's thread and waited for).
    // Type and Click do nothing on a control that is disabled or hidden, as for a person.
    virtual void Type(int editId, const std::string& text) = 0; // replaces the text; EN_CHANGE
    virtual void Click(int buttonId) = 0;                       // BN_CLICKED when enabled
    virtual void FireTimer(unsigned id) = 0;                    // WM_TIMER if armed
    virtual void Close() = 0;                                   // WM_CLOSE (close button, Alt+F4)
    virtual void PressEnter() = 0;                              // IDOK
    virtual void PressEscape() = 0;                             // IDCANCEL
    virtual void SysCommand(unsigned commandId) = 0;            // a system-menu command
    // Posted, not waited for: for actions that open a nested modal dialog (About).
    virtual void SysCommandAsync(unsigned commandId) = 0;
};

class Desktop {
  public:
    static Desktop& Instance();

    // Forgets events and message boxes and restores the default responder (answers kIdOk).
    void Reset();
    // Answers every message box; runs on the thread that shows the box.
    void SetMessageBoxResponder(std::function<int(const MessageBoxRecord&)> responder);
    std::vector<MessageBoxRecord> MessageBoxes() const;
    bool WaitForMessageBoxes(size_t count, std::chrono::milliseconds timeout) const;

    std::vector<Event> Events() const;
    void ClearEvents();

    // The most recently opened dialog with this template that is still open, or null. A dialog
    // counts as open once its OnInitDialog has finished (and the dialog manager has given the
    // first tab stop the focus when OnInitDialog returned true).
    DialogView* Find(int templateId);
    // Waits until a dialog with this template is open.
    DialogView* WaitFor(int templateId, std::chrono::milliseconds timeout);

    // Used by the backend.
    void Record(const Event& event);
    int ShowMessageBox(const MessageBoxRecord& box);
    void Register(DialogView* view);
    void Unregister(DialogView* view);

  private:
    Desktop();
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

// Runs a dialog's DoModal on a thread of its own (the dialog's thread) and returns once
// OnInitDialog has finished. The destructor closes the dialog if it is still open and joins.
class DialogRunner {
  public:
    explicit DialogRunner(platform::CDialog& dialog);
    DialogRunner(const DialogRunner&) = delete;
    DialogRunner& operator=(const DialogRunner&) = delete;
    ~DialogRunner();

    DialogView& View();
    bool WaitEnded(std::chrono::milliseconds timeout);
    bool Ended() const;
    int Result() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

} // namespace headless
