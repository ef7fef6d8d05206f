#pragma once
// Files and directory search, with the Windows rules on both systems: names in the current
// directory, matching without regard to case, and Windows error codes (2 file not found,
// 5 access denied, ...) from LastFileError().

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace platform {

// The calling thread's last file error as a Windows system error code (GetLastError).
uint32_t LastFileError();
void SetLastFileError(uint32_t code);

// The platform's English text for a system error code, with the CR LF that Windows puts at its
// end; empty when the platform has none. The dialog's fixed texts on both systems.
std::string SystemErrorText(uint32_t code);

// The system's own words for the calling thread's last file error, without a line end: strerror
// on Linux ("Permission denied"), the system's message on Windows ("Access is denied.").
std::string LastFileErrorMessage();

// Deletes a file; false (no error) when it did not exist or could not be deleted.
bool DeleteFileNamed(const char* name);

// Appends bytes at the end of the file, creating it; the file is opened with read and write
// sharing and closed again. false when the file could not be opened or written.
bool AppendToFile(const char* name, const void* data, size_t length);

// Writes a file anew so that it is never seen half written: the bytes go to a temporary file of
// a name of its own in the same folder (NAME.tmp-<process>-<count>), reach the disk, and then take
// the name in one step, replacing the file that had it. false when any part failed (LastFileError()
// set); the file that had the name is then as it was. On Windows a reader holding that file open
// keeps it from being replaced: that is tried again for up to 2 s before it fails.
bool ReplaceFileWhole(const char* name, const void* data, size_t length);

// Reads an existing file whole (read-only, read sharing). nullopt when it cannot be opened
// (LastFileError() set).
std::optional<std::vector<uint8_t>> ReadWholeFile(const char* name);

// An open file for reading, closed when destroyed.
class ReadOnlyFile {
  public:
    // Opens an existing file for reading with read sharing; IsOpen() false with LastFileError().
    explicit ReadOnlyFile(const char* name);
    ReadOnlyFile(const ReadOnlyFile&) = delete;
    ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;
    ~ReadOnlyFile();

    bool IsOpen() const;
    // The size in bytes (64 bits; callers decide what fits).
    uint64_t Size() const;
    // Reads up to length bytes from the current position; returns the count read.
    size_t Read(void* buffer, size_t length);

  private:
    intptr_t m_handle;
};

// Size of a regular file, nullopt when it does not exist or is not a regular file.
std::optional<uint64_t> RegularFileSize(const char* name);

// One entry of a directory search.
struct FindEntry {
    std::string name;       // bare name as the directory gives it
    uint64_t lastWriteTime; // FILETIME-like: 100 ns units; only the order matters
    uint64_t size = 0;      // in bytes, as the search saw it
};

// Searches the current directory for a pattern ("*.cpu" or a plain name) with the Windows
// matching rules: without regard to case; a three-letter wildcard extension also matches longer
// extensions that begin with it (as the short 8.3 names make Windows do). Directories are not
// returned. The order is the directory's.
std::vector<FindEntry> FindInCurrentDirectory(const char* pattern);
// The same for several patterns at once, reading the directory as seldom as the platform allows
// (once on POSIX): one result per pattern, each in the directory's order.
std::vector<std::vector<FindEntry>>
FindInCurrentDirectory(const std::vector<std::string>& patterns);

} // namespace platform
