#pragma once
// The upload record the unit expects for every component file except the CPU program: a 32-byte
// header followed at once by the file's bytes. Integers are unsigned 32-bit little-endian.
//
//   offset  0  16 bytes  name: the file's name, zero-padded; 16 characters or more fill the
//                        field with the first 16 and leave no terminating zero
//   offset 16   4 bytes  length of the content (the file's size)
//   offset 20   4 bytes  kind: the component's record kind
//   offset 24   8 bytes  reserved, zero

#include <cstddef>
#include <cstdint>
#include <string>

constexpr size_t kUploadHeaderSize = 32;
constexpr size_t kUploadNameFieldSize = 16;

struct UploadHeader {
    char name[kUploadNameFieldSize] = {};
    uint32_t length = 0;
    uint32_t kind = 0;
    uint32_t reserved[2] = {};
};

UploadHeader MakeUploadHeader(const std::string& name, uint32_t length, uint32_t kind);
// Writes the header's 32 bytes in the unit's byte order.
void EncodeUploadHeader(const UploadHeader& header, uint8_t* out);

// The largest content a record can carry: the whole record's length (content plus header) must
// fit the transfer's 32-bit length.
constexpr uint64_t MaxUploadContent(size_t headerSize) {
    return 0xFFFFFFFFull - headerSize;
}

// The record as the log shows it: its bytes up to the first zero, never past its end.
std::string RecordLogText(const uint8_t* record, size_t length);
