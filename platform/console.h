#pragma once
// The console of a command-line program: whether output goes to a terminal, and the interrupt.
//
// What counts as an interrupt, once CatchInterrupts() has run:
// - Linux: Ctrl-C (SIGINT), SIGTERM, and SIGHUP (the terminal or the SSH connection is gone).
// - Windows: Ctrl-C, Ctrl-Break, closing the console window, logging off and shutting down.
//   Windows ends the process a few seconds after the last three (about 5 s after a close)
//   whatever the program does: for those the handler sets the flag and then waits, at most
//   kEndingGraceMs, until the program calls ReadyToEnd(); the process ends when it returns. Logoff
//   and shutdown reach a console program only while it has loaded no window library (user32);
//   the fleet front end has, so there Windows ends it without this notice.
// Once caught, the program is no longer ended by them; it looks at the flag and decides itself
// what to finish. Output to a closed pipe or a vanished terminal ends nothing either (SIGPIPE is
// caught): the write fails (EPIPE, EIO) and that output is lost, nothing else.

#include <cstdio>

namespace platform {

// Whether the stream goes to a terminal that understands cursor movement (on Windows the
// console's virtual-terminal mode is switched on for it).
bool IsTerminal(std::FILE* stream);

void CatchInterrupts();
bool InterruptRequested();

// How long a closing console, a logoff or a shutdown waits for ReadyToEnd(): within what
// Windows allows.
constexpr unsigned kEndingGraceMs = 4000;
// True once the process will be ended shortly whatever it does (Windows: the console closed, a
// logoff or a shutdown): what is still to be written must be written now.
bool EndingImminent();
// Says that what had to be written is written; an imminent ending may go on. Harmless when
// none is pending.
void ReadyToEnd();

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
