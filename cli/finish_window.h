#pragma once
// A maintenance window that is kept (--finish-by TIME): a unit starts only when its run is
// expected to end before TIME. Running units are never stopped for it; a window that has closed
// starts no unit at all.
//
// The expected duration of a unit's run is the longest run of a unit that completed with this set
// in this run. Before any has, it is this conservative estimate from the set, in protocol time,
// from the run's own bounds (update/component_table.h, link/socket_exchange.h):
//   the wait after the address clean-up and one connection attempt for the FTP log-in;
//   per pass of the CPU program (two when a unit may need two, that is a version-5 program):
//     the restart's pauses, the quiet period and one connection attempt again;
//   per component step 5 s (selector, the unit's writing, the step's pauses);
//   3 s for the default setting when the set asks for it;
//   the bytes an update sends (the CPU program once per pass) at 1 MiB/s.

#include "cli/local_time.h"

#include <cstdint>
#include <optional>
#include <string>

namespace cli {

class UpdateSet;

struct SetTraits {
    int cpuPasses = 0;  // the most passes any unit may need (0: no CPU program)
    uint64_t bytes = 0; // everything sent, the CPU program once per pass
    unsigned steps = 0; // component steps other than the CPU program's
    bool defaultSetting = false;
};

SetTraits TraitsOf(const UpdateSet& set);
// The conservative estimate above, in milliseconds of protocol time.
uint64_t EstimateMs(const SetTraits& set);

struct FinishTime {
    int64_t epochSeconds = 0; // the moment, seconds since 1970 UTC
    std::string shown; // local date and time, for messages ("2026-12-08 06:00"; the offset too
                       // when the clocks show that time twice that day: "... 02:30 +01:00")
    std::string iso;   // for the report, with the offset ("2026-12-08T06:00:00+01:00")
    std::string later; // the same local time on the first later day that has it, as --finish-by
                       // takes it ("2026-12-09T06:00+01:00"); empty when that has passed too
    std::string error; // why TIME is unusable (then the rest is unset)
};

// "HH:MM" (local time: of every occurrence within a day either way, the nearest to `now` in real
// time, before or after it; of two alike near, the later) or an ISO 8601 date and time
// "YYYY-MM-DDTHH:MM[:SS]" with an optional "Z" or "+HH:MM"/"-HH:MM" offset. Without one it is
// local time, refused when the clocks show it twice or never that day (both readings named).
FinishTime ParseFinishTime(const std::string& text, int64_t nowEpochSeconds,
                           const ZoneOffset& zone = LocalZone());
// The moment as the zone's clocks show it; `later` lies after nowEpochSeconds.
FinishTime FinishTimeAt(int64_t epochSeconds, int64_t nowEpochSeconds,
                        const ZoneOffset& zone = LocalZone());
// A moment as --finish-by takes it, with its offset: "2026-12-09T06:00+01:00".
std::string FinishTimeText(int64_t epochSeconds, const ZoneOffset& zone);

class FinishWindow {
  public:
    // estimateRealMs: the set's estimate, already in real time (scaled in tests).
    FinishWindow(FinishTime time, uint64_t estimateRealMs);

    // A unit completed with the set after realMs of real time.
    void UnitCompleted(uint64_t realMs);
    bool Measured() const { return m_measuredMs > 0; }
    uint64_t ExpectedMs() const { return Measured() ? m_measuredMs : m_estimateMs; }
    // Whether a unit started at nowEpochMs (real time since 1970) is expected to end in time.
    bool Fits(int64_t nowEpochMs) const;
    bool Closed(int64_t nowEpochMs) const { return nowEpochMs >= m_time.epochSeconds * 1000; }
    const FinishTime& Time() const { return m_time; }
    // "until 2026-12-08 06:00, 4:12 per unit (estimated from the set)", for the live view.
    std::string HeaderText() const;

  private:
    FinishTime m_time;
    uint64_t m_estimateMs;
    uint64_t m_measuredMs = 0;
};

// Minutes and seconds, "4:05", or hours too, "1:04:05".
std::string ClockDuration(uint64_t ms);

} // namespace cli
