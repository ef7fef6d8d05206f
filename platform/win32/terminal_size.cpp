#include "platform/terminal_size.h"

#include <windows.h>

#include <io.h>

namespace platform {
namespace {

// The console's visible window (not its whole buffer, which is usually far taller).
TerminalSize ReadSize(std::FILE* stream) {
    const HANDLE handle = reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(stream)));
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!::GetConsoleScreenBufferInfo(handle, &info))
        return {};
    return {info.srWindow.Bottom - info.srWindow.Top + 1,
            info.srWindow.Right - info.srWindow.Left + 1};
}

} // namespace

TerminalSizeWatch::TerminalSizeWatch(std::FILE* stream) : m_stream(stream) {
    m_size = ReadSize(stream);
}

TerminalSizeWatch::~TerminalSizeWatch() = default;

// A console sends no signal on a resize: asking is cheap, so every call asks.
TerminalSize TerminalSizeWatch::Current() {
    m_size = ReadSize(m_stream);
    return m_size;
}

} // namespace platform
