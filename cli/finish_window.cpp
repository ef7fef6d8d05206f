#include "cli/finish_window.h"

#include "app/res/resource.h"
#include "cli/update_set.h"
#include "link/socket_exchange.h"
#include "update/component_table.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
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

FinishTime Refused(std::string why) {
    FinishTime time;
    time.error = std::move(why);
    return time;
}

FinishTime Unusable(const std::string& text) {
    return Refused("'" + text + "': give HH:MM (local time) or an ISO 8601 date and time such as " +
                   "2026-12-24T06:00 (local) or 2026-12-24T05:00Z");
}

// A local date and time that names no moment or two: both readings, each with the offset it
// would have, named for the operator to choose ("...T02:30+02:00 or ...T02:30+01:00").
FinishTime NotOneMoment(const std::string& text, const LocalTime& local, int64_t wall,
                        const ZoneOffset& zone) {
    const int64_t before = zone(wall - 86400), after = zone(wall + 86400);
    if (before == after) // no change of the clocks near: a day the zone left out as a whole
        return Unusable(text);
    const std::string written = LocalText(local, local.second != 0);
    const bool twice = before > after; // the clocks went back
    return Refused(
        "'" + text + "': the clocks show that local time " +
        (twice ? "twice, before and after they go back" : "never, as they go forward past it") +
        "; give its offset: " + written + OffsetText(before) + " or " + written +
        OffsetText(after));
}

// "HH:MM", its occurrence nearest to now in real time: every one within a day either way, both
// of an hour the clocks repeat, none of an hour they skip; of two alike near, the later.
FinishTime NearestClockTime(const std::string& text, int64_t now, const ZoneOffset& zone) {
    int hour = 0, minute = 0;
    if (text.size() != 5 || !Digits(text, 0, 2, hour) || text[2] != ':' ||
        !Digits(text, 3, 2, minute) || hour > 23 || minute > 59)
        return Unusable(text);
    LocalTime today = LocalTimeAt(now, zone(now));
    today.hour = hour;
    today.minute = minute;
    today.second = 0;
    const auto away = [now](int64_t moment) { return moment > now ? moment - now : now - moment; };
    std::optional<int64_t> best;
    for (int days = -1; days <= 1; ++days) {
        for (const int64_t moment : MomentsOf(DaysLater(today, days), zone)) {
            if (!best || away(moment) < away(*best) ||
                (away(moment) == away(*best) && moment > *best))
                best = moment;
        }
    }
    return best ? FinishTimeAt(*best, now, zone) : Unusable(text);
}

FinishTime IsoTime(const std::string& text, int64_t now, const ZoneOffset& zone) {
    LocalTime local;
    if (!Digits(text, 0, 4, local.year) || text.size() < 16 || text[4] != '-' ||
        !Digits(text, 5, 2, local.month) || text[7] != '-' || !Digits(text, 8, 2, local.day) ||
        (text[10] != 'T' && text[10] != ' ') || !Digits(text, 11, 2, local.hour) ||
        text[13] != ':' || !Digits(text, 14, 2, local.minute))
        return Unusable(text);
    size_t at = 16;
    if (at < text.size() && text[at] == ':') {
        if (!Digits(text, at + 1, 2, local.second))
            return Unusable(text);
        at += 3;
    }
    if (local.month < 1 || local.month > 12 || local.day < 1 || local.day > 31 || local.hour > 23 ||
        local.minute > 59 || local.second > 59)
        return Unusable(text);
    const int64_t days = DaysFromCivil(local.year, unsigned(local.month), unsigned(local.day));
    if (LocalTimeAt(days * 86400, 0).day != local.day)
        return Unusable(text); // the 31st of a short month
    const std::string zoneText = text.substr(at);
    const int64_t wall = days * 86400 + local.hour * 3600 + local.minute * 60 + local.second;
    if (zoneText.empty()) {
        const std::vector<int64_t> moments = MomentsOf(local, zone);
        if (moments.size() == 1)
            return FinishTimeAt(moments.front(), now, zone);
        return NotOneMoment(text, local, wall, zone);
    }
    int offsetHours = 0, offsetMinutes = 0;
    if (zoneText != "Z" &&
        (zoneText.size() != 6 || (zoneText[0] != '+' && zoneText[0] != '-') ||
         !Digits(zoneText, 1, 2, offsetHours) || zoneText[3] != ':' ||
         !Digits(zoneText, 4, 2, offsetMinutes) || offsetHours > 23 || offsetMinutes > 59))
        return Unusable(text);
    const int64_t offset =
        (zoneText[0] == '-' ? -1 : 1) * (offsetHours * 3600 + offsetMinutes * 60);
    return FinishTimeAt(wall - offset, now, zone);
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

FinishTime ParseFinishTime(const std::string& text, int64_t nowEpochSeconds,
                           const ZoneOffset& zone) {
    return text.size() == 5 ? NearestClockTime(text, nowEpochSeconds, zone)
                            : IsoTime(text, nowEpochSeconds, zone);
}

FinishTime FinishTimeAt(int64_t epochSeconds, int64_t nowEpochSeconds, const ZoneOffset& zone) {
    const int64_t offset = zone(epochSeconds);
    const LocalTime local = LocalTimeAt(epochSeconds, offset);
    FinishTime time;
    time.epochSeconds = epochSeconds;
    time.iso = TimeWithOffset(epochSeconds, zone);
    time.shown = LocalText(local, local.second != 0);
    time.shown[10] = ' ';
    if (MomentsOf(local, zone).size() > 1) // which of the two the clocks show
        time.shown += " " + OffsetText(offset);
    // The same local time on the first later day that has it, if that lies ahead: the earlier
    // of two, written with its offset so that it names that one moment.
    for (int days = 1; days <= 3 && time.later.empty(); ++days) {
        const std::vector<int64_t> moments = MomentsOf(DaysLater(local, days), zone);
        if (moments.empty())
            continue;
        if (moments.front() > nowEpochSeconds)
            time.later = FinishTimeText(moments.front(), zone);
        break;
    }
    return time;
}

std::string FinishTimeText(int64_t epochSeconds, const ZoneOffset& zone) {
    const int64_t offset = zone(epochSeconds);
    const LocalTime local = LocalTimeAt(epochSeconds, offset);
    return LocalText(local, local.second != 0) + OffsetText(offset);
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
