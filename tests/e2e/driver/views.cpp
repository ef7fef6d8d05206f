#include "views.h"

#include "icon_kind.h"
#include "json_line.h"
#include "program_windows.h"

#include <map>
#include <vector>

namespace kqdriver {

namespace {

constexpr int kAboutCommand = 0x0010;
constexpr int kStatusLine = 1015;
// Step labels of the update row, in the order of the run, and "Default data Setting".
constexpr int kStepLabels[] = {1005, 1006, 1007, 1008, 1009, 1010, 1011,
                               1012, 1013, 1014, 1021, 1022, 1016};

} // namespace

std::string ControlJson(HWND control) {
    return JsonLine()
        .Int("id", GetDlgCtrlID(control))
        .Str("class", ClassOf(control))
        .Str("text", TextOf(control))
        .Bool("visible", IsWindowVisible(control))
        .Bool("enabled", IsWindowEnabled(control))
        .Text();
}

std::string BoxJson(HWND box, HWND main) {
    std::vector<std::string> buttons;
    std::string text;
    for (HWND child : ChildrenOf(box)) {
        const std::string cls = ClassOf(child);
        if (cls == "Button" && IsWindowVisible(child))
            buttons.push_back(
                JsonLine().Int("id", GetDlgCtrlID(child)).Str("text", TextOf(child)).Text());
        else if (cls == "Static" && GetDlgCtrlID(child) == 0xFFFF)
            text = TextOf(child);
    }
    const IconReading icon = ReadIcon(FindIconControl(box));
    DWORD pid = 0;
    GetWindowThreadProcessId(box, &pid);
    return JsonLine()
        .Bool("ok", true)
        .Str("caption", TextOf(box))
        .Str("text", text)
        .Str("icon", icon.kind)
        .Raw("icon_counts", Array({std::to_string(icon.red), std::to_string(icon.yellow),
                                   std::to_string(icon.blue), std::to_string(icon.pixels)}))
        .Raw("buttons", Array(buttons))
        .Bool("owned_by_main", main && GetWindow(box, GW_OWNER) == main)
        .Int("pid", pid)
        .Text();
}

std::string FocusJson(HWND main) {
    HWND focus = FocusOf(main);
    JsonLine answer;
    answer.Bool("ok", true);
    if (!focus || (focus != main && !IsChild(main, focus)))
        return answer.Int("id", 0).Text();
    answer.Int("id", GetDlgCtrlID(focus)).Str("class", ClassOf(focus));
    if (ClassOf(focus) == "Edit") {
        DWORD start = 0, end = 0;
        // The two positions are written into this process only through the return value.
        const LRESULT both = Send(focus, EM_GETSEL, 0, 0);
        start = LOWORD(both);
        end = HIWORD(both);
        answer.Int("sel_start", start).Int("sel_end", end).Str("text", TextOf(focus));
    }
    return answer.Text();
}

std::string Watch(HWND main, int ms) {
    std::map<int, bool> shown;
    std::string status;
    std::vector<std::string> events;
    const long long start = NowMs(), end = start + ClampWait(ms);
    bool first = true;
    std::string ended = "time";
    for (;;) {
        if (!IsWindow(main)) {
            ended = "window gone";
            break;
        }
        const long long t = NowMs() - start;
        for (int id : kStepLabels) {
            const bool visible = IsWindowVisible(GetDlgItem(main, id));
            if (first || shown[id] != visible) {
                events.push_back(
                    JsonLine().Int("t", t).Int("id", id).Bool("visible", visible).Text());
                shown[id] = visible;
            }
        }
        HWND statusLine = GetDlgItem(main, kStatusLine);
        const bool visible = IsWindowVisible(statusLine);
        const std::string text = TextOf(statusLine);
        if (first || shown[kStatusLine] != visible || text != status) {
            events.push_back(JsonLine()
                                 .Int("t", t)
                                 .Int("id", kStatusLine)
                                 .Bool("visible", visible)
                                 .Str("text", text)
                                 .Text());
            shown[kStatusLine] = visible;
            status = text;
        }
        first = false;
        if (!FindBoxes().empty()) {
            ended = "box";
            break;
        }
        if (NowMs() >= end)
            break;
        Sleep(kPollMs);
    }
    return JsonLine()
        .Bool("ok", true)
        .Str("ended", ended)
        .Int("ms", NowMs() - start)
        .Raw("events", Array(events))
        .Text();
}

HWND OpenAbout(HWND main) {
    PostMessageA(main, WM_SYSCOMMAND, kAboutCommand, 0);
    return WaitFor(5000, [] {
        std::vector<HWND> boxes = FindBoxes("About KQVorlink");
        return boxes.empty() ? HWND{} : boxes.front();
    });
}

bool EndAbout(HWND about, const std::string& how) {
    if (how == "escape") {
        HWND focus = FocusOf(about);
        PostMessageA(focus ? focus : about, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
        PostMessageA(focus ? focus : about, WM_KEYUP, VK_ESCAPE, 0xC0010001);
    } else if (how == "close") {
        PostMessageA(about, WM_SYSCOMMAND, SC_CLOSE, 0);
    } else {
        PostMessageA(GetDlgItem(about, IDOK), BM_CLICK, 0, 0);
    }
    return WaitFor(5000, [about] { return IsWindow(about) ? HWND{} : about; }) != nullptr;
}

std::string About(HWND main, const std::string& how) {
    HWND about = OpenAbout(main);
    if (!about)
        return Fail("no About box");
    const std::string version = TextOf(GetDlgItem(about, 1000));
    const std::string copyright = TextOf(GetDlgItem(about, 1001));
    const bool ownedByMain = GetWindow(about, GW_OWNER) == main;
    const bool mainDisabled = !IsWindowEnabled(main);
    const bool ended = EndAbout(about, how);
    return JsonLine()
        .Bool("ok", true)
        .Str("version", version)
        .Str("copyright", copyright)
        .Bool("owned_by_main", ownedByMain)
        .Bool("main_disabled", mainDisabled)
        .Bool("ended", ended)
        .Text();
}

// The screen point of the caption's close button, found by asking the window itself which
// part of it lies under each point of its top edge.
std::string ClosePoint(HWND main) {
    RECT rect{};
    GetWindowRect(main, &rect);
    for (int y = rect.top + 1; y < rect.top + 40 && y < rect.bottom; y += 2) {
        for (int x = rect.right - 2; x > rect.left + (rect.right - rect.left) / 2; x -= 2) {
            if (Send(main, WM_NCHITTEST, 0, MAKELPARAM(x, y)) == HTCLOSE) {
                // Aim at the middle of the button: a little further in from the hit.
                return JsonLine().Bool("ok", true).Int("x", x - 6).Int("y", y + 4).Text();
            }
        }
    }
    return Fail("no close button found");
}

} // namespace kqdriver
