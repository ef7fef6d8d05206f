#include "update/upload_record.h"

#include <algorithm>
#include <cstring>

namespace {

void PutLe32(uint8_t* out, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        out[i] = static_cast<uint8_t>(v >> (8 * i));
}

} // namespace

UploadHeader MakeUploadHeader(const std::string& name, uint32_t length, uint32_t kind) {
    UploadHeader header;
    std::memcpy(header.name, name.data(), std::min(name.size(), kUploadNameFieldSize));
    header.length = length;
    header.kind = kind;
    return header;
}

void EncodeUploadHeader(const UploadHeader& header, uint8_t* out) {
    std::memcpy(out, header.name, kUploadNameFieldSize);
    PutLe32(out + 16, header.length);
    PutLe32(out + 20, header.kind);
    PutLe32(out + 24, header.reserved[0]);
    PutLe32(out + 28, header.reserved[1]);
}

std::string RecordLogText(const uint8_t* record, size_t length) {
    const auto* text = reinterpret_cast<const char*>(record);
    return std::string(text, strnlen(text, length));
}
