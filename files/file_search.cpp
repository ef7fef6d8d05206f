// Finding component files in the current directory.

#include "files/file_search.h"

#include <algorithm>

namespace {

unsigned char FoldAsciiUpper(unsigned char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c - 'A' + 'a') : c;
}

// The platform also matches longer extensions through short names ("*.htm" finds a.html);
// keeping only names with the exact extension length undoes that.
bool HasExtensionLength(const std::string& name, int extLength) {
    const size_t tail = static_cast<size_t>(extLength) + 1;
    return extLength >= 0 && name.size() >= tail && name[name.size() - tail] == '.';
}

// Names that compare equal keep the directory's order.
void SortByName(std::vector<platform::FindEntry>& list) {
    std::stable_sort(list.begin(), list.end(),
                     [](const platform::FindEntry& a, const platform::FindEntry& b) {
                         return FileNameLess(a.name, b.name);
                     });
}

} // namespace

bool FileNameLess(const std::string& a, const std::string& b) {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return FoldAsciiUpper(static_cast<unsigned char>(x)) <
               FoldAsciiUpper(static_cast<unsigned char>(y));
    });
}

bool FindFiles(std::vector<platform::FindEntry>* list, const char* pattern, int extLength) {
    return KeepFound(platform::FindInCurrentDirectory(pattern), extLength, list);
}

bool KeepFound(std::vector<platform::FindEntry> found, int extLength,
               std::vector<platform::FindEntry>* list) {
    bool kept = false;
    for (platform::FindEntry& entry : found) {
        if (!HasExtensionLength(entry.name, extLength))
            continue;
        kept = true;
        if (list == nullptr)
            break;
        list->push_back(std::move(entry));
    }
    if (list != nullptr)
        SortByName(*list);
    return kept;
}

FolderListing::FolderListing(std::vector<std::string> patterns)
    : m_patterns(std::move(patterns)), m_found(platform::FindInCurrentDirectory(m_patterns)) {
    // Sorted once: keeping a subset later keeps the order.
    for (std::vector<platform::FindEntry>& found : m_found)
        SortByName(found);
}

std::vector<platform::FindEntry> FolderListing::Find(const std::string& pattern,
                                                     int extLength) const {
    std::vector<platform::FindEntry> list;
    for (size_t i = 0; i < m_patterns.size(); ++i) {
        if (m_patterns[i] == pattern) {
            for (const platform::FindEntry& entry : m_found[i]) {
                if (HasExtensionLength(entry.name, extLength))
                    list.push_back(entry);
            }
            break;
        }
    }
    return list;
}

bool IsNonEmptyFile(const char* name) {
    const std::optional<uint64_t> size = platform::RegularFileSize(name);
    return size.has_value() && *size != 0;
}
