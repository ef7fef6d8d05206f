// The real dialog host: the system builds template 102 from the resource script exactly as the
// data copy describes it, a nested dialog is owned by the one it opens from, and calls from
// another thread run on the dialog's thread in the order they were made. These tests need a
// display (Windows, or Wine with an X server); without one the dialog cannot open and they skip.

#include "app/res/resource.h"
#include "platform/dialog.h"
#include "platform/dialog_template.h"
#include "platform/win32/control_kind.h"

#include "tests/platform/win32/win_test_support.h"

#include <commctrl.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

// The system's header maps these names to its ANSI functions; here they are CDialog's members.
#undef MessageBox
#undef SetDlgItemText
#undef GetDlgItemText

namespace {

using platform::CDialog;
using platform::ControlKind;

// As the program's entry point does: the progress bar's class must be registered.
class CommonControls : public ::testing::Environment {
  public:
    void SetUp() override {
        INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS};
        ::InitCommonControlsEx(&controls);
    }
};
[[maybe_unused]] ::testing::Environment* const g_commonControls =
    ::testing::AddGlobalTestEnvironment(new CommonControls);

// A dialog whose initialisation runs a test body and then ends it.
class ProbeDialog : public CDialog {
  public:
    ProbeDialog(int templateId, std::function<void(ProbeDialog&)> init)
        : CDialog(templateId), m_init(std::move(init)) {}

    bool OnInitDialog() override {
        m_thread = ::GetCurrentThreadId();
        m_initRan = true;
        if (m_init)
            m_init(*this);
        return true;
    }
    void OnTimer(unsigned) override { ++m_ticks; }
    void OnClose() override {
        m_closeThread = ::GetCurrentThreadId();
        EndDialog(5);
    }

    std::function<void(ProbeDialog&)> m_init;
    DWORD m_thread = 0;
    std::atomic<DWORD> m_closeThread{0};
    bool m_initRan = false;
    std::atomic<int> m_ticks{0};
};

// Runs the dialog modally; skips the test when there is no display to open it on.
#define RUN_OR_SKIP(dialog, result)                                                                \
    const int result = (dialog).DoModal();                                                         \
    if (result == -1 && !(dialog).m_initRan)                                                       \
        GTEST_SKIP() << "no display to open a dialog on";

// The calling thread's dialog window that has a control with this identifier (the dialog host
// keeps its window to itself). Call on the dialog's thread.
struct WindowSearch {
    int id;
    HWND found;
};

BOOL CALLBACK TestWindow(HWND hwnd, LPARAM p) {
    auto* search = reinterpret_cast<WindowSearch*>(p);
    if (::GetDlgItem(hwnd, search->id) == nullptr)
        return TRUE;
    search->found = hwnd;
    return FALSE;
}

HWND DialogWithControl(int id) {
    WindowSearch search{id, nullptr};
    ::EnumThreadWindows(::GetCurrentThreadId(), &TestWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

std::string TextOf(HWND control) {
    char text[256] = {};
    ::GetWindowTextA(control, text, sizeof text);
    return text;
}

TEST(Win32DialogHost, SystemBuildsTheMainDialogAsTheDataDescribesIt) {
    const platform::DialogTemplate* data = platform::LookUpDialogTemplate(IDD_UPDATER_DIALOG);
    ASSERT_NE(data, nullptr);
    std::vector<std::string> problems;
    ProbeDialog dialog(IDD_UPDATER_DIALOG, [&](ProbeDialog& d) {
        const HWND dlg = DialogWithControl(IDC_IP1);
        if (dlg == nullptr) {
            problems.push_back("dialog window not found");
            d.EndDialog(1);
            return;
        }
        if (TextOf(dlg) != data->caption)
            problems.push_back("caption " + TextOf(dlg));
        if ((::GetWindowLongPtrA(dlg, GWL_EXSTYLE) & WS_EX_APPWINDOW) == 0)
            problems.push_back("no taskbar button style");
        // Children in creation order are the template's order.
        HWND child = ::GetWindow(dlg, GW_CHILD);
        for (const platform::ControlTemplate& c : data->controls) {
            const std::string where = "control " + std::to_string(c.id) + ": ";
            if (child == nullptr) {
                problems.push_back(where + "missing");
                break;
            }
            // Controls without identifier carry -1, which the system keeps in 16 bits or 32.
            if ((::GetDlgCtrlID(child) & 0xFFFF) != (c.id & 0xFFFF))
                problems.push_back(where + "id " + std::to_string(::GetDlgCtrlID(child)));
            if (platform::KindOfControl(child) != c.kind)
                problems.push_back(where + "kind");
            if (c.kind != ControlKind::Picture && c.kind != ControlKind::Progress &&
                TextOf(child) != c.text)
                problems.push_back(where + "text [" + TextOf(child) + "]");
            const bool visible = (::GetWindowLongPtrA(child, GWL_STYLE) & WS_VISIBLE) != 0;
            if (visible != c.visible)
                problems.push_back(where + "visibility");
            // The system converts place and size each on its own, as MapDialogRect does with
            // these four numbers.
            RECT expected{c.x, c.y, c.width, c.height};
            ::MapDialogRect(dlg, &expected);
            RECT actual;
            ::GetWindowRect(child, &actual);
            ::MapWindowPoints(nullptr, dlg, reinterpret_cast<POINT*>(&actual), 2);
            // A picture takes the size of its image; only its place is the template's.
            const bool sized = c.kind != ControlKind::Picture;
            if (actual.left != expected.left || actual.top != expected.top ||
                (sized && (actual.right - actual.left != expected.right ||
                           actual.bottom - actual.top != expected.bottom)))
                problems.push_back(
                    where + "rectangle " + std::to_string(actual.left) + "," +
                    std::to_string(actual.top) + "," + std::to_string(actual.right - actual.left) +
                    "," + std::to_string(actual.bottom - actual.top) + " expected " +
                    std::to_string(expected.left) + "," + std::to_string(expected.top) + "," +
                    std::to_string(expected.right) + "," + std::to_string(expected.bottom));
            child = ::GetWindow(child, GW_HWNDNEXT);
        }
        if (child != nullptr)
            problems.push_back("more controls than the data has");
        d.EndDialog(1);
    });
    RUN_OR_SKIP(dialog, result);
    EXPECT_EQ(result, 1);
    for (const std::string& p : problems)
        ADD_FAILURE() << p;
}

TEST(Win32DialogHost, WorkerCallsRunOnTheDialogThreadInOrder) {
    std::thread worker;
    std::vector<std::string> seen;
    DWORD runThread = 0;
    unsigned timerId = 0;
    int ticksSeen = 0;
    ProbeDialog dialog(IDD_UPDATER_DIALOG, [&](ProbeDialog& d) {
        worker = std::thread([&] {
            d.SetDlgItemText(IDC_STATUS, "writing...");
            seen.push_back(d.GetDlgItemText(IDC_STATUS));
            d.ShowDlgItem(IDC_DEFAULT_SETTING, true);
            d.ShowDlgItem(IDC_STEP3, false);
            seen.push_back(std::to_string(d.IsDlgItemVisible(IDC_DEFAULT_SETTING)) +
                           std::to_string(d.IsDlgItemVisible(IDC_STEP3)));
            d.EnableDlgItem(IDC_UPDATE, false);
            d.SetProgressRange(IDC_PROGRESS, 0, 70000);
            d.SetProgressPos(IDC_PROGRESS, 65000);
            d.SetCaption("KQVorlink.exe Rev. 2, 0, 0, 0");
            seen.push_back(d.GetCaption());
            d.RunOnDialogThread([&] {
                runThread = ::GetCurrentThreadId();
                const HWND dlg = DialogWithControl(IDC_IP1);
                seen.push_back(std::to_string(::IsWindowEnabled(::GetDlgItem(dlg, IDC_UPDATE))));
                seen.push_back(
                    std::to_string(::SendDlgItemMessageA(dlg, IDC_PROGRESS, PBM_GETPOS, 0, 0)));
                seen.push_back(std::to_string(
                    ::SendDlgItemMessageA(dlg, IDC_PROGRESS, PBM_GETRANGE, FALSE, 0)));
            });
            timerId = d.SetTimer(1, 20);
            const uint64_t start = StopwatchMs();
            while (dialog.m_ticks < 3 && StopwatchMs() - start < 3000)
                ::Sleep(10);
            d.KillTimer(1);
            ticksSeen = dialog.m_ticks;
            d.PostClose();
        });
    });
    RUN_OR_SKIP(dialog, result);
    worker.join();
    EXPECT_EQ(result, 5);
    ASSERT_EQ(seen.size(), 6u);
    EXPECT_EQ(seen[0], "writing...");
    EXPECT_EQ(seen[1], "10");
    EXPECT_EQ(seen[2], "KQVorlink.exe Rev. 2, 0, 0, 0");
    EXPECT_EQ(seen[3], "0");
    EXPECT_EQ(seen[4], "65000");
    EXPECT_EQ(seen[5], "70000");
    EXPECT_EQ(runThread, dialog.m_thread);
    EXPECT_EQ(dialog.m_closeThread.load(), dialog.m_thread);
    EXPECT_EQ(timerId, 1u);
    EXPECT_GE(ticksSeen, 3);
}

TEST(Win32DialogHost, NestedDialogIsOwnedByTheOneItOpensFrom) {
    HWND mainWindow = nullptr, aboutOwner = nullptr;
    BOOL mainEnabledDuringAbout = TRUE;
    std::string aboutText;
    ProbeDialog main(IDD_UPDATER_DIALOG, [&](ProbeDialog& m) {
        mainWindow = DialogWithControl(IDC_IP1);
        ProbeDialog about(IDD_ABOUTBOX, [&](ProbeDialog& a) {
            const HWND self = DialogWithControl(IDC_ABOUT_VERSION);
            aboutOwner = ::GetWindow(self, GW_OWNER);
            mainEnabledDuringAbout = ::IsWindowEnabled(mainWindow);
            aboutText = a.GetDlgItemText(IDC_ABOUT_VERSION);
            a.EndDialog(1);
        });
        about.DoModal();
        m.EndDialog(2);
    });
    RUN_OR_SKIP(main, result);
    EXPECT_EQ(result, 2);
    ASSERT_NE(mainWindow, nullptr);
    EXPECT_EQ(aboutOwner, mainWindow);
    EXPECT_FALSE(mainEnabledDuringAbout);
    EXPECT_EQ(aboutText, "KQVorlink Version 1.0");
}

// The styles the dialogs are meant to have, read from the windows the system built from the
// resources: typed here, not taken from the templates' data. (The progress bar draws its border as
// it likes whatever the template says; its border style is checked on the template itself.)
struct StyleRow {
    int dialog;
    int id;         // 0: the dialog window itself
    DWORD typeMask; // the style's type field, which must equal `type`
    DWORD type;
    DWORD required;
    DWORD forbidden;
};

std::ostream& operator<<(std::ostream& out, const StyleRow& r) {
    return out << "dialog " << r.dialog << " control " << r.id;
}

class Win32DialogStyles : public ::testing::TestWithParam<StyleRow> {};

TEST_P(Win32DialogStyles, WindowCarriesTheDescribedStyle) {
    const StyleRow& r = GetParam();
    DWORD style = 0, exStyle = 0;
    bool found = false;
    ProbeDialog dialog(r.dialog, [&](ProbeDialog& d) {
        const HWND dlg = DialogWithControl(r.dialog == IDD_ABOUTBOX ? IDC_ABOUT_VERSION : IDC_IP1);
        const HWND w = r.id == 0 || dlg == nullptr ? dlg : ::GetDlgItem(dlg, r.id);
        found = w != nullptr;
        if (found) {
            style = DWORD(::GetWindowLongPtrA(w, GWL_STYLE));
            exStyle = DWORD(::GetWindowLongPtrA(w, GWL_EXSTYLE));
        }
        d.EndDialog(1);
    });
    RUN_OR_SKIP(dialog, result);
    ASSERT_TRUE(found);
    // A dialog with the 3-D look trades an edit control's border for a sunken client edge.
    if ((r.required & WS_BORDER) && (exStyle & WS_EX_CLIENTEDGE))
        style |= WS_BORDER;
    EXPECT_EQ(style & r.typeMask, r.type) << std::hex << style;
    EXPECT_EQ(style & r.required, r.required) << std::hex << style;
    EXPECT_EQ(style & r.forbidden, 0u) << std::hex << style;
}

constexpr DWORD kFrame = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME;
constexpr DWORD kEdit = WS_BORDER | WS_TABSTOP | WS_VISIBLE;

StyleRow Centred(int id) {
    return {IDD_UPDATER_DIALOG, id, SS_TYPEMASK, SS_CENTER, WS_VISIBLE, 0};
}

INSTANTIATE_TEST_SUITE_P(
    Intended, Win32DialogStyles,
    ::testing::Values(StyleRow{IDD_UPDATER_DIALOG, 0, 0, 0, kFrame, WS_CHILD},
                      StyleRow{IDD_UPDATER_DIALOG, 1026, ES_CENTER | ES_RIGHT, ES_CENTER, kEdit, 0},
                      StyleRow{IDD_UPDATER_DIALOG, 1027, ES_CENTER | ES_RIGHT, ES_CENTER, kEdit, 0},
                      StyleRow{IDD_UPDATER_DIALOG, 1028, ES_CENTER | ES_RIGHT, ES_CENTER, kEdit, 0},
                      StyleRow{IDD_UPDATER_DIALOG, 1029, ES_CENTER | ES_RIGHT, ES_CENTER, kEdit, 0},
                      StyleRow{IDD_UPDATER_DIALOG, 1001, BS_TYPEMASK, BS_PUSHBUTTON, WS_TABSTOP, 0},
                      StyleRow{IDD_UPDATER_DIALOG, 1019, BS_TYPEMASK, BS_PUSHBUTTON, WS_TABSTOP, 0},
                      StyleRow{IDD_UPDATER_DIALOG, 1016, 0, 0, 0, WS_VISIBLE}, Centred(1030),
                      Centred(1031), Centred(1032), Centred(1005), Centred(1006), Centred(1007),
                      Centred(1008), Centred(1009), Centred(1010), Centred(1011), Centred(1012),
                      Centred(1013), Centred(1014), Centred(1021), Centred(1022),
                      StyleRow{IDD_ABOUTBOX, 0, 0, 0, kFrame, WS_CHILD},
                      StyleRow{IDD_ABOUTBOX, 1000, 0, 0, SS_NOPREFIX, 0},
                      StyleRow{IDD_ABOUTBOX, 1, BS_TYPEMASK, BS_DEFPUSHBUTTON, WS_TABSTOP, 0}));

} // namespace
