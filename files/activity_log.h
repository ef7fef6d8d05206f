#pragma once
// The activity log "KQVorlink.log" in the current directory: one entry per call, appended as
// "<time stamp> <caption> <text>\r\n". Entries that cannot be written are lost silently.

#include <cstdint>
#include <string>

constexpr const char* kActivityLogName = "KQVorlink.log";

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

// Shows the platform's text for the last file error in a warning box without owner ("Error
// 0x%08x\n%s") and logs it with caption "Error".
void ShowLastError();
