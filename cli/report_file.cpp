#include "cli/report_file.h"

#include "platform/file.h"

#include <random>
#include <string_view>

namespace cli {
namespace {

// The system's own words for the last file error.
std::string LastFileErrorText() {
    const std::string text = platform::LastFileErrorMessage();
    return text.empty() ? "error " + std::to_string(platform::LastFileError()) : text;
}

} // namespace

ReportFile::ReportFile(std::string path) : m_path(std::move(path)) {}

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
