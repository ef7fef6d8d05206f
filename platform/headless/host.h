#pragma once
// The headless window behind a CDialog: the model of its template's controls, kept under a mutex
// so that tests may read it from their own thread, and the modal loop that carries every call
// from another thread to the dialog's thread. Handlers are always called without the mutex.

#include "platform/dialog_host.h"
#include "platform/dialog_template.h"
#include "platform/headless/desktop.h"
#include "platform/headless/thread_queue.h"

#include <atomic>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

namespace headless {

class HeadlessHost final : public platform::DialogHost, public DialogView {
  public:
    HeadlessHost(platform::CDialog& dialog, int templateId);
    ~HeadlessHost() override;

    // The host of a dialog made with the headless backend, or null.
    static HeadlessHost* Of(const platform::CDialog& dialog);
    // Ends this dialog and every dialog opened on its thread (for DialogRunner's clean-up).
    void EndEveryDialogOnItsThread(int result);

    // How many times OnInitDialog has finished; lets a runner wait for the dialog to be ready.
    unsigned InitCount() const;
    // Waits until InitCount() exceeds count or stop() holds, at most timeout.
    void WaitForInit(unsigned count, const std::function<bool()>& stop,
                     std::chrono::milliseconds timeout);
    void WakeWaiters();

    // DialogHost
    int RunModal() override;
    void EndDialog(int result) override;
    void SetItemText(int id, const std::string& text) override;
    std::string GetItemText(int id) override;
    void ShowItem(int id, bool show) override;
    bool IsItemVisible(int id) override;
    void EnableItem(int id, bool enable) override;
    void SetItemFont(int id, const platform::CFont& font) override;
    void SetFocusTo(int id) override;
    void SelectAllText(int id) override;
    void SetProgressRange(int id, uint32_t low, uint32_t high) override;
    void SetProgressPos(int id, uint32_t pos) override;
    void SetCaption(const std::string& caption) override;
    std::string GetCaption() override;
    void SetWindowIcon(platform::IconHandle icon) override;
    void AppendSystemMenuItem(const std::string& text, unsigned commandId) override;
    unsigned SetTimer(unsigned id, unsigned periodMs) override;
    void KillTimer(unsigned id) override;
    int MessageBox(const std::string& text, unsigned style) override;
    void PostClose() override;
    bool IsIconic() override { return false; }
    void PaintIconCentered(platform::IconHandle icon) override;
    void RunOnDialogThread(const std::function<void()>& fn) override;

    // DialogView
    int TemplateId() const override { return m_templateId; }
    ControlState Control(int id) const override;
    std::vector<ControlState> Controls() const override;
    std::string Caption() const override;
    int FocusedId() const override;
    std::vector<std::string> SystemMenuItems() const override;
    bool TimerArmed(unsigned id) const override;
    unsigned TimerPeriod(unsigned id) const override;
    void Type(int editId, const std::string& text) override;
    void Click(int buttonId) override;
    void FireTimer(unsigned id) override;
    void Close() override;
    void PressEnter() override;
    void PressEscape() override;
    void SysCommand(unsigned commandId) override;
    void SysCommandAsync(unsigned commandId) override;

  private:
    // Runs fn on the dialog's thread and waits for it; runs it at once when called there or when
    // no modal loop is running (fn then finds the window closed and does nothing).
    void Call(const std::function<void()>& fn);
    template <typename T> T Get(const std::function<T()>& fn) {
        T value{};
        Call([&] { value = fn(); });
        return value;
    }
    // Queues fn for the dialog's thread without waiting; dropped when no loop runs.
    void Post(std::function<void()> fn);

    // With m_mutex held: the open window's control, or null.
    ControlState* FindLocked(int id);
    const ControlState* FindLocked(int id) const;
    // Changes one control of the open window under the mutex and records the event that change
    // returns (an event with an empty kind records nothing).
    void Change(int id, const std::function<Event(ControlState&)>& change);
    void Record(Event event);
    void SetDefaultFocus();
    // Runs a handler on the dialog's thread unless the dialog has ended.
    void WhileOpen(const std::function<void()>& handler);
    void SysCommandOnDialogThread(unsigned commandId);

    platform::CDialog& m_dialog;
    const int m_templateId;

    mutable std::mutex m_mutex;
    std::condition_variable m_stateCv;
    bool m_open = false;
    std::thread::id m_thread;
    std::shared_ptr<ThreadQueue> m_queue;
    std::vector<ControlState> m_controls;
    std::string m_caption;
    int m_focus = 0;
    std::vector<std::string> m_menu;
    std::map<unsigned, unsigned> m_timers; // armed timers: id -> period
    unsigned m_initCount = 0;
    std::atomic<bool> m_ended{false};
    int m_result = 0;
};

} // namespace headless
