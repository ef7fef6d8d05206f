#include "sim/upload_record.h"

#include <array>

namespace sim {

namespace {

constexpr size_t kHeaderSize = 32;
constexpr size_t kNameField = 16;

// The 2M FPGA program shares kind 2 with the 5M one; only its selector is its own.
constexpr std::array<std::pair<const char*, uint32_t>, 11> kSelectors{{
    {"k_FP", 2},
    {"k_FP2", 3},
    {"k_Web0", 4},
    {"k_Web1", 5},
    {"k_Cr", 6},
    {"k_Ic", 7},
    {"k_Sd", 8},
    {"k_Gm", 9},
    {"k_Mcs", 10},
    {"k_Lg", 11},
    {"k_FP3", 2},
}};

uint32_t ReadLe32(const std::vector<uint8_t>& bytes, size_t at) {
    return uint32_t(bytes[at]) | uint32_t(bytes[at + 1]) << 8 | uint32_t(bytes[at + 2]) << 16 |
           uint32_t(bytes[at + 3]) << 24;
}

void AddProblem(std::string& problems, const std::string& problem) {
    if (!problems.empty()) {
        problems += "; ";
    }
    problems += problem;
}

unsigned char LowerAscii(unsigned char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c - 'A' + 'a') : c;
}

// The tool lowers the three characters behind the first '.' in the STOR command only, so there
// the STOR name holds the lowered byte of the field (strict); elsewhere the bytes are the same.
bool NameFieldMatches(const std::vector<uint8_t>& bytes, const std::string& storName, bool strict) {
    const size_t dot = storName.find('.');
    for (size_t i = 0; i < kNameField; ++i) {
        const unsigned char expected = i < storName.size() ? storName[i] : 0;
        const bool lowered = dot != std::string::npos && i > dot && i <= dot + 3;
        const bool same = !strict   ? LowerAscii(bytes[i]) == LowerAscii(expected)
                          : lowered ? LowerAscii(bytes[i]) == expected
                                    : bytes[i] == expected;
        if (!same) {
            return false;
        }
    }
    return true;
}

} // namespace

std::optional<Selector> FindSelector(const std::string& word) {
    for (const auto& [name, kind] : kSelectors) {
        if (word == name) {
            return Selector{name, kind};
        }
    }
    return std::nullopt;
}

StoredUpload CheckUpload(const std::string& storName, const std::optional<Selector>& selected,
                         const std::vector<uint8_t>& received, bool strict) {
    StoredUpload up;
    up.storName = storName;
    if (!selected) {
        up.content = received;
        return up;
    }
    up.selector = selected->word;
    if (received.size() < kHeaderSize) {
        up.content = received;
        up.problem = "record of " + std::to_string(received.size()) +
                     " bytes is shorter than its 32-byte header";
        return up;
    }
    up.hasHeader = true;
    for (size_t i = 0; i < kNameField && received[i] != 0; ++i) {
        up.headerName += static_cast<char>(received[i]);
    }
    up.headerLength = ReadLe32(received, 16);
    up.headerKind = ReadLe32(received, 20);
    up.content.assign(received.begin() + kHeaderSize, received.end());

    std::string problems;
    if (!NameFieldMatches(received, storName, strict)) {
        AddProblem(problems, "name field \"" + up.headerName + "\" does not match \"" +
                                 storName.substr(0, kNameField) + "\"");
    }
    if (up.headerLength != up.content.size()) {
        AddProblem(problems, "length field " + std::to_string(up.headerLength) + " but " +
                                 std::to_string(up.content.size()) + " bytes follow the header");
    }
    if (up.headerKind != selected->kind) {
        AddProblem(problems, "kind " + std::to_string(up.headerKind) + " where " + selected->word +
                                 " expects " + std::to_string(selected->kind));
    }
    if (ReadLe32(received, 24) != 0 || ReadLe32(received, 28) != 0) {
        AddProblem(problems, "reserved words are not zero");
    }
    up.problem = problems;
    return up;
}

} // namespace sim
