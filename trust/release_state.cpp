#include "trust/release_state.h"

#include "trust/text_lines.h"

#include <optional>

namespace trust {

std::string ReleaseStateText(const ReleaseState& state) {
    return "kqvorlink-release-state 1\nmodel " + state.model + "\nrelease " +
           std::to_string(state.release) + "\nmanifest " + state.manifestSha256 + "\n";
}

ReleaseStateReading ReadReleaseState(std::span<const uint8_t> bytes) {
    if (bytes.size() > kMaxReleaseStateBytes)
        return {{}, "larger than " + std::to_string(kMaxReleaseStateBytes) + " bytes"};
    TextLines lines(bytes);
    std::string why;
    const char* const keywords[] = {"kqvorlink-release-state", "model", "release", "manifest"};
    std::string values[4];
    for (int i = 0; i < 4; ++i) {
        const std::optional<std::string_view> value = lines.Keyword(keywords[i], why);
        if (!value || value->empty())
            return {{}, why.empty() ? "not a release state of this program's" : why};
        values[i] = std::string(*value);
    }
    const std::optional<uint64_t> release = ReadDecimal(values[2]);
    if (values[0] != "1" || !release || values[3].size() != 64 || !lines.AtEnd())
        return {{}, "not a release state of this program's"};
    return {{values[1], *release, values[3]}, ""};
}

} // namespace trust
