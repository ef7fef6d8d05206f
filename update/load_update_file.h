#pragma once
// Reading a component file whole into the buffer that becomes its upload record.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

// One record in one buffer: room for the header, then the file's bytes straight behind it, so an
// upload needs about the file's size in memory and nothing is copied.
struct RecordBuffer {
    std::unique_ptr<uint8_t[]> bytes;
    size_t headerSize = 0;
    uint32_t contentSize = 0;

    uint8_t* Header() { return bytes.get(); }
    const uint8_t* Record() const { return bytes.get(); }
    uint8_t* Content() { return bytes.get() + headerSize; }
    uint32_t RecordLength() const { return static_cast<uint32_t>(headerSize + contentSize); }
};

enum class LoadStatus {
    Loaded,     // the buffer holds the header room and the whole file
    Empty,      // a file of zero bytes: no buffer
    OpenFailed, // the caller shows openError
    ShortRead,  // fewer bytes than the size: no message
    TooLarge,   // the record's length cannot hold it; the caller reports it
    NoMemory,   // the buffer cannot be allocated; the caller reports it
};

struct LoadedFile {
    LoadStatus status = LoadStatus::OpenFailed;
    uint64_t fileSize = 0;  // the size the file had when opened
    uint32_t openError = 0; // OpenFailed: the platform's file error
    RecordBuffer record;
};

// Opens an existing file for reading (read sharing), reads it with one read behind headerSize
// bytes of header room, and closes it on every path.
LoadedFile LoadUpdateFile(const char* name, size_t headerSize);

// The text that reports a file that cannot be uploaded (TooLarge or NoMemory).
std::string UploadProblemText(const std::string& name, LoadStatus status, uint64_t fileSize,
                              size_t headerSize);
