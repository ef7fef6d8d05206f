#include "cli/local_time.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <mutex>

namespace cli {
namespace {

// Days since 1970-01-01 back to a date of the proleptic Gregorian calendar.
LocalTime CivilFromDays(int64_t days) {
    days += 719468;
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const auto doe = unsigned(days - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    LocalTime date;
    date.day = int(doy - (153 * mp + 2) / 5 + 1);
    date.month = int(mp < 10 ? mp + 3 : mp - 9);
    date.year = int(int64_t(yoe) + era * 400 + (date.month <= 2));
    return date;
}

int64_t FloorDiv(int64_t value, int64_t by) {
    return value / by - (value % by != 0 && (value < 0) != (by < 0));
}

// The local time read as if it were UTC.
int64_t WallSeconds(const LocalTime& time) {
    return DaysFromCivil(time.year, unsigned(time.month), unsigned(time.day)) * 86400 +
           time.hour * 3600 + time.minute * 60 + time.second;
}

} // namespace

const ZoneOffset& LocalZone() {
    static const ZoneOffset zone = [](int64_t epochSeconds) -> int64_t {
        static std::mutex s_lock; // localtime's result is shared within the C library
        const auto moment = std::time_t(epochSeconds);
        std::tm fields{};
        {
            std::lock_guard lock(s_lock);
            const std::tm* local = std::localtime(&moment);
            if (!local)
                return 0;
            fields = *local;
        }
        const LocalTime time{fields.tm_year + 1900, fields.tm_mon + 1, fields.tm_mday,
                             fields.tm_hour,        fields.tm_min,     fields.tm_sec};
        return WallSeconds(time) - epochSeconds;
    };
    return zone;
}

int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = unsigned(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + int64_t(doe) - 719468;
}

LocalTime LocalTimeAt(int64_t epochSeconds, int64_t offset) {
    const int64_t wall = epochSeconds + offset;
    const int64_t days = FloorDiv(wall, 86400);
    const int64_t inDay = wall - days * 86400;
    LocalTime time = CivilFromDays(days);
    time.hour = int(inDay / 3600);
    time.minute = int(inDay / 60 % 60);
    time.second = int(inDay % 60);
    return time;
}

LocalTime DaysLater(LocalTime time, int days) {
    const LocalTime date =
        CivilFromDays(DaysFromCivil(time.year, unsigned(time.month), unsigned(time.day)) + days);
    time.year = date.year;
    time.month = date.month;
    time.day = date.day;
    return time;
}

std::vector<int64_t> MomentsOf(const LocalTime& time, const ZoneOffset& zone) {
    if (time.month < 1 || time.month > 12 || time.day < 1 || time.day > 31)
        return {};
    // A moment that shows `time` lies within a day of it read as UTC (no zone is a day off
    // UTC), at one of the offsets the zone has around it; each is tried and kept if it holds.
    const int64_t wall = WallSeconds(time);
    std::vector<int64_t> moments;
    for (int64_t probe = wall - 86400; probe <= wall + 86400; probe += 3 * 3600) {
        const int64_t moment = wall - zone(probe);
        if (LocalTimeAt(moment, zone(moment)) == time &&
            std::find(moments.begin(), moments.end(), moment) == moments.end())
            moments.push_back(moment);
    }
    std::sort(moments.begin(), moments.end());
    return moments;
}

std::string OffsetText(int64_t offset) {
    const int64_t minutes = (offset < 0 ? -offset : offset) / 60;
    char text[16];
    std::snprintf(text, sizeof text, "%c%02d:%02d", offset < 0 ? '-' : '+', int(minutes / 60),
                  int(minutes % 60));
    return text;
}

std::string LocalText(const LocalTime& time, bool seconds) {
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d", time.year, time.month, time.day,
                  time.hour, time.minute);
    std::string shown = text;
    if (seconds) {
        std::snprintf(text, sizeof text, ":%02d", time.second);
        shown += text;
    }
    return shown;
}

std::string TimeWithOffset(int64_t epochSeconds, const ZoneOffset& zone) {
    const int64_t offset = zone(epochSeconds);
    return LocalText(LocalTimeAt(epochSeconds, offset), true) + OffsetText(offset);
}

std::string LocalTimeNow() {
    return TimeWithOffset(int64_t(std::time(nullptr)));
}

} // namespace cli
