#include "trust/manifest.h"

#include "trust/text_lines.h"

#include <algorithm>
#include <string_view>

namespace trust {
namespace {

bool ByName(const ManifestFile& a, const ManifestFile& b) {
    return a.name < b.name;
}

bool IsLowerHex(std::string_view text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

std::string FileLine(const ManifestFile& file) {
    return "file " + file.sha256 + " " + std::to_string(file.bytes) + " " + file.name + "\n";
}

// "file <sha256> <bytes> <name>" after its keyword.
std::string ReadFileLine(std::string_view line, ManifestFile& file) {
    if (line.size() < 66 || line[64] != ' ' || !IsLowerHex(line.substr(0, 64)))
        return "a file line without a SHA-256 of 64 lowercase hexadecimal digits";
    file.sha256 = std::string(line.substr(0, 64));
    line.remove_prefix(65);
    const size_t blank = line.find(' ');
    const std::optional<uint64_t> bytes = ReadDecimal(line.substr(0, blank));
    if (blank == std::string_view::npos || !bytes)
        return "a file line without a size in bytes";
    file.bytes = *bytes;
    file.name = std::string(line.substr(blank + 1));
    if (std::string why = FileNameProblem(file.name); !why.empty())
        return why;
    return "";
}

ManifestReading Refused(int line, const std::string& why) {
    return {{}, "line " + std::to_string(line) + ": " + why};
}

} // namespace

std::string FileNameProblem(const std::string& name) {
    if (name.empty() || name == "." || name == "..")
        return "a file without a name";
    if (name.size() > 255)
        return "a file name longer than 255 bytes";
    if (name.find_first_of("/\\:") != std::string::npos)
        return "a file name with a path separator or ':'";
    if (!IsPrintableText(name))
        return "a file name with a control character";
    return "";
}

std::string FileLines(std::vector<ManifestFile> files) {
    std::sort(files.begin(), files.end(), ByName);
    std::string text;
    for (const ManifestFile& file : files)
        text += FileLine(file);
    return text;
}

std::string ManifestText(Manifest manifest) {
    std::string text = "kqvorlink-manifest " + std::to_string(kManifestFormat) + "\n";
    text += "model " + manifest.model + "\n";
    text += "release " + std::to_string(manifest.release) + "\n";
    if (manifest.targetVersion)
        text += "target-version " + *manifest.targetVersion + "\n";
    if (manifest.expires)
        text += "expires " + *manifest.expires + "\n";
    return text + FileLines(std::move(manifest.files));
}

ManifestReading ReadManifest(std::span<const uint8_t> bytes) {
    if (bytes.size() > kMaxManifestBytes)
        return {{}, "larger than " + std::to_string(kMaxManifestBytes) + " bytes"};
    TextLines lines(bytes);
    std::string why;
    int at = lines.Number();
    // The value of a line that must come next, with the line's number kept for a refusal.
    const auto value = [&](const char* keyword) {
        at = lines.Number();
        return lines.Keyword(keyword, why);
    };
    const std::optional<std::string_view> format = value("kqvorlink-manifest");
    if (!format)
        return Refused(at, why.empty() ? "no kqvorlink-manifest line: not a manifest" : why);
    if (*format != std::to_string(kManifestFormat))
        return Refused(at, "a manifest format this program cannot read");
    ManifestReading reading;
    Manifest& manifest = reading.manifest;
    const std::optional<std::string_view> model = value("model");
    if (!model || model->empty())
        return Refused(at, why.empty() ? "no model line" : why);
    manifest.model = std::string(*model);
    const std::optional<std::string_view> release = value("release");
    const std::optional<uint64_t> number = release ? ReadDecimal(*release) : std::nullopt;
    if (!number)
        return Refused(at, why.empty() ? "no release line with a whole number" : why);
    manifest.release = *number;
    for (auto [keyword, field] : {std::pair{"target-version", &manifest.targetVersion},
                                  std::pair{"expires", &manifest.expires}}) {
        if (const std::optional<std::string_view> text = value(keyword))
            *field = std::string(*text);
        if (!why.empty())
            return Refused(at, why);
        if (*field && (*field)->empty())
            return Refused(at, std::string("an empty ") + keyword);
    }
    while (!lines.AtEnd()) {
        const std::optional<std::string_view> line = value("file");
        if (!line)
            return Refused(at, why.empty() ? "a line that is no file line" : why);
        ManifestFile file;
        if (std::string problem = ReadFileLine(*line, file); !problem.empty())
            return Refused(at, problem);
        if (!manifest.files.empty() && !ByName(manifest.files.back(), file))
            return Refused(at, "a file out of name order or listed twice");
        if (manifest.files.size() == kMaxManifestFiles)
            return Refused(at, "more than " + std::to_string(kMaxManifestFiles) + " files");
        manifest.files.push_back(std::move(file));
    }
    if (manifest.files.empty())
        return {{}, "no file lines"};
    return reading;
}

} // namespace trust
