#include "program_windows.h"

#include <tlhelp32.h>

#include <algorithm>
#include <chrono>
#include <cstring>

namespace kqdriver {

namespace {

constexpr int kFirstAddressField = 1026;
constexpr UINT kMessageTimeoutMs = 2000;

bool IsDialogClass(HWND hwnd) {
    return ClassOf(hwnd) == "#32770";
}

bool BelongsTo(HWND hwnd, const std::vector<DWORD>& pids) {
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    return std::find(pids.begin(), pids.end(), pid) != pids.end();
}

BOOL CALLBACK CollectWindow(HWND hwnd, LPARAM param) {
    reinterpret_cast<std::vector<HWND>*>(param)->push_back(hwnd);
    return TRUE;
}

std::vector<HWND> TopLevelWindows() {
    std::vector<HWND> all;
    EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&all));
    return all;
}

} // namespace

std::vector<DWORD> ProgramProcesses(const char* image) {
    std::vector<DWORD> pids;
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snap == INVALID_HANDLE_VALUE)
        return pids;
    PROCESSENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snap, &entry); more; more = Process32Next(snap, &entry)) {
        if (_stricmp(entry.szExeFile, image) == 0)
            pids.push_back(entry.th32ProcessID);
    }
    CloseHandle(snap);
    return pids;
}

std::string ClassOf(HWND hwnd) {
    char name[64] = {};
    GetClassNameA(hwnd, name, sizeof name);
    return name;
}

std::string TextOf(HWND hwnd) {
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutA(hwnd, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, kMessageTimeoutMs,
                             &length)) {
        char fallback[1024] = {};
        GetWindowTextA(hwnd, fallback, sizeof fallback);
        return fallback;
    }
    std::string text(length + 1, '\0');
    DWORD_PTR copied = 0;
    SendMessageTimeoutA(hwnd, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()),
                        SMTO_ABORTIFHUNG, kMessageTimeoutMs, &copied);
    text.resize(std::min<size_t>(copied, length));
    return text;
}

HWND FindMainWindow() {
    const std::vector<DWORD> pids = ProgramProcesses();
    if (pids.empty())
        return nullptr;
    for (HWND hwnd : TopLevelWindows()) {
        if (IsDialogClass(hwnd) && BelongsTo(hwnd, pids) &&
            GetDlgItem(hwnd, kFirstAddressField) != nullptr)
            return hwnd;
    }
    return nullptr;
}

std::vector<HWND> FindBoxes(const std::string& caption) {
    std::vector<HWND> boxes;
    const std::vector<DWORD> pids = ProgramProcesses();
    if (pids.empty())
        return boxes;
    for (HWND hwnd : TopLevelWindows()) {
        if (!IsDialogClass(hwnd) || !IsWindowVisible(hwnd) || !BelongsTo(hwnd, pids) ||
            GetDlgItem(hwnd, kFirstAddressField) != nullptr)
            continue;
        if (!caption.empty() && TextOf(hwnd) != caption)
            continue;
        boxes.push_back(hwnd);
    }
    return boxes;
}

HWND FocusOf(HWND top) {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    if (!GetGUIThreadInfo(GetWindowThreadProcessId(top, nullptr), &info))
        return nullptr;
    return info.hwndFocus;
}

std::vector<HWND> ChildrenOf(HWND parent) {
    std::vector<HWND> children;
    for (HWND child = GetWindow(parent, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        children.push_back(child);
    return children;
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

} // namespace kqdriver
