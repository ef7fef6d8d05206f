#pragma once
// Process-level services: the single-instance lock, the worker thread, the hidden command.

#include <functional>
#include <string>
#include <thread>

namespace platform {

// The single-instance lock: a named mutex on Windows; on Linux an abstract local socket bound
// under the same name, which the kernel releases when the process ends.
class SingleInstanceLock {
  public:
    enum class Result { Acquired, AlreadyExists, Failed };
    SingleInstanceLock() = default;
    SingleInstanceLock(const SingleInstanceLock&) = delete;
    SingleInstanceLock& operator=(const SingleInstanceLock&) = delete;
    ~SingleInstanceLock() { Release(); }

    Result Acquire(const char* name);
    void Release();
    // Why the last Acquire failed, in the system's words (empty after any other result).
    const std::string& FailureText() const { return m_failure; }

  private:
    intptr_t m_handle = -1;
    std::string m_failure;
};

// Starts a function on a new thread. The returned thread is joinable; its owner joins it.
std::thread StartThread(std::function<void()> body);

// Gets ready to start commands before the program holds descriptors that no child may hold even
// for a moment (Linux: the helper of posix/spawner.h; Windows: nothing to do).
void PrepareChildProcesses();

// Starts the system's command that drops the cached hardware address of an IPv4 address
// (Windows: "cmd.exe" with "/C ARP -d <address>", hidden; Linux: the neighbour-table equivalent),
// neither waiting for it nor looking at its result. The child is reaped in the background and
// inherits no descriptor or handle of this program.
void StartArpCleanup(const std::string& addressText);

} // namespace platform
