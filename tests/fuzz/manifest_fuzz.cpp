// Fuzz target: the manifest and the release state. What the reader accepts, the writer writes
// again byte for byte, so a manifest has one reading; the same for the release state.

#include "tests/fuzz/fuzz_check.h"
#include "trust/manifest.h"
#include "trust/release_state.h"

#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    const trust::ManifestReading manifest = trust::ReadManifest({data, size});
    if (manifest.error.empty()) {
        FUZZ_CHECK(trust::ManifestText(manifest.manifest) == input);
        for (const trust::ManifestFile& file : manifest.manifest.files)
            FUZZ_CHECK(trust::FileNameProblem(file.name).empty());
    }
    const trust::ReleaseStateReading state = trust::ReadReleaseState({data, size});
    if (state.error.empty())
        FUZZ_CHECK(trust::ReleaseStateText(state.state) == input);
    return 0;
}
