// The real window behind a CDialog: a modal dialog made by the system from the program's resource
// template, whose dialog procedure hands each message to the dialog's handlers.
//
// Calls from another thread (the update worker) are sent to the dialog's thread as a private
// message that carries the function to run; SendMessage waits until the dialog procedure has run
// it, so the order of effects is the order of calls. Message boxes are the exception: they are
// shown on the calling thread, owned by the dialog, so the dialog keeps blinking while the worker
// waits for the answer.

#include "platform/dialog_host.h"

#include "platform/win32/control_kind.h"

#include <windows.h>

#include <atomic>
#include <commctrl.h>
#include <vector>

// The system's header names its ANSI function MessageBox too; here it is the host's member.
#undef MessageBox

namespace platform {
namespace {

// The private message: lParam points to the std::function to run.
constexpr UINT kRunOnDialogThread = WM_APP + 1;

// The dialogs open on this thread, innermost last: a nested modal dialog (the About box) is
// owned by the one it was opened from, which it disables while it runs.
thread_local std::vector<HWND> t_openDialogs;

// Dialogs open centred on the window they belong to, or on the screen's work area.
void CentreOnOwner(HWND hwnd) {
    RECT window, area;
    ::GetWindowRect(hwnd, &window);
    const HWND owner = ::GetWindow(hwnd, GW_OWNER);
    if (owner == nullptr || !::IsWindowVisible(owner) || ::IsIconic(owner))
        ::SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
    else
        ::GetWindowRect(owner, &area);
    const int width = window.right - window.left, height = window.bottom - window.top;
    const int x = area.left + (area.right - area.left - width) / 2;
    const int y = area.top + (area.bottom - area.top - height) / 2;
    ::SetWindowPos(hwnd, nullptr, x < 0 ? 0 : x, y < 0 ? 0 : y, 0, 0,
                   SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

class Win32DialogHost final : public DialogHost {
  public:
    Win32DialogHost(CDialog& dialog, int templateId) : m_dialog(dialog), m_templateId(templateId) {}

    int RunModal() override {
        m_thread = ::GetCurrentThreadId();
        const HWND owner = t_openDialogs.empty() ? nullptr : t_openDialogs.back();
        const INT_PTR result =
            ::DialogBoxParamA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(m_templateId), owner,
                              &Win32DialogHost::DialogProc, reinterpret_cast<LPARAM>(this));
        m_hwnd.store(nullptr);
        return int(result);
    }

    void EndDialog(int result) override {
        RunOnDialogThread([&] { ::EndDialog(Window(), result); });
    }

    void SetItemText(int id, const std::string& text) override {
        RunOnDialogThread([&] { ::SetDlgItemTextA(Window(), id, text.c_str()); });
    }

    std::string GetItemText(int id) override {
        std::string text;
        RunOnDialogThread([&] {
            const HWND control = ::GetDlgItem(Window(), id);
            const int length = control ? ::GetWindowTextLengthA(control) : 0;
            if (length <= 0)
                return;
            text.resize(size_t(length) + 1);
            text.resize(size_t(::GetWindowTextA(control, text.data(), length + 1)));
        });
        return text;
    }

    void ShowItem(int id, bool show) override {
        RunOnDialogThread(
            [&] { ::ShowWindow(::GetDlgItem(Window(), id), show ? SW_SHOWNORMAL : SW_HIDE); });
    }

    // The control's own visibility, as the template and ShowItem set it, whether or not the
    // dialog itself is on the screen yet.
    bool IsItemVisible(int id) override {
        bool visible = false;
        RunOnDialogThread([&] {
            const HWND control = ::GetDlgItem(Window(), id);
            visible = control && (::GetWindowLongPtrA(control, GWL_STYLE) & WS_VISIBLE) != 0;
        });
        return visible;
    }

    void EnableItem(int id, bool enable) override {
        RunOnDialogThread([&] { ::EnableWindow(::GetDlgItem(Window(), id), enable); });
    }

    void SetItemFont(int id, const CFont& font) override {
        RunOnDialogThread([&] {
            ::SendDlgItemMessageA(Window(), id, WM_SETFONT, reinterpret_cast<WPARAM>(font.Handle()),
                                  TRUE);
        });
    }

    void SetFocusTo(int id) override {
        RunOnDialogThread([&] { ::SetFocus(::GetDlgItem(Window(), id)); });
    }

    void SelectAllText(int id) override {
        RunOnDialogThread([&] {
            ::SendDlgItemMessageA(Window(), id, EM_SETSEL, 0, -1);
            ::SendDlgItemMessageA(Window(), id, EM_SCROLLCARET, 0, 0);
        });
    }

    void SetProgressRange(int id, uint32_t low, uint32_t high) override {
        RunOnDialogThread([&] {
            ::SendDlgItemMessageA(Window(), id, PBM_SETRANGE32, WPARAM(low), LPARAM(high));
        });
    }

    void SetProgressPos(int id, uint32_t pos) override {
        RunOnDialogThread([&] { ::SendDlgItemMessageA(Window(), id, PBM_SETPOS, WPARAM(pos), 0); });
    }

    void SetCaption(const std::string& caption) override {
        RunOnDialogThread([&] { ::SetWindowTextA(Window(), caption.c_str()); });
    }

    std::string GetCaption() override {
        std::string caption;
        RunOnDialogThread([&] {
            const int length = ::GetWindowTextLengthA(Window());
            if (length <= 0)
                return;
            caption.resize(size_t(length) + 1);
            caption.resize(size_t(::GetWindowTextA(Window(), caption.data(), length + 1)));
        });
        return caption;
    }

    void SetWindowIcon(IconHandle icon) override {
        RunOnDialogThread([&] {
            m_icon = static_cast<HICON>(icon);
            ::SendMessageA(Window(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
            ::SendMessageA(Window(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
        });
    }

    void AppendSystemMenuItem(const std::string& text, unsigned commandId) override {
        RunOnDialogThread([&] {
            const HMENU menu = ::GetSystemMenu(Window(), FALSE);
            if (menu == nullptr)
                return;
            ::AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
            ::AppendMenuA(menu, MF_STRING, commandId, text.c_str());
        });
    }

    unsigned SetTimer(unsigned id, unsigned periodMs) override {
        unsigned result = 0;
        RunOnDialogThread([&] { result = unsigned(::SetTimer(Window(), id, periodMs, nullptr)); });
        return result;
    }

    void KillTimer(unsigned id) override {
        RunOnDialogThread([&] { ::KillTimer(Window(), id); });
    }

    int MessageBox(const std::string& text, unsigned style) override {
        return ::MessageBoxA(Window(), text.c_str(), ApplicationTitle(), style);
    }

    void PostClose() override {
        // Without a window the message would go to the calling thread's own queue.
        if (const HWND hwnd = Window())
            ::PostMessageA(hwnd, WM_CLOSE, 0, 0);
    }

    bool IsIconic() override { return ::IsIconic(Window()) != 0; }

    // Called from OnPaint on the dialog's thread.
    void PaintIconCentered(IconHandle icon) override {
        const HWND hwnd = Window();
        PAINTSTRUCT ps;
        const HDC dc = ::BeginPaint(hwnd, &ps);
        ::SendMessageA(hwnd, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
        RECT client;
        ::GetClientRect(hwnd, &client);
        const int x = (client.right - client.left - ::GetSystemMetrics(SM_CXICON) + 1) / 2;
        const int y = (client.bottom - client.top - ::GetSystemMetrics(SM_CYICON) + 1) / 2;
        ::DrawIcon(dc, x, y, static_cast<HICON>(icon));
        ::EndPaint(hwnd, &ps);
    }

    // Runs fn at once on the dialog's thread, or when no window is open (fn then acts on no
    // window and does nothing); otherwise sends it there and waits.
    void RunOnDialogThread(const std::function<void()>& fn) override {
        const HWND hwnd = Window();
        if (hwnd == nullptr || ::GetCurrentThreadId() == m_thread.load()) {
            fn();
            return;
        }
        ::SendMessageA(hwnd, kRunOnDialogThread, 0, reinterpret_cast<LPARAM>(&fn));
    }

  private:
    HWND Window() const { return m_hwnd.load(); }

    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_INITDIALOG) {
            auto* self = reinterpret_cast<Win32DialogHost*>(lParam);
            ::SetWindowLongPtrA(hwnd, DWLP_USER, lParam);
            self->m_hwnd.store(hwnd);
            t_openDialogs.push_back(hwnd);
            CentreOnOwner(hwnd);
            return self->m_dialog.OnInitDialog() ? TRUE : FALSE;
        }
        auto* self = reinterpret_cast<Win32DialogHost*>(::GetWindowLongPtrA(hwnd, DWLP_USER));
        if (self == nullptr)
            return FALSE;
        return self->Handle(hwnd, message, wParam, lParam);
    }

    INT_PTR Handle(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
        CDialog& d = m_dialog;
        switch (message) {
        case kRunOnDialogThread:
            (*reinterpret_cast<const std::function<void()>*>(lParam))();
            return TRUE;
        case WM_COMMAND: {
            const int id = LOWORD(wParam);
            if (id == IDOK)
                d.OnOK();
            else if (id == IDCANCEL)
                d.OnCancel();
            else
                d.OnCommand(id, HIWORD(wParam));
            return TRUE;
        }
        case WM_TIMER:
            d.OnTimer(unsigned(wParam));
            return TRUE;
        case WM_CLOSE:
            d.OnClose();
            return TRUE;
        case WM_SYSCOMMAND:
            return d.OnSysCommand(unsigned(wParam)) ? TRUE : FALSE;
        case WM_PAINT:
            return d.OnPaint() ? TRUE : FALSE;
        case WM_QUERYDRAGICON:
            return reinterpret_cast<INT_PTR>(m_icon);
        case WM_CTLCOLORSTATIC:
        case WM_CTLCOLOREDIT:
        case WM_CTLCOLORBTN: {
            // The system's own brush and colours first; then the dialog's text colour.
            const INT_PTR brush = INT_PTR(::DefWindowProcA(hwnd, message, wParam, lParam));
            const HWND control = reinterpret_cast<HWND>(lParam);
            const HDC dc = reinterpret_cast<HDC>(wParam);
            const std::optional<uint32_t> colour =
                d.OnCtlColor(::GetDlgCtrlID(control), KindOfControl(control));
            ::SetBkMode(dc, TRANSPARENT);
            if (colour)
                ::SetTextColor(dc, COLORREF(*colour));
            return brush;
        }
        case WM_NCDESTROY:
            if (!t_openDialogs.empty() && t_openDialogs.back() == hwnd)
                t_openDialogs.pop_back();
            m_hwnd.store(nullptr);
            return FALSE;
        default:
            return FALSE;
        }
    }

    CDialog& m_dialog;
    const int m_templateId;
    std::atomic<HWND> m_hwnd{nullptr};
    std::atomic<DWORD> m_thread{0};
    HICON m_icon = nullptr;
};

} // namespace

std::unique_ptr<DialogHost> CreateDialogHost(CDialog& dialog, int templateId) {
    return std::make_unique<Win32DialogHost>(dialog, templateId);
}

} // namespace platform
