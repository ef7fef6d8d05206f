#pragma once
// The bytes of an update set as the units will receive them: every file an update sends, loaded
// once into the store that every unit's run takes its records from, and the SHA-256 and size of
// exactly those bytes; and the files beside them that the set's discovery looks at.

#include "trust/manifest.h"

#include <string>
#include <vector>

class ComponentStore;

namespace cli {

class UpdateSet;

struct SetFiles {
    std::vector<trust::ManifestFile> files; // in the order an update sends them
    std::string error;                      // a file that cannot be loaded
};

SetFiles LoadSetFiles(const UpdateSet& set, ComponentStore& store);

// Files of the current folder with content that the discovery looks at (*.cpu, *.bin, ...).
std::vector<std::string> ComponentCandidates();

} // namespace cli
