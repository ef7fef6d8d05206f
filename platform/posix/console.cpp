#include "platform/console.h"

#include <csignal>
#include <pthread.h>
#include <unistd.h>

namespace platform {
namespace {

volatile std::sig_atomic_t g_interrupted = 0;

void OnSignal(int) {
    g_interrupted = 1;
}

} // namespace

bool IsTerminal(std::FILE* stream) {
    return ::isatty(::fileno(stream)) == 1;
}

void CatchInterrupts() {
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART; // the runs' socket calls go on undisturbed
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

bool InterruptRequested() {
    return g_interrupted != 0;
}

InterruptsKeptFromNewThreads::InterruptsKeptFromNewThreads() {
    static_assert(sizeof(sigset_t) <= sizeof m_saved);
    sigset_t interrupts;
    sigemptyset(&interrupts);
    sigaddset(&interrupts, SIGINT);
    sigaddset(&interrupts, SIGTERM);
    sigaddset(&interrupts, SIGWINCH); // a resize, too, is for the thread that draws
    pthread_sigmask(SIG_BLOCK, &interrupts, reinterpret_cast<sigset_t*>(m_saved));
}

InterruptsKeptFromNewThreads::~InterruptsKeptFromNewThreads() {
    pthread_sigmask(SIG_SETMASK, reinterpret_cast<const sigset_t*>(m_saved), nullptr);
}

} // namespace platform
