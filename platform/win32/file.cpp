// Files and directory search on Windows: the kernel's own calls and error codes.

#include "platform/file.h"

#include <windows.h>

#include <algorithm>
#include <atomic>

namespace platform {
namespace {

uint64_t Combine(DWORD high, DWORD low) {
    return (uint64_t(high) << 32) | low;
}

bool IsDirectory(DWORD attributes) {
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// Gives `from` the name `to`, replacing the file that has it. A reader that holds that file open
// without delete sharing (an editor, a virus scanner) refuses the replacing for as long as it
// holds it: tried again for up to kHeldFileWaitMs before the refusal stands.
constexpr DWORD kHeldFileWaitMs = 2000;
constexpr DWORD kHeldFileRetryMs = 50;
bool ReplaceName(const char* from, const char* to) {
    const ULONGLONG giveUp = ::GetTickCount64() + kHeldFileWaitMs;
    for (;;) {
        if (::MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0)
            return true;
        const DWORD error = ::GetLastError();
        const bool held = error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION ||
                          error == ERROR_LOCK_VIOLATION;
        if (!held || ::GetTickCount64() >= giveUp)
            return false;
        ::Sleep(kHeldFileRetryMs);
    }
}

} // namespace

uint32_t LastFileError() {
    return ::GetLastError();
}
void SetLastFileError(uint32_t code) {
    ::SetLastError(code);
}

std::string SystemErrorText(uint32_t code) {
    char* text = nullptr;
    const DWORD length = ::FormatMessageA(
        FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER,
        nullptr, code, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), reinterpret_cast<char*>(&text),
        0, nullptr);
    std::string result;
    if (length != 0 && text != nullptr)
        result.assign(text, length);
    if (text != nullptr)
        ::LocalFree(text);
    return result;
}

std::string LastFileErrorMessage() {
    const DWORD code = ::GetLastError();
    std::string text = SystemErrorText(code);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
        text.pop_back();
    return text.empty() ? "error " + std::to_string(code) : text;
}

bool DeleteFileNamed(const char* name) {
    return ::DeleteFileA(name) != 0;
}

bool AppendToFile(const char* name, const void* data, size_t length) {
    // Others may read and write the file while it is open here (a viewer of the log).
    const HANDLE file =
        ::CreateFileA(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                      nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD sizeHigh = 0;
    const DWORD sizeLow = ::GetFileSize(file, &sizeHigh);
    LONG moveHigh = LONG(sizeHigh);
    bool ok = !(sizeLow == INVALID_FILE_SIZE && ::GetLastError() != NO_ERROR) &&
              !(::SetFilePointer(file, LONG(sizeLow), &moveHigh, FILE_BEGIN) ==
                    INVALID_SET_FILE_POINTER &&
                ::GetLastError() != NO_ERROR);
    if (ok) {
        DWORD written = 0;
        const DWORD count = DWORD(std::min<size_t>(length, MAXDWORD));
        ok = ::WriteFile(file, data, count, &written, nullptr) != 0 && written == length;
    }
    const DWORD err = ::GetLastError();
    ::CloseHandle(file);
    ::SetLastError(err);
    return ok;
}

ReadOnlyFile::ReadOnlyFile(const char* name)
    : m_handle(reinterpret_cast<intptr_t>(::CreateFileA(name, GENERIC_READ, FILE_SHARE_READ,
                                                        nullptr, OPEN_EXISTING,
                                                        FILE_ATTRIBUTE_NORMAL, nullptr))) {}

ReadOnlyFile::~ReadOnlyFile() {
    if (IsOpen())
        ::CloseHandle(reinterpret_cast<HANDLE>(m_handle));
}

bool ReadOnlyFile::IsOpen() const {
    return reinterpret_cast<HANDLE>(m_handle) != INVALID_HANDLE_VALUE;
}

uint64_t ReadOnlyFile::Size() const {
    if (!IsOpen())
        return 0;
    DWORD high = 0;
    const DWORD low = ::GetFileSize(reinterpret_cast<HANDLE>(m_handle), &high);
    if (low == INVALID_FILE_SIZE && ::GetLastError() != NO_ERROR)
        return 0;
    return Combine(high, low);
}

size_t ReadOnlyFile::Read(void* buffer, size_t length) {
    if (!IsOpen())
        return 0;
    size_t done = 0;
    while (done < length) {
        const DWORD want = DWORD(std::min<size_t>(length - done, 1u << 30));
        DWORD got = 0;
        if (!::ReadFile(reinterpret_cast<HANDLE>(m_handle), static_cast<char*>(buffer) + done, want,
                        &got, nullptr) ||
            got == 0)
            break;
        done += got;
    }
    return done;
}

std::optional<uint64_t> RegularFileSize(const char* name) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!::GetFileAttributesExA(name, GetFileExInfoStandard, &data) ||
        IsDirectory(data.dwFileAttributes))
        return std::nullopt;
    return Combine(data.nFileSizeHigh, data.nFileSizeLow);
}

std::vector<FindEntry> FindInCurrentDirectory(const char* pattern) {
    std::vector<FindEntry> found;
    WIN32_FIND_DATAA data;
    const HANDLE search = ::FindFirstFileA(pattern, &data);
    if (search == INVALID_HANDLE_VALUE)
        return found;
    do {
        if (!IsDirectory(data.dwFileAttributes))
            found.push_back(
                {data.cFileName,
                 Combine(data.ftLastWriteTime.dwHighDateTime, data.ftLastWriteTime.dwLowDateTime),
                 Combine(data.nFileSizeHigh, data.nFileSizeLow)});
    } while (::FindNextFileA(search, &data));
    ::FindClose(search);
    if (found.empty())
        ::SetLastError(ERROR_FILE_NOT_FOUND);
    return found;
}

// The system matches each pattern itself (short names included), so each gets its own search.
std::vector<std::vector<FindEntry>>
FindInCurrentDirectory(const std::vector<std::string>& patterns) {
    std::vector<std::vector<FindEntry>> found;
    for (const std::string& pattern : patterns)
        found.push_back(FindInCurrentDirectory(pattern.c_str()));
    return found;
}

bool ReplaceFileWhole(const char* name, const void* data, size_t length) {
    // A name of its own for each writing, so that two writers never write into one file.
    static std::atomic<unsigned> s_count{0};
    const std::string temporary = std::string(name) + ".tmp-" +
                                  std::to_string(::GetCurrentProcessId()) + "-" +
                                  std::to_string(++s_count);
    const HANDLE file = ::CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    bool ok = true;
    const auto* bytes = static_cast<const uint8_t*>(data);
    while (ok && length > 0) {
        DWORD written = 0;
        const DWORD count = DWORD(std::min<size_t>(length, MAXDWORD));
        ok = ::WriteFile(file, bytes, count, &written, nullptr) != 0 && written > 0;
        bytes += written;
        length -= written;
    }
    ok = ok && ::FlushFileBuffers(file) != 0;
    DWORD err = ::GetLastError();
    ::CloseHandle(file);
    // A replacing rename: the old report stays whole until the new one has its name.
    if (ok && !ReplaceName(temporary.c_str(), name)) {
        err = ::GetLastError();
        ok = false;
    }
    if (!ok) {
        ::DeleteFileA(temporary.c_str());
        ::SetLastError(err);
    }
    return ok;
}

} // namespace platform
