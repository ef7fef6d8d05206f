// Fuzz target: the simulated unit's check of an upload record against the STOR name and the
// selected component, and the selector words of "EXCM".
//
// Input: the STOR name, a line feed, the word behind "EXCM ", a line feed, then the bytes that
// arrived on the data connection.

#include "sim/upload_record.h"
#include "tests/fuzz/fuzz_check.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <string>
#include <vector>

namespace {

constexpr size_t kHeaderSize = 32;
constexpr size_t kNameField = 16;

uint32_t Le32(const std::vector<uint8_t>& bytes, size_t at) {
    return uint32_t(bytes[at]) | uint32_t(bytes[at + 1]) << 8 | uint32_t(bytes[at + 2]) << 16 |
           uint32_t(bytes[at + 3]) << 24;
}

// A record the unit may take: every byte of the name field is the STOR name's (with letters in
// either case when ignoreCase is set) or, behind it, zero padding; the length counts the bytes
// that follow; the kind is the selected component's; the reserved words are zero.
bool IsSoundRecord(const std::string& storName, uint32_t kind, const std::vector<uint8_t>& bytes,
                   bool ignoreCase) {
    if (bytes.size() < kHeaderSize)
        return false;
    const auto fold = [&](int c) { return ignoreCase ? std::tolower(c) : c; };
    for (size_t i = 0; i < kNameField; ++i) {
        const int expected = i < storName.size() ? static_cast<unsigned char>(storName[i]) : 0;
        if (fold(bytes[i]) != fold(expected))
            return false;
    }
    return Le32(bytes, 16) == bytes.size() - kHeaderSize && Le32(bytes, 20) == kind &&
           Le32(bytes, 24) == 0 && Le32(bytes, 28) == 0;
}

// The tool lowers the three characters behind the first '.' of the name it gives STOR, so a STOR
// name with an upper-case letter there (inside the name field) never comes from it.
bool HasUpperCaseExtension(const std::string& storName) {
    const size_t dot = storName.find('.');
    if (dot == std::string::npos)
        return false;
    for (size_t i = dot + 1; i <= dot + 3 && i < storName.size() && i < kNameField; ++i) {
        if (storName[i] >= 'A' && storName[i] <= 'Z')
            return true;
    }
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    const size_t nameEnd = input.find('\n');
    if (nameEnd == std::string::npos)
        return 0;
    const size_t wordEnd = input.find('\n', nameEnd + 1);
    if (wordEnd == std::string::npos)
        return 0;
    const std::string storName = input.substr(0, nameEnd);
    const std::string word = input.substr(nameEnd + 1, wordEnd - nameEnd - 1);
    const std::vector<uint8_t> received(data + wordEnd + 1, data + size);

    const std::optional<sim::Selector> selected = sim::FindSelector(word);
    FUZZ_CHECK(!selected || selected->word == word);
    const sim::StoredUpload upload = sim::CheckUpload(storName, selected, received);
    FUZZ_CHECK(upload.storName == storName);
    if (!selected) {
        // Without a selection the bytes are kept as they came.
        FUZZ_CHECK(!upload.hasHeader && upload.content == received && upload.problem.empty());
        return 0;
    }
    FUZZ_CHECK(upload.selector == selected->word);
    FUZZ_CHECK(upload.hasHeader == (received.size() >= kHeaderSize));
    if (upload.hasHeader) {
        FUZZ_CHECK(upload.content.size() + kHeaderSize == received.size());
        FUZZ_CHECK(std::equal(upload.content.begin(), upload.content.end(),
                              received.begin() + kHeaderSize));
        FUZZ_CHECK(upload.headerName.size() <= kNameField &&
                   upload.headerName.find('\0') == std::string::npos);
        FUZZ_CHECK(upload.headerLength == Le32(received, 16) &&
                   upload.headerKind == Le32(received, 20));
    }
    // Every fault is named: a record passes only when it is sound, and a record whose name field
    // holds the STOR name byte for byte passes whenever that name is one the tool sends.
    if (upload.problem.empty())
        FUZZ_CHECK(IsSoundRecord(storName, selected->kind, received, true));
    if (IsSoundRecord(storName, selected->kind, received, false) &&
        !HasUpperCaseExtension(storName))
        FUZZ_CHECK(upload.problem.empty());
    return 0;
}
