#include "commands.h"

#include "icon_kind.h"
#include "json_line.h"
#include "program_windows.h"

#include <commctrl.h>
#include <windows.h>

#include <chrono>
#include <functional>
#include <map>
#include <sstream>
#include <thread>

namespace kqdriver {

namespace {

constexpr UINT kMessageTimeoutMs = 2000;
constexpr DWORD kPollMs = 50;
constexpr int kMaxWaitMs = 180000;
constexpr int kAboutCommand = 0x0010;
constexpr int kProgressBar = 1018;
constexpr int kStatusLine = 1015;
// Step labels of the update row, in the order of the run, and "Default data Setting".
constexpr int kStepLabels[] = {1005, 1006, 1007, 1008, 1009, 1010, 1011,
                               1012, 1013, 1014, 1021, 1022, 1016};

struct Args {
    std::string name;
    std::string rest; // everything after the name, untouched (texts may hold blanks)
    std::string word(size_t index) const {
        std::istringstream in(rest);
        std::string w;
        for (size_t i = 0; i <= index; ++i) {
            if (!(in >> w))
                return "";
        }
        return w;
    }
    // Everything after the first word.
    std::string tail() const {
        const size_t start = rest.find_first_not_of(' ');
        if (start == std::string::npos)
            return "";
        const size_t blank = rest.find(' ', start);
        return blank == std::string::npos ? "" : rest.substr(blank + 1);
    }
    int number(size_t index, int fallback) const {
        const std::string w = word(index);
        if (w.empty())
            return fallback;
        return static_cast<int>(std::strtol(w.c_str(), nullptr, 0));
    }
};

std::string Fail(const std::string& why) {
    return JsonLine().Bool("ok", false).Str("error", why).Text();
}

long long NowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

int ClampWait(int ms) {
    return ms < 0 ? 0 : (ms > kMaxWaitMs ? kMaxWaitMs : ms);
}

// Polls `found` every kPollMs until it gives a window or `timeoutMs` has passed.
HWND WaitFor(int timeoutMs, const std::function<HWND()>& found) {
    const long long end = NowMs() + ClampWait(timeoutMs);
    for (;;) {
        if (HWND hwnd = found())
            return hwnd;
        if (NowMs() >= end)
            return nullptr;
        Sleep(kPollMs);
    }
}

LRESULT Send(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    DWORD_PTR result = 0;
    SendMessageTimeoutA(hwnd, msg, wp, lp, SMTO_ABORTIFHUNG, kMessageTimeoutMs, &result);
    return static_cast<LRESULT>(result);
}

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

HWND Control(HWND main, const Args& args, std::string& error) {
    const int id = args.number(0, -1);
    HWND control = GetDlgItem(main, id);
    if (!control)
        error = "no control " + args.word(0);
    return control;
}

// Answers the command for the main dialog, or says that there is none.
using MainCommand = std::function<std::string(HWND main, const Args& args)>;

std::string WithMain(const Args& args, const MainCommand& command) {
    HWND main = FindMainWindow();
    if (!main)
        return Fail("no main window");
    return command(main, args);
}

void TypeChar(HWND target, char c) {
    Send(target, WM_CHAR, static_cast<unsigned char>(c), 1);
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

std::string About(HWND main, const std::string& how) {
    PostMessageA(main, WM_SYSCOMMAND, kAboutCommand, 0);
    HWND about = WaitFor(5000, [] {
        std::vector<HWND> boxes = FindBoxes("About KQVorlink");
        return boxes.empty() ? HWND{} : boxes.front();
    });
    if (!about)
        return Fail("no About box");
    const std::string version = TextOf(GetDlgItem(about, 1000));
    const std::string copyright = TextOf(GetDlgItem(about, 1001));
    const bool ownedByMain = GetWindow(about, GW_OWNER) == main;
    const bool mainDisabled = !IsWindowEnabled(main);
    if (how == "escape") {
        HWND focus = FocusOf(about);
        PostMessageA(focus ? focus : about, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
        PostMessageA(focus ? focus : about, WM_KEYUP, VK_ESCAPE, 0xC0010001);
    } else if (how == "close") {
        PostMessageA(about, WM_SYSCOMMAND, SC_CLOSE, 0);
    } else {
        PostMessageA(GetDlgItem(about, IDOK), BM_CLICK, 0, 0);
    }
    const bool ended = WaitFor(5000, [about] { return IsWindow(about) ? HWND{} : about; });
    return JsonLine()
        .Bool("ok", true)
        .Str("version", version)
        .Str("copyright", copyright)
        .Bool("owned_by_main", ownedByMain)
        .Bool("main_disabled", mainDisabled)
        .Bool("ended", ended)
        .Text();
}

std::string Key(HWND main, WPARAM key) {
    HWND focus = FocusOf(main);
    HWND target = (focus && IsChild(main, focus)) ? focus : main;
    PostMessageA(target, WM_KEYDOWN, key, 0x00010001);
    PostMessageA(target, WM_KEYUP, key, 0xC0010001);
    return JsonLine()
        .Bool("ok", true)
        .Int("target", target == main ? 0 : GetDlgCtrlID(target))
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

const std::map<std::string, std::function<std::string(const Args&)>>& Commands() {
    static const std::map<std::string, std::function<std::string(const Args&)>> table = {
        {"wait-window",
         [](const Args& a) {
             HWND main = WaitFor(a.number(0, 10000), FindMainWindow);
             if (!main)
                 return Fail("no main window");
             return JsonLine().Bool("ok", true).Str("caption", TextOf(main)).Text();
         }},
        {"caption",
         [](const Args& a) {
             return WithMain(a, [](HWND main, const Args&) {
                 RECT r{};
                 GetWindowRect(main, &r);
                 return JsonLine()
                     .Bool("ok", true)
                     .Str("caption", TextOf(main))
                     .Raw("rect", Array({std::to_string(r.left), std::to_string(r.top),
                                         std::to_string(r.right), std::to_string(r.bottom)}))
                     .Bool("enabled", IsWindowEnabled(main))
                     .Text();
             });
         }},
        {"state",
         [](const Args& a) {
             return WithMain(a, [](HWND main, const Args&) {
                 std::vector<std::string> controls;
                 for (HWND child : ChildrenOf(main))
                     controls.push_back(ControlJson(child));
                 return JsonLine()
                     .Bool("ok", true)
                     .Str("caption", TextOf(main))
                     .Bool("enabled", IsWindowEnabled(main))
                     .Raw("controls", Array(controls))
                     .Text();
             });
         }},
        {"get",
         [](const Args& a) {
             return WithMain(a, [](HWND main, const Args& a) {
                 std::string error;
                 HWND c = Control(main, a, error);
                 return c ? JsonLine().Bool("ok", true).Str("text", TextOf(c)).Text() : Fail(error);
             });
         }},
        {"visible",
         [](const Args& a) {
             return WithMain(a, [](HWND main, const Args& a) {
                 std::string error;
                 HWND c = Control(main, a, error);
                 return c ? JsonLine().Bool("ok", true).Bool("value", IsWindowVisible(c)).Text()
                          : Fail(error);
             });
         }},
        {"enabled",
         [](const Args& a) {
             return WithMain(a, [](HWND main, const Args& a) {
                 std::string error;
                 HWND c = Control(main, a, error);
                 return c ? JsonLine().Bool("ok", true).Bool("value", IsWindowEnabled(c)).Text()
                          : Fail(error);
             });
         }},
        {"set",
         [](const Args& a) {
             return WithMain(a, [](HWND main, const Args& a) {
                 std::string error;
                 HWND c = Control(main, a, error);
                 if (!c)
                     return Fail(error);
                 const std::string text = a.tail();
                 Send(c, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
                 return JsonLine().Bool("ok", true).Str("text", TextOf(c)).Text();
             });
         }},
        {"type",
         [](const Args& a) {
             return WithMain(a, [](HWND main, const Args& a) {
                 std::string error;
                 HWND c = Control(main, a, error);
                 if (!c)
                     return Fail(error);
                 // Clicking into the field gives it the focus, as for a person; then its whole
                 // text is selected so that typing replaces it.
                 Send(c, WM_LBUTTONDOWN, MK_LBUTTON, 0);
                 Send(c, WM_LBUTTONUP, 0, 0);
                 Send(c, EM_SETSEL, 0, -1);
                 const std::string text = a.tail();
                 if (text.empty()) // deleting the selection, as the Delete key does
                     Send(c, WM_CHAR, VK_BACK, 1);
                 for (char ch : text)
                     TypeChar(c, ch);
                 return JsonLine().Bool("ok", true).Str("text", TextOf(c)).Text();
             });
         }},
        {"type-focused",
         [](const Args& a) {
             return WithMain(a, [](HWND main, const Args& a) {
                 for (char ch : a.rest) {
                     HWND focus = FocusOf(main);
                     if (!focus || !IsChild(main, focus))
                         return Fail("nothing has the focus");
                     TypeChar(focus, ch);
                 }
                 return FocusJson(main);
             });
         }},
        {"focus",
         [](const Args& a) {
             return WithMain(a, [](HWND main, const Args&) { return FocusJson(main); });
         }},
        {"click",
         [](const Args& a) {
             return WithMain(a, [](HWND main, const Args& a) {
                 std::string error;
                 HWND c = Control(main, a, error);
                 if (!c)
                     return Fail(error);
                 // A person cannot press what is hidden or greyed, nor anything in a dialog that a
                 // message box has disabled.
                 if (!IsWindowVisible(c))
                     return Fail("hidden");
                 if (!IsWindowEnabled(c))
                     return Fail("disabled");
                 if (!IsWindowEnabled(main))
                     return Fail("dialog disabled");
                 PostMessageA(c, BM_CLICK, 0, 0);
                 return JsonLine().Bool("ok", true).Text();
             });
         }},
        {"key-enter",
         [](const Args& a) {
             return WithMain(a, [](HWND main, const Args&) { return Key(main, VK_RETURN); });
         }},
        {"key-escape",
         [](const Args& a) {
             return WithMain(a, [](HWND main, const Args&) { return Key(main, VK_ESCAPE); });
         }},
        {"command",
         [](const Args& a) {
             return WithMain(a, [](HWND main, const Args& a) {
                 PostMessageA(main, WM_COMMAND, MAKEWPARAM(a.number(0, IDOK), BN_CLICKED), 0);
                 return JsonLine().Bool("ok", true).Text();
             });
         }},
        {"close",
         [](const Args& a) {
             return WithMain(a, [](HWND main, const Args&) {
                 PostMessageA(main, WM_CLOSE, 0, 0);
                 return JsonLine().Bool("ok", true).Text();
             });
         }},
        {"syscmd-close",
         [](const Args& a) {
             return WithMain(a, [](HWND main, const Args&) {
                 PostMessageA(main, WM_SYSCOMMAND, SC_CLOSE, 0);
                 return JsonLine().Bool("ok", true).Text();
             });
         }},
        {"close-point",
         [](const Args& a) {
             return WithMain(a, [](HWND main, const Args&) { return ClosePoint(main); });
         }},
        {"about",
         [](const Args& a) {
             return WithMain(a, [](HWND main, const Args& a) { return About(main, a.word(0)); });
         }},
        {"progress",
         [](const Args& a) {
             return WithMain(a, [](HWND main, const Args&) {
                 HWND bar = GetDlgItem(main, kProgressBar);
                 if (!bar)
                     return Fail("no progress bar");
                 return JsonLine()
                     .Bool("ok", true)
                     .Int("pos", Send(bar, PBM_GETPOS, 0, 0))
                     .Int("low", Send(bar, PBM_GETRANGE, TRUE, 0))
                     .Int("high", Send(bar, PBM_GETRANGE, FALSE, 0))
                     .Text();
             });
         }},
        {"watch",
         [](const Args& a) {
             return WithMain(
                 a, [](HWND main, const Args& a) { return Watch(main, a.number(0, 1000)); });
         }},
        {"wait-box",
         [](const Args& a) {
             const std::string caption = a.tail().empty() ? "KQVorlink" : a.tail();
             HWND box = WaitFor(a.number(0, 10000), [&caption] {
                 std::vector<HWND> boxes = FindBoxes(caption);
                 return boxes.empty() ? HWND{} : boxes.front();
             });
             if (!box)
                 return Fail("no box");
             // Let the box finish painting before its icon is read from the screen.
             Sleep(150);
             return BoxJson(box, FindMainWindow());
         }},
        {"press-box",
         [](const Args& a) {
             std::vector<HWND> boxes = FindBoxes("KQVorlink");
             if (boxes.empty())
                 return Fail("no box");
             HWND box = boxes.front();
             HWND button = GetDlgItem(box, a.number(0, IDOK));
             if (!button)
                 return Fail("no such button");
             PostMessageA(button, BM_CLICK, 0, 0);
             const bool gone = WaitFor(5000, [box] { return IsWindow(box) ? HWND{} : box; });
             return gone ? JsonLine().Bool("ok", true).Text() : Fail("box stays");
         }},
        {"wait-gone",
         [](const Args& a) {
             const long long end = NowMs() + ClampWait(a.number(0, 10000));
             while (!ProgramProcesses().empty() && NowMs() < end)
                 Sleep(kPollMs);
             const bool gone = ProgramProcesses().empty();
             return gone ? JsonLine().Bool("ok", true).Text() : Fail("still running");
         }},
        {"alive",
         [](const Args&) {
             return JsonLine()
                 .Bool("ok", true)
                 .Int("copies", static_cast<long long>(ProgramProcesses().size()))
                 .Bool("main", FindMainWindow() != nullptr)
                 .Int("boxes", static_cast<long long>(FindBoxes().size()))
                 .Text();
         }},
    };
    return table;
}

} // namespace

std::string RunCommand(const std::string& line, bool& quit) {
    Args args;
    const size_t blank = line.find(' ');
    args.name = line.substr(0, blank);
    args.rest = blank == std::string::npos ? "" : line.substr(blank + 1);
    if (args.name == "quit") {
        quit = true;
        return JsonLine().Bool("ok", true).Text();
    }
    const auto& table = Commands();
    auto found = table.find(args.name);
    if (found == table.end())
        return Fail("unknown command " + args.name);
    return found->second(args);
}

} // namespace kqdriver
