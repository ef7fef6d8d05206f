#include "update/load_update_file.h"

#include "platform/file.h"
#include "update/upload_record.h"

#include <new>

LoadedFile LoadUpdateFile(const char* name, size_t headerSize) {
    LoadedFile loaded;
    platform::ReadOnlyFile file(name);
    if (!file.IsOpen()) {
        loaded.openError = platform::LastFileError(); // before anything can change it
        loaded.status = LoadStatus::OpenFailed;
        return loaded;
    }
    loaded.fileSize = file.Size();
    if (loaded.fileSize == 0) {
        loaded.status = LoadStatus::Empty;
        return loaded;
    }
    if (loaded.fileSize > MaxUploadContent(headerSize)) {
        loaded.status = LoadStatus::TooLarge;
        return loaded;
    }
    const size_t total = headerSize + static_cast<size_t>(loaded.fileSize);
    loaded.record.bytes.reset(new (std::nothrow) uint8_t[total]);
    if (!loaded.record.bytes) {
        loaded.status = LoadStatus::NoMemory;
        return loaded;
    }
    loaded.record.headerSize = headerSize;
    loaded.record.contentSize = static_cast<uint32_t>(loaded.fileSize);
    const size_t got = file.Read(loaded.record.Content(), loaded.record.contentSize);
    if (got != loaded.record.contentSize) {
        loaded.record = RecordBuffer{};
        loaded.status = LoadStatus::ShortRead;
        return loaded;
    }
    loaded.status = LoadStatus::Loaded;
    return loaded;
}

std::string UploadProblemText(const std::string& name, LoadStatus status, uint64_t fileSize,
                              size_t headerSize) {
    const std::string quoted = "\"" + name + "\"";
    const std::string size = std::to_string(fileSize);
    if (status == LoadStatus::TooLarge) {
        return quoted + " is too large to upload (" + size + " bytes; the limit is " +
               std::to_string(MaxUploadContent(headerSize)) + " bytes).";
    }
    return quoted + " cannot be held in memory for the upload (" + size + " bytes).";
}
