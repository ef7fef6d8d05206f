// Fuzz target: the parameter file, from its bytes on disk through the 100-byte buffer to the
// heading, the model and the default-setting choice the dialog takes from it.

#include "files/param_file.h"
#include "tests/fuzz/fuzz_check.h"

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

namespace {

std::string g_folder;

void RemoveFolder() {
    std::remove(kParamFileName);
    rmdir(g_folder.c_str());
}

// The text with runs of line feeds as one and none at either end: the lines joined again.
std::string CollapsedLineFeeds(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\n' && (out.empty() || out.back() == '\n'))
            continue;
        out += c;
    }
    if (!out.empty() && out.back() == '\n')
        out.pop_back();
    return out;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The file is looked for in the current directory: a folder of this process's own, in memory
    // where the system has such a file system (each input is written once).
    char inMemory[] = "/dev/shm/kq-fuzz-prm-XXXXXX";
    char onDisk[] = "/tmp/kq-fuzz-prm-XXXXXX";
    const char* folder = mkdtemp(inMemory);
    if (folder == nullptr)
        folder = mkdtemp(onDisk);
    FUZZ_CHECK(folder != nullptr && chdir(folder) == 0);
    g_folder = folder;
    std::atexit(RemoveFolder);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::FILE* file = std::fopen(kParamFileName, "wb");
    FUZZ_CHECK(file != nullptr);
    FUZZ_CHECK(std::fwrite(data, 1, size, file) == size);
    std::fclose(file);

    // Exactly the buffer's capacity on the heap, so that a byte past it is caught.
    const auto buffer = std::make_unique<char[]>(kParamFileCapacity);
    std::memset(buffer.get(), 'x', kParamFileCapacity);
    const int count = ReadParamFile(buffer.get());
    const size_t capacity = kParamFileCapacity;
    const size_t expected = size < capacity ? size : capacity - 1;
    FUZZ_CHECK(count == static_cast<int>(expected));
    FUZZ_CHECK(std::memcmp(buffer.get(), data, expected) == 0);
    FUZZ_CHECK(buffer[kParamFileCapacity - 1] == '\0');
    if (count == 0)
        return 0; // the dialog keeps its defaults

    // What the dialog initialisation takes from the text.
    const std::string text(buffer.get());
    const std::vector<std::string> lines = ParamFileLines(buffer.get());
    std::string joined;
    for (const std::string& line : lines) {
        FUZZ_CHECK(!line.empty() && line.find('\n') == std::string::npos);
        joined += (joined.empty() ? "" : "\n") + line;
    }
    FUZZ_CHECK(joined == CollapsedLineFeeds(text));

    const std::string heading = ParamFileHeading(buffer.get());
    FUZZ_CHECK(heading == (lines.empty() ? std::string() : lines.front()));

    const ParamFileChoice choice = ParamFileChoices(buffer.get());
    char model[6] = {}; // m_szModel
    FUZZ_CHECK(std::strlen(choice.model) + 1 == sizeof model);
    std::memcpy(model, choice.model, sizeof model);
    FUZZ_CHECK(std::strcmp(model, "KQ-A2") == 0 || std::strcmp(model, "KQ-B2") == 0);
    FUZZ_CHECK(!choice.defaultSetting || lines.size() >= 3);
    return 0;
}
