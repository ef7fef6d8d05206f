#include "platform/console.h"

#include <csignal>
#include <pthread.h>
#include <unistd.h>

namespace platform {
namespace {

volatile std::sig_atomic_t g_interrupted = 0;

// A hang-up is an interrupt like Ctrl-C: the person (or the connection) is gone, the run is not.
constexpr int kInterrupts[] = {SIGINT, SIGTERM, SIGHUP};

void OnSignal(int) {
    g_interrupted = 1;
}

// A write to a closed pipe then fails with EPIPE instead of ending the process. A handler rather
// than SIG_IGN: children started later get the default back when they exec.
void OnBrokenPipe(int) {}

void Catch(int signal, void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART; // the runs' socket calls go on undisturbed
    sigaction(signal, &action, nullptr);
}

} // namespace

bool IsTerminal(std::FILE* stream) {
    return ::isatty(::fileno(stream)) == 1;
}

void CatchInterrupts() {
    for (const int signal : kInterrupts)
        Catch(signal, OnSignal);
    Catch(SIGPIPE, OnBrokenPipe);
}

bool InterruptRequested() {
    return g_interrupted != 0;
}

// Linux never ends the process behind its back after a signal it has caught.
bool EndingImminent() {
    return false;
}
void ReadyToEnd() {}

InterruptsKeptFromNewThreads::InterruptsKeptFromNewThreads() {
    static_assert(sizeof(sigset_t) <= sizeof m_saved);
    sigset_t interrupts;
    sigemptyset(&interrupts);
    for (const int signal : kInterrupts)
        sigaddset(&interrupts, signal);
    sigaddset(&interrupts, SIGWINCH); // a resize, too, is for the thread that draws
    pthread_sigmask(SIG_BLOCK, &interrupts, reinterpret_cast<sigset_t*>(m_saved));
}

InterruptsKeptFromNewThreads::~InterruptsKeptFromNewThreads() {
    pthread_sigmask(SIG_SETMASK, reinterpret_cast<const sigset_t*>(m_saved), nullptr);
}

} // namespace platform
