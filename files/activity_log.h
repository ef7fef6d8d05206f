#pragma once
// The activity log of a run: one entry per call, appended as "<time stamp> <caption> <text>\r\n".
// Entries that cannot be written are lost silently. Each run owns its log: the dialog's is
// "KQVorlink.log" in the current directory, a fleet unit's is a file of its own.

#include <cstdint>
#include <string>

constexpr const char* kActivityLogName = "KQVorlink.log";

// An empty path keeps no log at all.
class ActivityLog {
  public:
    explicit ActivityLog(std::string path = kActivityLogName, bool keepAfterSuccess = false)
        : m_path(std::move(path)), m_keepAfterSuccess(keepAfterSuccess) {}

    // text: zero-terminated, may hold line breaks of its own.
    void Write(const char* text, const char* caption) const;
    // Removes the file (before a run starts afresh, and after a successful run).
    void Delete() const;
    // After a successful run: deletes the file unless it is to be kept.
    void DiscardAfterSuccess() const {
        if (!m_keepAfterSuccess)
            Delete();
    }
    const std::string& Path() const { return m_path; }

  private:
    std::string m_path;
    bool m_keepAfterSuccess;
};

// Writes one entry to the dialog's log "KQVorlink.log" in the current directory.

// text: zero-terminated, may hold line breaks of its own; length is the caller's count and is
// not used (the entry holds the text up to its zero).
void WriteLog(const char* text, int length, const char* caption);
inline void WriteLog(const std::string& text, const char* caption) {
    WriteLog(text.c_str(), static_cast<int>(text.size()), caption);
}

// Formats one entry for a given local time stamp text (19 characters).
std::string FormatLogEntry(const char* timeStamp, const char* caption, const char* text);

// The box text of ShowLastError: "Error 0x%08x\n%s" with the code and the platform's text for
// it, cut to fit a 200-byte buffer with its terminating zero.
std::string FormatErrorBoxText(uint32_t code, const std::string& systemText);
