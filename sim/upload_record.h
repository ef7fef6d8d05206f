#pragma once
// What the unit knows about upload records: the component selectors with the record kind each
// expects, and the check of one received record against the STOR name and the selection.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sim/sim_unit.h"

namespace sim {

struct Selector {
    std::string word; // "k_FP", as it follows "EXCM "
    uint32_t kind;    // the record kind the component's records carry
};

// The selector named by `word`, or nothing for a word that selects no component.
std::optional<Selector> FindSelector(const std::string& word);

// Builds what the unit keeps of one upload. With a selector the bytes must form a record: a
// 32-byte header (16-byte name field, little-endian length, kind and two zero reserved words)
// followed by exactly `length` bytes. Without one they are kept as they are. Every fault found
// is named in `problem`. The name field must hold the listed name, of which the STOR name is
// the copy with the three characters behind the first '.' lowered: strictly, those three are
// the field's bytes lowered and every other byte (the zero padding included) is the same;
// leniently, the names are compared in any case.
StoredUpload CheckUpload(const std::string& storName, const std::optional<Selector>& selected,
                         const std::vector<uint8_t>& received, bool strict = true);

} // namespace sim
