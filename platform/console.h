#pragma once
// The console of a command-line program: whether output goes to a terminal, and the interrupt:
// Ctrl-C and SIGTERM (Linux), Ctrl-C, Ctrl-Break and closing the console (Windows). Once caught,
// the program is no longer ended by them; it looks at the flag and decides itself what to finish.

#include <cstdio>

namespace platform {

// Whether the stream goes to a terminal that understands cursor movement (on Windows the
// console's virtual-terminal mode is switched on for it).
bool IsTerminal(std::FILE* stream);

void CatchInterrupts();
bool InterruptRequested();

// While it lives, threads started by this thread never receive the interrupt or a terminal's
// resize themselves (on Linux a signal may land on any thread and cut short a wait there); the
// thread that caught it looks at InterruptRequested() (or the terminal's size).
class InterruptsKeptFromNewThreads {
  public:
    InterruptsKeptFromNewThreads();
    ~InterruptsKeptFromNewThreads();
    InterruptsKeptFromNewThreads(const InterruptsKeptFromNewThreads&) = delete;
    InterruptsKeptFromNewThreads& operator=(const InterruptsKeptFromNewThreads&) = delete;

  private:
    unsigned char m_saved[256]; // the thread's signal mask before (POSIX)
};

} // namespace platform
