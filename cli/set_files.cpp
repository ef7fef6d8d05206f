#include "cli/set_files.h"

#include "cli/update_set.h"
#include "files/update_set_discovery.h"
#include "platform/file.h"
#include "trust/digest.h"
#include "update/component_store.h"
#include "update/component_table.h"
#include "update/upload_record.h"

#include <algorithm>
#include <span>

namespace cli {
namespace {

// The system's text without the line end it comes with.
std::string ErrorText(uint32_t code) {
    std::string text = platform::SystemErrorText(code);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
        text.pop_back();
    return text;
}

} // namespace

SetFiles LoadSetFiles(const UpdateSet& set, ComponentStore& store) {
    SetFiles loaded;
    for (const ComponentRow& row : ComponentRows()) {
        // The record each file becomes, keyed as the run's upload step asks the store for it.
        const size_t header = row.variant == ComponentVariant::CpuProgram ? 0 : kUploadHeaderSize;
        for (const std::string& name : ComponentFiles(set.Found(), row)) {
            const SharedRecord file = store.Load(name, header, row.recordKind);
            std::span<const uint8_t> content;
            if (file->status == LoadStatus::Loaded)
                content = std::span(file->record.bytes.get() + header, file->record.contentSize);
            else if (file->status != LoadStatus::Empty) {
                loaded.error =
                    "'" + name + "' cannot be loaded" +
                    (file->status == LoadStatus::OpenFailed ? ": " + ErrorText(file->openError)
                                                            : std::string(" whole"));
                return loaded;
            }
            loaded.files.push_back(
                {trust::LowerHex(trust::Sha256Of(content)), content.size(), name});
        }
    }
    return loaded;
}

std::vector<std::string> ComponentCandidates() {
    std::vector<std::string> names;
    for (const auto& found : platform::FindInCurrentDirectory(DiscoveryPatterns())) {
        for (const platform::FindEntry& entry : found) {
            if (entry.size != 0 && std::find(names.begin(), names.end(), entry.name) == names.end())
                names.push_back(entry.name);
        }
    }
    return names;
}

} // namespace cli
