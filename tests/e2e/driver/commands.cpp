#include "commands.h"

#include "icon_kind.h"
#include "json_line.h"
#include "program_windows.h"
#include "text_fit.h"
#include "views.h"

#include <commctrl.h>
#include <windows.h>

#include <functional>
#include <map>
#include <sstream>

namespace kqdriver {

namespace {

constexpr int kProgressBar = 1018;

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

// Answers the command for the control that the first word names, or says what is missing.
using ControlCommand = std::function<std::string(HWND main, HWND control, const Args& args)>;

std::string WithControl(const Args& args, const ControlCommand& command) {
    return WithMain(args, [&command](HWND main, const Args& a) {
        std::string error;
        HWND control = Control(main, a, error);
        return control ? command(main, control, a) : Fail(error);
    });
}

void TypeChar(HWND target, char c) {
    Send(target, WM_CHAR, static_cast<unsigned char>(c), 1);
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

// "text-fit main|about TEMPLATE_FACE POINTS BOLD_FACE HEIGHT WEIGHT ID,ID,..." (or "-" for no
// bold control). The About box is opened from the system menu, measured and ended with OK.
std::string TextFitCommand(HWND main, const Args& a) {
    FontPlan plan{a.word(1), a.number(2, 0), a.word(3), a.number(4, 0), a.number(5, 0), {}};
    std::istringstream ids(a.word(6));
    for (std::string id; std::getline(ids, id, ',');) {
        if (id != "-")
            plan.boldControls.insert(std::atoi(id.c_str()));
    }
    if (a.word(0) != "about")
        return TextFit(main, plan);
    HWND about = OpenAbout(main);
    if (!about)
        return Fail("no About box");
    const std::string answer = TextFit(about, plan);
    EndAbout(about, "ok");
    return answer;
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
             return WithControl(a, [](HWND, HWND c, const Args&) {
                 return JsonLine().Bool("ok", true).Str("text", TextOf(c)).Text();
             });
         }},
        {"visible",
         [](const Args& a) {
             return WithControl(a, [](HWND, HWND c, const Args&) {
                 return JsonLine().Bool("ok", true).Bool("value", IsWindowVisible(c)).Text();
             });
         }},
        {"enabled",
         [](const Args& a) {
             return WithControl(a, [](HWND, HWND c, const Args&) {
                 return JsonLine().Bool("ok", true).Bool("value", IsWindowEnabled(c)).Text();
             });
         }},
        {"set",
         [](const Args& a) {
             return WithControl(a, [](HWND, HWND c, const Args& a) {
                 const std::string text = a.tail();
                 Send(c, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
                 return JsonLine().Bool("ok", true).Str("text", TextOf(c)).Text();
             });
         }},
        {"type",
         [](const Args& a) {
             return WithControl(a, [](HWND, HWND c, const Args& a) {
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
             return WithControl(a, [](HWND main, HWND c, const Args&) {
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
        {"text-fit", [](const Args& a) { return WithMain(a, TextFitCommand); }},
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
             // A box that has just opened reaches the screen a little later, under load much
             // later: wait, at most 5 s, until its icon (if it has one) can be told.
             WaitFor(5000, [box] {
                 return ReadIcon(FindIconControl(box)).kind != "unknown" ? box : HWND{};
             });
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
        {"console-event",
         [](const Args& a) {
             // As Windows sends it: a thread started in the process runs its handlers.
             const std::vector<DWORD> pids = ProgramProcesses(a.word(0).c_str());
             const auto routine = reinterpret_cast<LPTHREAD_START_ROUTINE>(
                 GetProcAddress(GetModuleHandleA("kernel32.dll"), "CtrlRoutine"));
             HANDLE process = pids.empty() ? nullptr : OpenProcess(PROCESS_ALL_ACCESS, 0, pids[0]);
             const long long start = NowMs();
             HANDLE thread = process && routine
                                 ? CreateRemoteThread(process, nullptr, 0, routine,
                                                      reinterpret_cast<void*>(
                                                          INT_PTR(a.number(1, CTRL_CLOSE_EVENT))),
                                                      0, nullptr)
                                 : nullptr;
             if (process)
                 CloseHandle(process);
             if (!thread)
                 return Fail("cannot send it to " + a.word(0));
             const bool returned = WaitForSingleObject(thread, ClampWait(a.number(2, 10000))) == 0;
             CloseHandle(thread);
             return JsonLine()
                 .Bool("ok", true)
                 .Bool("returned", returned)
                 .Int("ms", NowMs() - start)
                 .Text();
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
