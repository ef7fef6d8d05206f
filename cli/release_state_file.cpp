#include "cli/release_state_file.h"

#include "cli/report_file.h"
#include "platform/file.h"

#include <cctype>
#include <cstdio>
#include <filesystem>

namespace cli {

std::string ReleaseStatePath(const std::string& folder, const std::string& model) {
    std::string name = "release-";
    for (const char c : model) {
        const auto byte = static_cast<unsigned char>(c);
        if (std::isalnum(byte) || c == '.' || c == '_' || c == '-') {
            name += c;
        } else {
            char escaped[4];
            std::snprintf(escaped, sizeof escaped, "%%%02X", byte);
            name += escaped;
        }
    }
    return (std::filesystem::path(folder) / (name + ".state")).string();
}

KeptRelease ReadKeptRelease(const std::string& folder, const std::string& model) {
    const std::string path = ReleaseStatePath(folder, model);
    std::error_code error;
    if (!std::filesystem::exists(path, error) && !error)
        return {};
    if (!std::filesystem::is_regular_file(path, error))
        return {std::nullopt, "'" + path + "' is not a file"};
    const auto bytes = platform::ReadWholeFile(path.c_str());
    if (!bytes)
        return {std::nullopt, "'" + path + "' cannot be read: " + platform::LastFileErrorMessage()};
    trust::ReleaseStateReading reading = trust::ReadReleaseState(*bytes);
    if (reading.error.empty() && reading.state.model != model)
        reading.error = "it is of another model";
    if (!reading.error.empty())
        return {std::nullopt,
                "'" + path + "' is not a release state of this program's (" + reading.error + ")"};
    return {reading.state, ""};
}

std::string PrepareStateFolder(const std::string& folder) {
    if (folder.empty())
        return "no state folder: give --state-dir";
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error)
        return error.message();
    return FolderNotWritable(folder);
}

std::string WriteKeptRelease(const std::string& folder, const trust::ReleaseState& state) {
    const std::string text = trust::ReleaseStateText(state);
    const std::string path = ReleaseStatePath(folder, state.model);
    if (!platform::ReplaceFileWhole(path.c_str(), text.data(), text.size()))
        return "'" + path + "': " + platform::LastFileErrorMessage();
    return "";
}

} // namespace cli
