#include "cli/finish_window.h"

#include "app/res/resource.h"
#include "cli/update_set.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <ctime>
#include <set>

namespace cli {
namespace {

constexpr uint64_t kCleanUpMs = 1000;
constexpr uint64_t kConnectMs = 20 * 1000;
constexpr uint64_t kRestartMs = 60 * 1000 + 2000 + kConnectMs;
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
    return {0, "",
            "'" + text + "': give HH:MM (local time) or an ISO 8601 date and time such as " +
                "2026-12-24T06:00 (local) or 2026-12-24T05:00Z"};
}

// "HH:MM", its next occurrence after now.
FinishTime NextClockTime(const std::string& text, int64_t now) {
    int hour = 0, minute = 0;
    if (text.size() != 5 || !Digits(text, 0, 2, hour) || text[2] != ':' ||
        !Digits(text, 3, 2, minute) || hour > 23 || minute > 59)
        return Unusable(text);
    const std::time_t nowTime = std::time_t(now);
    std::tm day{};
    if (const std::tm* local = std::localtime(&nowTime))
        day = *local;
    day.tm_hour = hour;
    day.tm_min = minute;
    day.tm_sec = 0;
    // Today's, else tomorrow's (a day may lack that time when the clocks go forward).
    for (int i = 0; i < 3; ++i, ++day.tm_mday) {
        std::tm normal = day;
        normal.tm_isdst = -1;
        std::mktime(&normal); // the date of "today + i", month ends handled
        normal.tm_hour = hour;
        normal.tm_min = minute;
        normal.tm_sec = 0;
        if (const auto moment = LocalMoment(normal); moment && *moment > now)
            return {*moment, text, ""};
    }
    return Unusable(text);
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
    const std::string shown = text.substr(0, 10) + " " + text.substr(11, at - 11) + zone;
    if (zone.empty()) {
        std::tm local{};
        local.tm_year = year - 1900;
        local.tm_mon = month - 1;
        local.tm_mday = day;
        local.tm_hour = hour;
        local.tm_min = minute;
        local.tm_sec = second;
        if (const auto moment = LocalMoment(local))
            return {*moment, shown, ""};
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
    return {days * 86400 + hour * 3600 + minute * 60 + second - offset, shown, ""};
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
    return kCleanUpMs + kConnectMs + uint64_t(set.cpuPasses) * kRestartMs +
           uint64_t(set.steps) * kStepMs + (set.defaultSetting ? kDefaultSettingMs : 0) +
           (set.bytes * 1000 + kBytesPerSecond - 1) / kBytesPerSecond;
}

FinishTime ParseFinishTime(const std::string& text, int64_t nowEpochSeconds) {
    return text.size() == 5 ? NextClockTime(text, nowEpochSeconds) : IsoTime(text);
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
