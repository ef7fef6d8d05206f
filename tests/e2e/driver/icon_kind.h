#pragma once
// Which of the standard message-box icons a box shows. Another process's icon handle cannot be
// inspected, so the icon is judged by the colours it puts on the screen: the stop icon is
// mostly red, the warning icon yellow, the information icon blue.

#include <windows.h>

#include <string>

namespace kqdriver {

struct IconReading {
    std::string kind; // "stop", "warning", "information", "none" or "unknown"
    int red = 0, yellow = 0, blue = 0, pixels = 0;
};

// Reads the screen under `iconControl` (a static icon control of a message box); a null
// control reads as "none".
IconReading ReadIcon(HWND iconControl);

// The icon control of a message box: the static control that holds an icon.
HWND FindIconControl(HWND box);

} // namespace kqdriver
