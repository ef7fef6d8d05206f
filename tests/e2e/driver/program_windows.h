#pragma once
// Finding the windows of the program under test from another process: the main dialog, its
// message boxes and its About box. Everything is read through cross-process window messages,
// the way an assistive tool would see the program.

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace kqdriver {

// Process ids of every running KQVorlink.exe (or program of that image name).
std::vector<DWORD> ProgramProcesses(const char* image = "KQVorlink.exe");

// The main dialog: a top-level dialog window of a KQVorlink.exe process that holds the first
// address field (1026). Null when there is none.
HWND FindMainWindow();

// Top-level dialog windows of KQVorlink.exe processes other than the main dialog (message boxes,
// the About box), newest first as the window manager stacks them. With a caption given, only
// those whose caption equals it.
std::vector<HWND> FindBoxes(const std::string& caption = "");

// The text of a window or control, read with WM_GETTEXT (edit controls keep their text in their
// own buffer, so GetWindowText from another process would give a stale text).
std::string TextOf(HWND hwnd);
std::string ClassOf(HWND hwnd);

// The control that has the keyboard focus in the thread of `top`; null when none.
HWND FocusOf(HWND top);

// Waits are polled at this period and never last longer than kMaxWaitMs.
constexpr DWORD kPollMs = 50;
constexpr int kMaxWaitMs = 180000;
long long NowMs();
int ClampWait(int ms);
// Polls `found` until it gives a window or `timeoutMs` has passed; null then.
HWND WaitFor(int timeoutMs, const std::function<HWND()>& found);
// SendMessage that gives up after two seconds when the window's thread does not answer.
LRESULT Send(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);

// Children of a dialog in creation order (the tab order of a dialog template).
std::vector<HWND> ChildrenOf(HWND parent);

} // namespace kqdriver
