// The activity log and the box for a failed file operation.

#include "files/activity_log.h"

#include "platform/file.h"

#include <cstdio>
#include <ctime>
#include <mutex>

namespace {

// The current local time as "%Y/%m/%d %H:%M:%S" (19 characters).
std::string LocalTimeStamp() {
    // localtime() shares one result buffer within the C library; copy it out under a lock.
    static std::mutex s_localTimeLock;
    std::tm local{};
    const std::time_t now = std::time(nullptr);
    {
        std::lock_guard<std::mutex> lock(s_localTimeLock);
        if (const std::tm* tm = std::localtime(&now))
            local = *tm;
    }
    char stamp[128] = {};
    std::strftime(stamp, sizeof stamp, "%Y/%m/%d %H:%M:%S", &local);
    return stamp;
}

} // namespace

std::string FormatLogEntry(const char* timeStamp, const char* caption, const char* text) {
    std::string entry;
    entry.append(timeStamp).append(" ").append(caption).append(" ").append(text).append("\r\n");
    return entry;
}

void ActivityLog::Write(const char* text, const char* caption) const {
    if (m_path.empty())
        return;
    const std::string entry = FormatLogEntry(LocalTimeStamp().c_str(), caption, text);
    // A log that cannot be opened or written loses the entry; the run goes on regardless.
    platform::AppendToFile(m_path.c_str(), entry.data(), entry.size());
}

void ActivityLog::Delete() const {
    if (m_path.empty())
        return;
    platform::DeleteFileNamed(m_path.c_str());
}

void WriteLog(const char* text, int /*length*/, const char* caption) {
    ActivityLog().Write(text, caption);
}

std::string FormatErrorBoxText(uint32_t code, const std::string& systemText) {
    // A code without a platform text still gets a readable line, ended like the platform's.
    const char* reason = systemText.empty() ? "Unknown error.\r\n" : systemText.c_str();
    // A longer system text is cut, never written past the 200 bytes.
    char text[200] = {};
    std::snprintf(text, sizeof text, "Error 0x%08x\n%s", static_cast<unsigned>(code), reason);
    return text;
}
