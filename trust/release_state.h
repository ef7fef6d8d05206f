#pragma once
// What a site host remembers of a model's roll-outs: the highest release it has sent, and the
// manifest that release came with. One small file a model, written by this program only, read
// as hostile input all the same.
//
//   kqvorlink-release-state 1
//   model KQ-A2
//   release 7
//   manifest <sha256 of the manifest, lowercase hex>

#include <cstdint>
#include <span>
#include <string>

namespace trust {

constexpr size_t kMaxReleaseStateBytes = 4096;

struct ReleaseState {
    std::string model;
    uint64_t release = 0;
    std::string manifestSha256;
};

std::string ReleaseStateText(const ReleaseState& state);

struct ReleaseStateReading {
    ReleaseState state;
    std::string error; // why the bytes are not a state file of this program's
};

ReleaseStateReading ReadReleaseState(std::span<const uint8_t> bytes);

} // namespace trust
