#include "platform/console.h"

#include <windows.h>

#include <atomic>
#include <io.h>

namespace platform {
namespace {

std::atomic<bool> g_interrupted{false};
std::atomic<bool> g_ending{false};
HANDLE g_ready = nullptr; // set by ReadyToEnd(); made before the handler is installed

BOOL WINAPI OnConsoleEvent(DWORD event) {
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
        g_interrupted = true;
        return TRUE; // handled: the process goes on and finishes its running units
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        // The process ends when this returns (or when Windows stops waiting): first the program
        // writes what it can.
        g_ending = true;
        g_interrupted = true;
        ::WaitForSingleObject(g_ready, kEndingGraceMs);
        return TRUE;
    default:
        return FALSE;
    }
}

} // namespace

bool IsTerminal(std::FILE* stream) {
    if (!::_isatty(::_fileno(stream)))
        return false;
    const HANDLE handle = reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(stream)));
    DWORD mode = 0;
    if (!::GetConsoleMode(handle, &mode))
        return false;
    // Without virtual-terminal processing the redraw would print its control sequences.
    return ::SetConsoleMode(handle, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

void CatchInterrupts() {
    if (g_ready == nullptr)
        g_ready = ::CreateEventW(nullptr, TRUE, FALSE, nullptr); // not inherited by children
    ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

bool InterruptRequested() {
    return g_interrupted;
}

bool EndingImminent() {
    return g_ending;
}

void ReadyToEnd() {
    if (g_ready != nullptr)
        ::SetEvent(g_ready);
}

// The console's events arrive on a thread of their own: nothing to keep from other threads.
InterruptsKeptFromNewThreads::InterruptsKeptFromNewThreads() : m_saved{} {}
InterruptsKeptFromNewThreads::~InterruptsKeptFromNewThreads() = default;

} // namespace platform
