// Process services on Windows: the instance lock is a named mutex, and the address-cache clean-up
// is the command interpreter running ARP, hidden, inheriting nothing, and not waited for.

#include "platform/process.h"

#include "platform/file.h"

#include <windows.h>

#include <algorithm>

namespace platform {

SingleInstanceLock::Result SingleInstanceLock::Acquire(const char* name) {
    Release();
    m_failure.clear();
    const HANDLE mutex = ::CreateMutexA(nullptr, TRUE, name);
    if (mutex == nullptr) {
        m_failure = SystemErrorText(::GetLastError());
        while (!m_failure.empty() && (m_failure.back() == '\n' || m_failure.back() == '\r'))
            m_failure.pop_back();
        return Result::Failed;
    }
    const bool exists = ::GetLastError() == ERROR_ALREADY_EXISTS;
    // A second copy keeps its handle too until it ends; releasing a mutex it does not own has no
    // effect.
    m_handle = reinterpret_cast<intptr_t>(mutex);
    return exists ? Result::AlreadyExists : Result::Acquired;
}

void SingleInstanceLock::Release() {
    if (m_handle != -1) {
        const HANDLE mutex = reinterpret_cast<HANDLE>(m_handle);
        ::ReleaseMutex(mutex);
        ::CloseHandle(mutex);
        m_handle = -1;
    }
}

std::thread StartThread(std::function<void()> body) {
    return std::thread(std::move(body));
}

void PrepareChildProcesses() {}

void StartArpCleanup(const std::string& addressText) {
    // The text reaches a command interpreter: anything but a dotted number could run as a
    // command of its own, so such a text is not passed on at all.
    const bool dotted = !addressText.empty() &&
                        std::all_of(addressText.begin(), addressText.end(),
                                    [](char c) { return (c >= '0' && c <= '9') || c == '.'; });
    if (!dotted)
        return;
    std::string command = "cmd.exe /C ARP -d " + addressText;
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION started{};
    // No handle of this program (sockets, logs, the report, locks) is inherited.
    if (::CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW,
                         nullptr, nullptr, &startup, &started)) {
        ::CloseHandle(started.hThread);
        ::CloseHandle(started.hProcess);
    }
}

} // namespace platform
