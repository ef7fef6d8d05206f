#include "update/component_store.h"

#include "update/upload_record.h"

namespace {

SharedRecord ReadRecord(const std::string& name, size_t headerSize, uint32_t kind) {
    auto file = std::make_shared<LoadedFile>(LoadUpdateFile(name.c_str(), headerSize));
    if (file->status == LoadStatus::Loaded && headerSize != 0) {
        EncodeUploadHeader(MakeUploadHeader(name, file->record.contentSize, kind),
                           file->record.Header());
    }
    return file;
}

} // namespace

SharedRecord ComponentStore::Load(const std::string& name, size_t headerSize, uint32_t kind) {
    if (!m_keep)
        return ReadRecord(name, headerSize, kind);
    std::shared_ptr<Slot> slot;
    {
        std::lock_guard lock(m_mutex);
        std::shared_ptr<Slot>& entry = m_slots[Key{name, headerSize, kind}];
        if (!entry)
            entry = std::make_shared<Slot>();
        slot = entry;
    }
    std::call_once(slot->once, [&] { slot->record = ReadRecord(name, headerSize, kind); });
    return slot->record;
}
