#include "cli/finish_window.h"

#include "app/res/resource.h"
#include "cli/update_set.h"
#include "link/socket_exchange.h"
#include "update/component_table.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <set>

namespace cli {
namespace {

constexpr uint64_t kLogInMs = kAddressCleanUpWaitMs + kConnectAttemptMs;
constexpr uint64_t kRestartMs =
    uint64_t(kCpuRestartPauses) * kCpuRestartPauseMs + kQuietPeriodMs + kConnectAttemptMs;
// The estimate's own allowances: a step's selector, writing and pauses; the default setting.
constexpr uint64_t kStepMs = 5000;
constexpr uint64_t kDefaultSettingMs = 3000;
constexpr uint64_t kBytesPerSecond = 1024 * 1024;

// Reads exactly `digits` digits at text[at] into value.
bool Digits(const std::string& text, size_t at, size_t digits, int& value) {
    if (at + digits > text.size())
        return false;
    value = 0;
    for (size_t i = at; i < at + digits; ++i) {
        if (!std::isdigit(static_cast<unsigned char>(text[i])))
            return false;
        value = value * 10 + (text[i] - '0');
    }
    return true;
}

// Days since 1970-01-01 of a date of the proleptic Gregorian calendar.
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = unsigned(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + int64_t(doe) - 719468;
}

// The local time's moment, or nullopt when it does not exist (mktime normalises 25:00 into the
// next day: that is no time the operator meant).
std::optional<int64_t> LocalMoment(std::tm wanted) {
    std::tm made = wanted;
    made.tm_isdst = -1;
    const std::time_t moment = std::mktime(&made);
    if (moment == std::time_t(-1) || made.tm_mday != wanted.tm_mday ||
        made.tm_hour != wanted.tm_hour || made.tm_min != wanted.tm_min)
        return std::nullopt;
    return int64_t(moment);
}

FinishTime Unusable(const std::string& text) {
    FinishTime time;
    time.error = "'" + text + "': give HH:MM (local time) or an ISO 8601 date and time such as " +
                 "2026-12-24T06:00 (local) or 2026-12-24T05:00Z";
    return time;
}

std::tm LocalFields(int64_t moment) {
    const std::time_t time = std::time_t(moment);
    std::tm local{};
    if (const std::tm* fields = std::localtime(&time))
        local = *fields;
    return local;
}

// "HH:MM", its occurrence nearest to now: yesterday's, today's or tomorrow's (a day may lack
// that time when the clocks go forward); the distance is real time, so a change of the clocks
// counts.
FinishTime NearestClockTime(const std::string& text, int64_t now) {
    int hour = 0, minute = 0;
    if (text.size() != 5 || !Digits(text, 0, 2, hour) || text[2] != ':' ||
        !Digits(text, 3, 2, minute) || hour > 23 || minute > 59)
        return Unusable(text);
    const std::tm today = LocalFields(now);
    const auto away = [now](int64_t moment) { return moment > now ? moment - now : now - moment; };
    std::optional<int64_t> best;
    for (int days = -1; days <= 1; ++days) {
        std::tm date = today;
        date.tm_mday += days;
        date.tm_hour = 12;
        date.tm_min = date.tm_sec = 0;
        date.tm_isdst = -1;
        if (std::mktime(&date) == std::time_t(-1)) // the date, month ends handled
            continue;
        date.tm_hour = hour;
        date.tm_min = minute;
        const auto moment = LocalMoment(date);
        if (!moment)
            continue;
        if (!best || away(*moment) < away(*best) || (away(*moment) == away(*best) && *moment > now))
            best = moment;
    }
    return best ? LocalFinishTime(*best) : Unusable(text);
}

FinishTime IsoTime(const std::string& text) {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    if (!Digits(text, 0, 4, year) || text[4] != '-' || !Digits(text, 5, 2, month) ||
        text[7] != '-' || !Digits(text, 8, 2, day) || (text[10] != 'T' && text[10] != ' ') ||
        !Digits(text, 11, 2, hour) || text.size() < 16 || text[13] != ':' ||
        !Digits(text, 14, 2, minute))
        return Unusable(text);
    size_t at = 16;
    if (at < text.size() && text[at] == ':') {
        if (!Digits(text, at + 1, 2, second))
            return Unusable(text);
        at += 3;
    }
    if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 59)
        return Unusable(text);
    const std::string zone = text.substr(at);
    if (zone.empty()) {
        std::tm local{};
        local.tm_year = year - 1900;
        local.tm_mon = month - 1;
        local.tm_mday = day;
        local.tm_hour = hour;
        local.tm_min = minute;
        local.tm_sec = second;
        if (const auto moment = LocalMoment(local))
            return LocalFinishTime(*moment);
        return Unusable(text);
    }
    int offsetHours = 0, offsetMinutes = 0;
    if (zone != "Z" &&
        (zone.size() != 6 || (zone[0] != '+' && zone[0] != '-') ||
         !Digits(zone, 1, 2, offsetHours) || zone[3] != ':' || !Digits(zone, 4, 2, offsetMinutes) ||
         offsetHours > 23 || offsetMinutes > 59))
        return Unusable(text);
    const int64_t days = DaysFromCivil(year, unsigned(month), unsigned(day));
    if ((month < 12 ? DaysFromCivil(year, unsigned(month) + 1, 1)
                    : DaysFromCivil(year + 1, 1, 1)) <= days)
        return Unusable(text); // the 31st of a short month
    const int64_t offset = (zone[0] == '-' ? -1 : 1) * (offsetHours * 3600 + offsetMinutes * 60);
    return LocalFinishTime(days * 86400 + hour * 3600 + minute * 60 + second - offset);
}

} // namespace

SetTraits TraitsOf(const UpdateSet& set) {
    SetTraits traits;
    traits.cpuPasses = set.CpuPasses(0); // the oldest unit needs the most passes
    traits.defaultSetting = set.DefaultSetting();
    std::set<int> steps;
    for (const PlannedFile& file : set.Plan()) {
        const bool cpu = file.labelId == IDC_STEP1;
        traits.bytes += file.bytes * uint64_t(cpu ? traits.cpuPasses : 1);
        if (!cpu)
            steps.insert(file.labelId);
    }
    traits.steps = unsigned(steps.size());
    return traits;
}

uint64_t EstimateMs(const SetTraits& set) {
    return kLogInMs + uint64_t(set.cpuPasses) * kRestartMs + uint64_t(set.steps) * kStepMs +
           (set.defaultSetting ? kDefaultSettingMs : 0) +
           (set.bytes * 1000 + kBytesPerSecond - 1) / kBytesPerSecond;
}

FinishTime ParseFinishTime(const std::string& text, int64_t nowEpochSeconds) {
    return text.size() == 5 ? NearestClockTime(text, nowEpochSeconds) : IsoTime(text);
}

FinishTime LocalFinishTime(int64_t epochSeconds) {
    const std::tm local = LocalFields(epochSeconds);
    // The offset is what the local fields, read as UTC, are ahead of the moment.
    const int64_t offset =
        DaysFromCivil(local.tm_year + 1900, unsigned(local.tm_mon + 1), unsigned(local.tm_mday)) *
            86400 +
        local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec - epochSeconds;
    const int64_t offsetMinutes = (offset < 0 ? -offset : offset) / 60;
    char shown[40], iso[48], nextDay[40];
    std::strftime(shown, sizeof shown, local.tm_sec ? "%Y-%m-%d %H:%M:%S" : "%Y-%m-%d %H:%M",
                  &local);
    std::strftime(iso, sizeof iso, "%Y-%m-%dT%H:%M:%S", &local);
    std::snprintf(iso + std::strlen(iso), sizeof iso - std::strlen(iso), "%c%02d:%02d",
                  offset < 0 ? '-' : '+', int(offsetMinutes / 60), int(offsetMinutes % 60));
    std::tm next = local;
    next.tm_mday += 1;
    next.tm_hour = 12; // the date only: a day later whatever the clocks do
    next.tm_isdst = -1;
    std::mktime(&next);
    next.tm_hour = local.tm_hour;
    next.tm_min = local.tm_min;
    std::strftime(nextDay, sizeof nextDay, "%Y-%m-%dT%H:%M", &next);
    return {epochSeconds, shown, iso, nextDay, ""};
}

FinishWindow::FinishWindow(FinishTime time, uint64_t estimateRealMs)
    : m_time(std::move(time)), m_estimateMs(estimateRealMs) {}

void FinishWindow::UnitCompleted(uint64_t realMs) {
    m_measuredMs = std::max(m_measuredMs, std::max<uint64_t>(realMs, 1));
}

bool FinishWindow::Fits(int64_t nowEpochMs) const {
    return nowEpochMs + int64_t(ExpectedMs()) <= m_time.epochSeconds * 1000;
}

std::string FinishWindow::HeaderText() const {
    return "until " + m_time.shown + ", " + ClockDuration(ExpectedMs()) + " per unit (" +
           (Measured() ? "the longest so far" : "estimated from the set") + ")";
}

std::string ClockDuration(uint64_t ms) {
    const uint64_t seconds = (ms + 999) / 1000;
    char text[32];
    if (seconds >= 3600)
        std::snprintf(text, sizeof text, "%llu:%02llu:%02llu",
                      static_cast<unsigned long long>(seconds / 3600),
                      static_cast<unsigned long long>(seconds / 60 % 60),
                      static_cast<unsigned long long>(seconds % 60));
    else
        std::snprintf(text, sizeof text, "%llu:%02llu",
                      static_cast<unsigned long long>(seconds / 60),
                      static_cast<unsigned long long>(seconds % 60));
    return text;
}

} // namespace cli
