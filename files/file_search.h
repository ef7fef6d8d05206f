#pragma once
// Finding component files in the current directory.

#include "platform/file.h"

#include <string>
#include <vector>

// Appends to list every name in the current directory that matches pattern ("*.cpu" or a plain
// name, with the platform's Windows matching rules) and ends with a dot and exactly extLength
// characters, then sorts the list by name (FileNameLess). Returns whether any name was kept.
// list may be null: then only the result is given.
bool FindFiles(std::vector<platform::FindEntry>* list, const char* pattern, int extLength);

// The part of FindFiles that follows the directory search: keeps the found entries whose name
// ends with a dot and exactly extLength characters, appends them to list (may be null) and sorts
// it by name. Returns whether any entry was kept.
bool KeepFound(std::vector<platform::FindEntry> found, int extLength,
               std::vector<platform::FindEntry>* list);

// The directory read once for every pattern a discovery asks about.
class FolderListing {
  public:
    explicit FolderListing(std::vector<std::string> patterns);
    // What FindFiles(&list, pattern, extLength) would give; the pattern must be one of those the
    // listing was made with (else the result is empty).
    std::vector<platform::FindEntry> Find(const std::string& pattern, int extLength) const;

  private:
    std::vector<std::string> m_patterns;
    std::vector<std::vector<platform::FindEntry>> m_found;
};

// The order of names in a search result: byte by byte as unsigned values after A-Z have been
// turned into lower case, so "_" sorts before any letter and bytes above 127 after all ASCII.
bool FileNameLess(const std::string& a, const std::string& b);

// Whether the named regular file in the current directory has a size other than zero.
bool IsNonEmptyFile(const char* name);
