#pragma once
// Sends a console control event (closing the console window, logoff, shutdown, Ctrl-C) to
// another program the way Windows does: a thread started in that process runs its handlers.

#include <windows.h>

#include <string>

namespace kqdriver {

// Sends `event` to the running program whose image is `image` and waits, at most waitMs, for its
// handlers to return. The answer: how long they took, or why nothing was sent.
std::string SendConsoleEvent(const std::string& image, DWORD event, int waitMs);

} // namespace kqdriver
