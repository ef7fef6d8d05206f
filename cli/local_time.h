#pragma once
// Local times and the moments they name. A zone is the offset from UTC its clocks show at each
// moment, so whoever asks chooses the zone (tests give one; LocalZone() is the process's own,
// TZ). A local time may name no moment (the hour the clocks skip) or two (the hour they repeat);
// a moment written down for others carries its offset, so that times can be ordered.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace cli {

// Seconds east of UTC that a zone's clocks show at a moment (seconds since 1970 UTC).
using ZoneOffset = std::function<int64_t(int64_t epochSeconds)>;

// The process's local time zone.
const ZoneOffset& LocalZone();

struct LocalTime {
    int year = 1970, month = 1, day = 1, hour = 0, minute = 0, second = 0;
    bool operator==(const LocalTime&) const = default;
};

// Days since 1970-01-01 of a date of the proleptic Gregorian calendar.
int64_t DaysFromCivil(int64_t year, unsigned month, unsigned day);
// The clocks `offset` seconds east of UTC at a moment.
LocalTime LocalTimeAt(int64_t epochSeconds, int64_t offset);
// The same local time `days` later (or earlier): the date moves, the time of day stays.
LocalTime DaysLater(LocalTime time, int days);
// The moments at which the zone's clocks show `time`, earliest first: none when the clocks skip
// it or the date does not exist, two when they show it twice.
std::vector<int64_t> MomentsOf(const LocalTime& time, const ZoneOffset& zone);

// "+02:00", "-05:00", "+10:30".
std::string OffsetText(int64_t offset);
// "2026-10-25T02:30" (no seconds) or "2026-10-25T02:30:05", without an offset.
std::string LocalText(const LocalTime& time, bool seconds);
// A moment as RFC 3339 with the zone's offset then: "2026-10-25T02:59:56+02:00". Every time a
// report or a message gives for others to read back is written so.
std::string TimeWithOffset(int64_t epochSeconds, const ZoneOffset& zone = LocalZone());
// Now, so written in the local zone: the times of the reports.
std::string LocalTimeNow();

} // namespace cli
