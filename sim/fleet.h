#pragma once
// Many simulated units in one process, one per address, each with its own configuration. Each
// unit has its own small set of threads (its loop and at most one FTP and one telnet session),
// so the threads are bounded by three per unit; idle units wait in poll.

#include <memory>
#include <string>
#include <vector>

#include "sim/sim_unit.h"

namespace sim {

class Fleet {
  public:
    explicit Fleet(std::vector<UnitConfig> configs);
    ~Fleet(); // stops every unit

    // Starts every unit; on a failure stops those already started and names the unit.
    bool Start(std::string* error);
    // Asks every unit to stop first, then waits for each.
    void Stop();
    // True while any unit runs.
    bool Running() const;

    size_t Size() const { return m_units.size(); }
    Unit& At(size_t i) { return *m_units[i]; }
    const UnitConfig& ConfigAt(size_t i) const { return m_configs[i]; }

  private:
    std::vector<UnitConfig> m_configs;
    std::vector<std::unique_ptr<Unit>> m_units;
};

} // namespace sim
