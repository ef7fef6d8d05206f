#include "update/upload_check.h"

#include "platform/file.h"
#include "update/load_update_file.h"
#include "update/upload_record.h"

#include <new>

std::optional<std::string> FindUploadProblem(const std::vector<std::string>& names,
                                             size_t headerSize) {
    const std::string* largest = nullptr;
    uint64_t largestSize = 0;
    for (const std::string& name : names) {
        const auto size = platform::RegularFileSize(name.c_str());
        if (!size)
            continue;
        if (*size > MaxUploadContent(headerSize))
            return UploadProblemText(name, LoadStatus::TooLarge, *size, headerSize);
        if (*size > largestSize) {
            largest = &name;
            largestSize = *size;
        }
    }
    if (largest) {
        // Reserved and released untouched, so it costs no memory; kept in a volatile so that the
        // compiler cannot drop the pair.
        void* volatile probe =
            ::operator new(headerSize + static_cast<size_t>(largestSize), std::nothrow);
        if (!probe)
            return UploadProblemText(*largest, LoadStatus::NoMemory, largestSize, headerSize);
        ::operator delete(probe);
    }
    return std::nullopt;
}
