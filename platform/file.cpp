// The parts of the file layer that are the same on every system.

#include "platform/file.h"

namespace platform {

std::optional<std::vector<uint8_t>> ReadWholeFile(const char* name) {
    ReadOnlyFile file(name);
    if (!file.IsOpen())
        return std::nullopt;
    std::vector<uint8_t> bytes(file.Size());
    // The file may have shrunk since its size was taken.
    bytes.resize(file.Read(bytes.data(), bytes.size()));
    return bytes;
}

} // namespace platform
