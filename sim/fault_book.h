#pragma once
// The scripted faults of one unit and how often each trigger has been met. Shared by the
// unit's threads, so every look-up is locked.

#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "sim/sim_unit.h"

namespace sim {

class FaultBook {
  public:
    explicit FaultBook(std::vector<Fault> faults);

    // Counts one meeting of `trigger` (for Command, only faults whose `match` begins `line`)
    // and returns the first fault that fires on it.
    std::optional<Fault> Check(Fault::Trigger trigger, const std::string& line = {});

    // True when `trigger` is refused from the first meeting on, for good: the unit then does
    // not listen at all, so that connecting is refused outright.
    bool RefusesAlways(Fault::Trigger trigger) const;

    // True when the next meeting of a connection trigger is not to be taken by the listener
    // (refused, or answered late), nothing counted.
    bool NextDropped(Fault::Trigger trigger) const;

    // True when some meeting of `trigger` is still to be refused or answered late, but not
    // every one refused: such attempts must be counted one by one (see ConnectGate).
    bool AttemptsToCount(Fault::Trigger trigger) const;

  private:
    struct Entry {
        Fault fault;
        int met = 0;
        bool FiresAt(int meeting) const;
    };
    mutable std::mutex m_mutex;
    std::vector<Entry> m_entries;
};

} // namespace sim
