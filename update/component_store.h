#pragma once
// Component files as the records a run uploads. A fleet keeps each record once for the whole
// process and every run that sends the file shares it read-only, so memory follows the set's
// size, not the number of units. The dialog keeps nothing: each run reads its files afresh at
// their step, as a person may have replaced them between two runs.

#include "update/load_update_file.h"

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <tuple>

// A loaded file with its upload header already written (when it has header room).
using SharedRecord = std::shared_ptr<const LoadedFile>;

class ComponentStore {
  public:
    explicit ComponentStore(bool keep) : m_keep(keep) {}

    // The record of a file for the given record kind. The first caller reads the file; callers
    // that ask for it meanwhile wait and then share the same record, failure included.
    SharedRecord Load(const std::string& name, size_t headerSize, uint32_t kind);

  private:
    struct Slot {
        std::once_flag once;
        SharedRecord record;
    };
    using Key = std::tuple<std::string, size_t, uint32_t>;

    const bool m_keep;
    std::mutex m_mutex;
    std::map<Key, std::shared_ptr<Slot>> m_slots;
};
