#include "console_event.h"

#include "json_line.h"
#include "program_windows.h"

#include <tlhelp32.h>

namespace kqdriver {
namespace {

DWORD ProcessOf(const std::string& image) {
    DWORD found = 0;
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snap == INVALID_HANDLE_VALUE)
        return 0;
    PROCESSENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snap, &entry); more && !found;
         more = Process32Next(snap, &entry)) {
        if (_stricmp(entry.szExeFile, image.c_str()) == 0)
            found = entry.th32ProcessID;
    }
    CloseHandle(snap);
    return found;
}

} // namespace

std::string SendConsoleEvent(const std::string& image, DWORD event, int waitMs) {
    const DWORD pid = ProcessOf(image);
    if (pid == 0)
        return Fail("no " + image + " runs");
    // The routine that the system starts in a console process for each event; the same address
    // in every process.
    const auto routine = reinterpret_cast<LPTHREAD_START_ROUTINE>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "CtrlRoutine"));
    if (routine == nullptr)
        return Fail("no CtrlRoutine in kernel32");
    HANDLE process = OpenProcess(PROCESS_ALL_ACCESS, FALSE, pid);
    if (process == nullptr)
        return Fail("cannot open the process");
    const long long start = NowMs();
    HANDLE thread =
        CreateRemoteThread(process, nullptr, 0, routine,
                           reinterpret_cast<void*>(static_cast<ULONG_PTR>(event)), 0, nullptr);
    CloseHandle(process);
    if (thread == nullptr)
        return Fail("cannot start a thread in the process");
    const bool returned = WaitForSingleObject(thread, DWORD(ClampWait(waitMs))) == WAIT_OBJECT_0;
    CloseHandle(thread);
    return JsonLine().Bool("ok", true).Bool("returned", returned).Int("ms", NowMs() - start).Text();
}

} // namespace kqdriver
