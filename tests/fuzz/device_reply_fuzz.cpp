// Fuzz target: one receive from the unit, judged as a reply and read as the identification
// replies: the refusal judgement (with and without the tolerated "500 failed."), the model text,
// the version text as kept, shown and logged, and the version number.

#include "files/activity_log.h"
#include "link/protocol_format.h"
#include "link/reply_buffer.h"
#include "tests/fuzz/fuzz_check.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

namespace {

// The working buffers of the identification, at their sizes in the dialog.
constexpr size_t kModelTextSize = 7;
constexpr size_t kVersionTextSize = 65536;
constexpr size_t kDeviceVersionSize = 65538;

void CheckJudgement(const char* reply) {
    const bool refused = IsRefusal(reply, false);
    const bool refusedTolerant = IsRefusal(reply, true);
    FUZZ_CHECK(refused == (reply[0] == '4' || reply[0] == '5'));
    FUZZ_CHECK(refusedTolerant == (refused && std::strstr(reply, "500 failed.") == nullptr));
}

void CheckIdentification(const char* reply) {
    const std::string model = FindModelText(reply);
    FUZZ_CHECK(model == "NODEV" || (model.size() <= 5 && model.rfind("KQ-", 0) == 0));
    const auto modelText = std::make_unique<char[]>(kModelTextSize);
    std::memcpy(modelText.get(), model.data(), model.size());
    FUZZ_CHECK(std::strlen(modelText.get()) == model.size());

    const std::string version = UnameVersionText(reply);
    FUZZ_CHECK(version.size() + 1 <= kVersionTextSize);
    const auto versionText = std::make_unique<char[]>(kVersionTextSize);
    std::memcpy(versionText.get(), version.c_str(), version.size() + 1);

    const std::string shown = VersionTextWithoutLineEnd(versionText.get());
    FUZZ_CHECK(shown.size() + 1 <= kDeviceVersionSize);
    FUZZ_CHECK(version.compare(0, shown.size(), shown) == 0);
    const auto deviceVersion = std::make_unique<char[]>(kDeviceVersionSize);
    std::memcpy(deviceVersion.get(), shown.c_str(), shown.size() + 1);

    const int number = ParseDeviceVersion(versionText.get());
    FUZZ_CHECK(number >= 0 && number <= 99);
    // The same text without the zeroes behind it in the working buffer: a read past its end is
    // caught.
    const auto exact = std::make_unique<char[]>(version.size() + 1);
    std::memcpy(exact.get(), version.c_str(), version.size() + 1);
    FUZZ_CHECK(ParseDeviceVersion(exact.get()) == number);
}

void CheckLogEntry(const char* reply) {
    const std::string entry = FormatLogEntry("2026/12/07 14:00:00", "PC <- Device", reply);
    FUZZ_CHECK(entry == std::string("2026/12/07 14:00:00 PC <- Device ") + reply + "\r\n");
}

} // namespace

// The input is one receive: at most 65,536 bytes, NUL bytes included. A first byte of zero (a
// reply that reads as empty anyway) stands for a receive that fills the whole buffer: the rest
// of the input repeated.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string bytes(reinterpret_cast<const char*>(data), size);
    if (size > 1 && data[0] == 0) {
        const std::string unit = bytes.substr(1);
        bytes.clear();
        while (bytes.size() < ReplyBuffer::kReplyCapacity)
            bytes += unit;
    }
    bytes.resize(std::min(bytes.size(), ReplyBuffer::kReplyCapacity));
    // The received bytes and the zero behind them, and not a byte more: reading past the zero
    // is caught.
    const auto buffer = std::make_unique<char[]>(bytes.size() + 1);
    std::memcpy(buffer.get(), bytes.data(), bytes.size());
    buffer[bytes.size()] = '\0';

    CheckJudgement(buffer.get());
    CheckIdentification(buffer.get());
    CheckLogEntry(buffer.get());
    return 0;
}
