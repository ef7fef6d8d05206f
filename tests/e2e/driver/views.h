#pragma once
// What the driver reads off the program's windows, as JSON answers: controls, message boxes,
// the focus, the blinking of the step row, the About box, the caption's close button.

#include <windows.h>

#include <string>

namespace kqdriver {

std::string ControlJson(HWND control);
// A message box: caption, text (static 0xFFFF), icon kind, buttons, owner, process.
std::string BoxJson(HWND box, HWND main);
// The control with the focus and, for an edit, its selection.
std::string FocusJson(HWND main);
// Every change of the step labels and the status line for `ms`; ends early when a message box
// appears or the dialog goes away.
std::string Watch(HWND main, int ms);
// Opens the About box from the system menu, reads its lines and ends it: "ok", "escape" or
// "close" (the caption's close button).
std::string About(HWND main, const std::string& how);
// Opens the About box from the system menu; null when it does not appear.
HWND OpenAbout(HWND main);
// Ends the About box as `how` says (see About); true when it went away.
bool EndAbout(HWND about, const std::string& how);
// The screen point of the caption's close button.
std::string ClosePoint(HWND main);

} // namespace kqdriver
