#include "cli/report_file.h"

#include "platform/file.h"

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string_view>

namespace cli {
namespace {

// The system's own words for the last file error.
std::string LastFileErrorText() {
    const std::string text = platform::LastFileErrorMessage();
    return text.empty() ? "error " + std::to_string(platform::LastFileError()) : text;
}

// The file a path finally names, following symbolic links (a chain of them too, bounded as the
// system bounds it), each relative to the folder of the link.
std::filesystem::path LinkTarget(std::filesystem::path path) {
    constexpr int kMostLinks = 40;
    for (int i = 0; i < kMostLinks; ++i) {
        std::error_code error;
        if (!std::filesystem::is_symlink(std::filesystem::symlink_status(path, error)))
            break;
        const std::filesystem::path target = std::filesystem::read_symlink(path, error);
        if (error)
            break;
        path = target.is_absolute() ? target : path.parent_path() / target;
    }
    return path.lexically_normal();
}

// The lock's name: the same for every spelling of one report path, short enough for any
// system's lock names (FNV-1a of the absolute path).
std::string LockName(const std::filesystem::path& path) {
    // Absolute first: a relative path of which nothing exists yet would stay relative.
    std::error_code error;
    std::filesystem::path full = std::filesystem::absolute(path, error);
    if (const std::filesystem::path real = std::filesystem::weakly_canonical(full, error); !error)
        full = real;
    uint64_t hash = 1469598103934665603ull;
    for (const char c : full.string())
        hash = (hash ^ uint8_t(c)) * 1099511628211ull;
    char name[48];
    std::snprintf(name, sizeof name, "kqvorlink-report-%016llx", (unsigned long long)hash);
    return name;
}

} // namespace

ReportFile::ReportFile(std::string path) : m_path(std::move(path)) {}

ReportFile::Refusal ReportFile::Claim() {
    if (!Wanted())
        return {};
    m_path = LinkTarget(m_path).string();
    switch (m_lock.Acquire(LockName(m_path).c_str())) {
    case platform::SingleInstanceLock::Result::Acquired:
        return {};
    case platform::SingleInstanceLock::Result::AlreadyExists:
        return {"another run is writing this report"};
    case platform::SingleInstanceLock::Result::Failed:
        break;
    }
    const std::string& failure = m_lock.FailureText();
    return {"the report's lock cannot be taken: " + (failure.empty() ? "no reason given" : failure),
            true};
}

bool ReportFile::Write(const std::string& text) {
    std::lock_guard lock(m_mutex);
    if (platform::ReplaceFileWhole(m_path.c_str(), text.data(), text.size()))
        return true;
    m_error = LastFileErrorText();
    return false;
}

std::string ReportFile::Error() const {
    std::lock_guard lock(m_mutex);
    return m_error;
}

std::string FolderNotWritable(const std::string& folder) {
    // A name of its own, so that runs started together in one folder do not meet here.
    const std::string probe =
        folder + "/.kqvorlink-cli-write-test-" + std::to_string(std::random_device()());
    constexpr std::string_view kProbeText = "kqvorlink-cli\n";
    if (!platform::ReplaceFileWhole(probe.c_str(), kProbeText.data(), kProbeText.size()))
        return LastFileErrorText();
    platform::DeleteFileNamed(probe.c_str());
    return "";
}

} // namespace cli
