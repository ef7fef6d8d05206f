// Files and directory search on POSIX, speaking the Windows error vocabulary: errno values are
// turned into the Windows system error codes of the same meaning, and the search applies the
// Windows name-matching rules so that discovery picks the same files on both systems.

#include "platform/file.h"

#include "platform/posix/name_match.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {
namespace {

thread_local uint32_t t_lastError = 0;
thread_local int t_lastErrno = 0; // the same error in the system's own terms, 0 when none

enum : uint32_t {
    kErrorInvalidFunction = 1,
    kErrorFileNotFound = 2,
    kErrorPathNotFound = 3,
    kErrorTooManyOpenFiles = 4,
    kErrorAccessDenied = 5,
    kErrorInvalidHandle = 6,
    kErrorNotEnoughMemory = 8,
    kErrorWriteProtect = 19,
    kErrorGenFailure = 31,
    kErrorSharingViolation = 32,
    kErrorFileExists = 80,
    kErrorInvalidParameter = 87,
    kErrorDiskFull = 112,
    kErrorInvalidName = 123,
    kErrorFilenameExcedRange = 206,
    kErrorFileTooLarge = 223,
    kErrorIoDevice = 1117,
    kErrorCantResolveFilename = 1921,
};

uint32_t WindowsCodeForErrno(int err) {
    switch (err) {
    case 0:
        return 0;
    case ENOENT:
        return kErrorFileNotFound;
    case ENOTDIR:
        return kErrorPathNotFound;
    case EACCES:
    case EPERM:
    case EISDIR:
        return kErrorAccessDenied;
    case EROFS:
        return kErrorWriteProtect;
    case EMFILE:
    case ENFILE:
        return kErrorTooManyOpenFiles;
    case EBADF:
        return kErrorInvalidHandle;
    case ENOMEM:
        return kErrorNotEnoughMemory;
    case EBUSY:
    case ETXTBSY:
        return kErrorSharingViolation;
    case EEXIST:
        return kErrorFileExists;
    case EINVAL:
        return kErrorInvalidParameter;
    case ENOSPC:
    case EDQUOT:
        return kErrorDiskFull;
    case ENAMETOOLONG:
        return kErrorFilenameExcedRange;
    case EFBIG:
        return kErrorFileTooLarge;
    case EIO:
        return kErrorIoDevice;
    case ELOOP:
        return kErrorCantResolveFilename;
    case ENOSYS:
        return kErrorInvalidFunction;
    default:
        return kErrorGenFailure;
    }
}

// Records errno as the thread's last file error. A missing folder in front of the name is
// "path not found", as Windows says it.
void RecordErrno(const char* name) {
    const int err = errno;
    t_lastErrno = err;
    uint32_t code = WindowsCodeForErrno(err);
    if (err == ENOENT && name != nullptr) {
        const std::string path(name);
        const size_t slash = path.find_last_of('/');
        struct stat st {};
        if (slash != std::string::npos && slash > 0 &&
            ::stat(path.substr(0, slash).c_str(), &st) != 0)
            code = kErrorPathNotFound;
    }
    t_lastError = code;
}

// Writes all bytes to an open file and makes them reach the disk.
bool WriteAllAndSync(int fd, const uint8_t* bytes, size_t length) {
    while (length > 0) {
        const ssize_t written = ::write(fd, bytes, length);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        bytes += written;
        length -= size_t(written);
    }
    return ::fsync(fd) == 0;
}

// Opens an existing file for reading; a directory cannot be opened as a file on Windows.
int OpenForReading(const char* name) {
    const int fd = ::open(name, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        RecordErrno(name);
        return -1;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        ::close(fd);
        t_lastError = kErrorAccessDenied;
        t_lastErrno = EISDIR;
        return -1;
    }
    return fd;
}

// Reads until length bytes have arrived or the file ends; -1 on failure.
long ReadFully(int fd, void* buffer, size_t length) {
    size_t done = 0;
    while (done < length) {
        const ssize_t got = ::read(fd, static_cast<char*>(buffer) + done, length - done);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            RecordErrno(nullptr);
            return -1;
        }
        if (got == 0)
            break;
        done += size_t(got);
    }
    return long(done);
}

// The Windows epoch (1601) in 100 ns units before the POSIX epoch (1970).
constexpr uint64_t kFileTimeOfPosixEpoch = 116444736000000000ULL;

uint64_t FileTimeOf(const struct stat& st) {
    return kFileTimeOfPosixEpoch + uint64_t(st.st_mtim.tv_sec) * 10000000ULL +
           uint64_t(st.st_mtim.tv_nsec) / 100;
}

} // namespace

uint32_t LastFileError() {
    return t_lastError;
}
void SetLastFileError(uint32_t code) {
    t_lastError = code;
    t_lastErrno = 0;
}

std::string LastFileErrorMessage() {
    if (t_lastErrno == 0) {
        std::string text = SystemErrorText(t_lastError);
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
            text.pop_back();
        return text;
    }
    char buffer[256];
    return ::strerror_r(t_lastErrno, buffer, sizeof buffer); // the GNU variant: its own text
}

std::string SystemErrorText(uint32_t code) {
    const char* text = nullptr;
    switch (code) {
    case 0:
        text = "The operation completed successfully.";
        break;
    case kErrorInvalidFunction:
        text = "Incorrect function.";
        break;
    case kErrorFileNotFound:
        text = "The system cannot find the file specified.";
        break;
    case kErrorPathNotFound:
        text = "The system cannot find the path specified.";
        break;
    case kErrorTooManyOpenFiles:
        text = "The system cannot open the file.";
        break;
    case kErrorAccessDenied:
        text = "Access is denied.";
        break;
    case kErrorInvalidHandle:
        text = "The handle is invalid.";
        break;
    case kErrorNotEnoughMemory:
        text = "Not enough memory resources are available to process this command.";
        break;
    case kErrorWriteProtect:
        text = "The media is write protected.";
        break;
    case kErrorGenFailure:
        text = "A device attached to the system is not functioning.";
        break;
    case kErrorSharingViolation:
        text = "The process cannot access the file because it is being used by another process.";
        break;
    case kErrorFileExists:
        text = "The file exists.";
        break;
    case kErrorInvalidParameter:
        text = "The parameter is incorrect.";
        break;
    case kErrorDiskFull:
        text = "There is not enough space on the disk.";
        break;
    case kErrorInvalidName:
        text = "The filename, directory name, or volume label syntax is incorrect.";
        break;
    case kErrorFilenameExcedRange:
        text = "The filename or extension is too long.";
        break;
    case kErrorFileTooLarge:
        text = "The file size exceeds the limit allowed and cannot be saved.";
        break;
    case kErrorIoDevice:
        text = "The request could not be performed because of an I/O device error.";
        break;
    case kErrorCantResolveFilename:
        text = "The name of the file cannot be resolved by the system.";
        break;
    default:
        return "";
    }
    return std::string(text) + "\r\n";
}

bool DeleteFileNamed(const char* name) {
    if (::unlink(name) != 0) {
        RecordErrno(name);
        return false;
    }
    return true;
}

bool AppendToFile(const char* name, const void* data, size_t length) {
    const int fd = ::open(name, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
    if (fd < 0) {
        RecordErrno(name);
        return false;
    }
    bool ok = true;
    size_t done = 0;
    while (done < length) {
        const ssize_t put = ::write(fd, static_cast<const char*>(data) + done, length - done);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0) {
            RecordErrno(name);
            ok = false;
            break;
        }
        done += size_t(put);
    }
    ::close(fd);
    return ok;
}

ReadOnlyFile::ReadOnlyFile(const char* name) : m_handle(OpenForReading(name)) {}

ReadOnlyFile::~ReadOnlyFile() {
    if (m_handle >= 0)
        ::close(int(m_handle));
}

bool ReadOnlyFile::IsOpen() const {
    return m_handle >= 0;
}

uint64_t ReadOnlyFile::Size() const {
    struct stat st {};
    if (m_handle < 0 || ::fstat(int(m_handle), &st) != 0)
        return 0;
    return uint64_t(st.st_size);
}

size_t ReadOnlyFile::Read(void* buffer, size_t length) {
    if (m_handle < 0)
        return 0;
    const long got = ReadFully(int(m_handle), buffer, length);
    return got < 0 ? 0 : size_t(got);
}

std::optional<uint64_t> RegularFileSize(const char* name) {
    struct stat st {};
    if (::stat(name, &st) != 0) {
        RecordErrno(name);
        return std::nullopt;
    }
    if (!S_ISREG(st.st_mode))
        return std::nullopt;
    return uint64_t(st.st_size);
}

std::vector<FindEntry> FindInCurrentDirectory(const char* pattern) {
    return std::move(FindInCurrentDirectory(std::vector<std::string>{pattern}).front());
}

std::vector<std::vector<FindEntry>>
FindInCurrentDirectory(const std::vector<std::string>& patterns) {
    std::vector<std::vector<FindEntry>> found(patterns.size());
    DIR* dir = ::opendir(".");
    if (dir == nullptr) {
        RecordErrno(nullptr);
        return found;
    }
    std::vector<size_t> matching;
    bool any = false;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        matching.clear();
        for (size_t i = 0; i < patterns.size(); ++i) {
            if (WindowsNameMatches(patterns[i], name))
                matching.push_back(i);
        }
        if (matching.empty())
            continue;
        struct stat st {};
        if (::fstatat(::dirfd(dir), entry->d_name, &st, 0) != 0 || S_ISDIR(st.st_mode))
            continue;
        // Not a regular file (a device, a pipe): found, but with nothing in it to upload.
        const uint64_t size = S_ISREG(st.st_mode) ? uint64_t(st.st_size) : 0;
        for (const size_t i : matching)
            found[i].push_back({name, FileTimeOf(st), size});
        any = true;
    }
    ::closedir(dir);
    if (!any) {
        t_lastError = kErrorFileNotFound;
        t_lastErrno = ENOENT;
    }
    return found;
}

bool ReplaceFileWhole(const char* name, const void* data, size_t length) {
    // A name of its own for each writing, so that two writers never write into one file.
    static std::atomic<unsigned> s_count{0};
    const std::string temporary =
        std::string(name) + ".tmp-" + std::to_string(::getpid()) + "-" + std::to_string(++s_count);
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
        RecordErrno(temporary.c_str());
        return false;
    }
    bool ok = WriteAllAndSync(fd, static_cast<const uint8_t*>(data), length);
    if (!ok)
        RecordErrno(temporary.c_str());
    ::close(fd);
    if (ok && ::rename(temporary.c_str(), name) != 0) {
        RecordErrno(name);
        ok = false;
    }
    if (!ok) {
        const uint32_t code = t_lastError;
        const int err = t_lastErrno;
        ::unlink(temporary.c_str());
        t_lastError = code;
        t_lastErrno = err;
        return false;
    }
    // The new name itself reaches the disk with its folder.
    const std::string path(name);
    const size_t slash = path.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
}

} // namespace platform
