#pragma once
// The driver's command language: one command per input line, one JSON answer per line.
//
//   wait-window MS        wait for the main dialog; answers its caption
//   caption               the main dialog's caption
//   state                 every control of the main dialog: id, class, text, visible, enabled
//   get ID | visible ID | enabled ID
//   set ID TEXT           WM_SETTEXT (the edit control reports EN_CHANGE itself)
//   type ID TEXT          select all of ID, then type TEXT character by character (WM_CHAR)
//   type-focused TEXT     type TEXT into whatever has the focus, as a person typing on
//   focus                 the control with the keyboard focus, and an edit's selection
//   click ID              press a visible, enabled button of an enabled dialog (BM_CLICK)
//   key-enter | key-escape  the key pressed in the dialog (through its own message loop)
//   command ID            WM_COMMAND with ID posted to the main dialog
//   close | syscmd-close  WM_CLOSE, or the system menu's Close (Alt+F4)
//   close-point           screen point of the caption's close button
//   about [ok|escape|close]  open the About box, read its lines, end it that way
//   progress              position and range of the progress bar 1018
//   watch MS              every change of the step labels and the status line for MS (ends
//                         early when a message box appears or the dialog goes away)
//   wait-box MS [CAPTION] wait for a message box (caption "KQVorlink" unless given)
//   press-box [ID]        press a button of the message box (OK unless given)
//   wait-gone MS          wait until no KQVorlink.exe runs any more
//   alive                 running copies and whether the main dialog exists
//   console-event IMAGE EVENT [MS]  a console event (2 close, 5 logoff, 6 shutdown) sent to the
//                         running IMAGE as Windows sends it; whether its handlers returned
//                         within MS and how long they took
//   quit

#include <string>

namespace kqdriver {

// Runs one command line; sets `quit` on "quit".
std::string RunCommand(const std::string& line, bool& quit);

} // namespace kqdriver
