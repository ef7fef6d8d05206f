#include "platform/terminal_size.h"

#include <atomic>
#include <csignal>
#include <sys/ioctl.h>
#include <unistd.h>

namespace platform {
namespace {

// Counts SIGWINCH: the size is read again only after the terminal said it changed.
std::atomic<unsigned> g_resizes{0};
static_assert(std::atomic<unsigned>::is_always_lock_free);

void OnResize(int) {
    g_resizes.fetch_add(1, std::memory_order_relaxed);
}

TerminalSize ReadSize(std::FILE* stream) {
    winsize size{};
    if (::ioctl(::fileno(stream), TIOCGWINSZ, &size) != 0)
        return {};
    return {size.ws_row, size.ws_col};
}

} // namespace

TerminalSizeWatch::TerminalSizeWatch(std::FILE* stream) : m_stream(stream) {
    struct sigaction action {};
    action.sa_handler = OnResize;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGWINCH, &action, nullptr);
    m_seenResizes = g_resizes.load();
    m_size = ReadSize(stream);
}

TerminalSizeWatch::~TerminalSizeWatch() {
    signal(SIGWINCH, SIG_DFL);
}

TerminalSize TerminalSizeWatch::Current() {
    const unsigned resizes = g_resizes.load();
    if (resizes != m_seenResizes) {
        m_seenResizes = resizes;
        m_size = ReadSize(m_stream);
    }
    return m_size;
}

} // namespace platform
