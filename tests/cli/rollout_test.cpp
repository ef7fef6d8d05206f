// The roll-out's decisions on a clock of its own: waves and the failure budget, the stop after
// failures, the window and its estimate, further attempts for units that did not answer; and the
// parsing of --waves and --finish-by.

#include "cli/rollout.h"
#include "cli/waves.h"
#include "tests/support/scoped_time_zone.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <map>

namespace {

using cli::RunEnd;

struct RolloutRow {
    const char* name;
    size_t units;
    unsigned jobs;
    std::string waves;
    unsigned budget, stopAfter, retries;
    std::map<size_t, std::vector<RunEnd>> ends; // each attempt's end; else Complete
    std::string results;                        // per unit: result letter (K: current) and attempts
    std::string why;                            // what the first unit not started was told
    int64_t windowMs = 0;                       // the window closes then (0: none)
    std::string header = {};                    // the header at the end, when given
    std::vector<size_t> endedTwice = {};        // units whose end is told a second time
    std::string later = "2026-12-09T06:00+01:00"; // the window's hint (FinishTime::later)
    std::string notice = {};                      // the stop notice, when given
};

void PrintTo(const RolloutRow& row, std::ostream* out) {
    *out << row.name;
}

class RolloutTest : public ::testing::TestWithParam<RolloutRow> {};

// Driven as the pool drives it: up to `jobs` runs at once, each taking 10 s; a run in progress
// ends before the clock moves on to a further attempt that falls due later.
TEST_P(RolloutTest, StartsAndStopsWhatTheRulesSay) {
    const RolloutRow& row = GetParam();
    constexpr uint64_t kRunMs = 10000;
    cli::RolloutRules rules{cli::PlanWaves(row.waves, row.units).ends,
                            row.budget,
                            row.stopAfter,
                            row.retries,
                            30,
                            std::nullopt};
    if (row.windowMs)
        rules.window.emplace(cli::FinishTime{row.windowMs / 1000, "06:00", "", row.later, ""},
                             60000);
    std::vector<char> result(row.units, '-');
    std::string why;
    std::vector<uint64_t> delays;
    cli::Rollout rollout(row.units, std::move(rules),
                         {.notStarted =
                              [&](size_t i, const std::string& text) {
                                  result[i] = 'N';
                                  why = why.empty() ? text : why;
                              },
                          .retryLater =
                              [&](size_t i, uint64_t delay) {
                                  result[i] = 'W';
                                  delays.push_back(delay);
                              },
                          .givenUp = [&](size_t i, const std::string&) { result[i] = 'F'; }});
    uint64_t now = 0;
    std::deque<std::pair<size_t, uint64_t>> running; // unit, end
    std::map<size_t, size_t> attempts;
    for (int step = 0; step < 1000; ++step) {
        const auto pick = rollout.Next({now, int64_t(now)});
        if (pick.kind == cli::PoolPick::Kind::Start) {
            running.emplace_back(pick.unit, now + kRunMs);
            if (running.size() < row.jobs)
                continue;
        }
        if (pick.kind == cli::PoolPick::Kind::Done && running.empty())
            break;
        if (!running.empty() && (pick.untilMs == 0 || running.front().second <= pick.untilMs)) {
            const auto [unit, end] = running.front();
            running.pop_front();
            now = std::max(now, end);
            const auto& ends = row.ends.count(unit) ? row.ends.at(unit) : std::vector<RunEnd>{};
            const size_t attempt = attempts[unit]++;
            const RunEnd how = attempt < ends.size() ? ends[attempt] : RunEnd::Complete;
            result[unit] = how == RunEnd::Complete ? 'C' : how == RunEnd::Current ? 'K' : 'F';
            const auto tellings =
                1 + std::count(row.endedTwice.begin(), row.endedTwice.end(), unit);
            for (std::ptrdiff_t told = 0; told < tellings; ++told)
                rollout.Ended(unit, how, kRunMs, {now, int64_t(now)});
        } else {
            now = std::max(now, pick.untilMs);
        }
    }
    std::string results;
    for (size_t i = 0; i < row.units; ++i)
        results += (i ? " " : "") + std::string(1, result[i]) + std::to_string(rollout.Attempts(i));
    EXPECT_EQ(results, row.results);
    EXPECT_EQ(why.substr(0, row.why.size()), row.why);
    for (size_t i = 0; i < delays.size(); ++i)
        EXPECT_EQ(delays[i], cli::RetryDelayMs(30, unsigned(i + 1))) << i;
    if (!row.header.empty()) {
        EXPECT_EQ(rollout.HeaderText(), row.header);
    }
    if (!row.notice.empty()) {
        EXPECT_EQ(rollout.StopNotice(), row.notice);
    }
}

const RunEnd F = RunEnd::Failed, U = RunEnd::Unanswered, C = RunEnd::Complete, K = RunEnd::Current,
             S = RunEnd::NotSent;

// clang-format off
INSTANTIATE_TEST_SUITE_P(Rows, RolloutTest, ::testing::Values(
    RolloutRow{"FailingFirstWaveStopsTheRest", 6, 4, "1,50%,100%", 0, 0, 0, {{0, {F}}},
               "F1 N0 N0 N0 N0 N0",
               "wave 2 of 3 not started: 1 of 1 unit(s) sent the set failed, budget 0 %."},
    RolloutRow{"CurrentCanaryLeavesItsPlaceToTheNextUnit", 4, 1, "1,100%", 0, 0, 0,
               {{0, {K}}, {1, {F}}, {2, {F}}, {3, {F}}}, "K1 F1 N0 N0",
               "wave 2 of 2 not started: 1 of 1 unit(s) sent the set failed"},
    // A unit not sent the set gives its place, as a current one does, and is not weighed.
    RolloutRow{"UnansweredCanaryLeavesItsPlaceToTheNextUnit", 4, 1, "1,100%", 0, 0, 0,
               {{0, {U}}}, "F1 C1 C1 C1", ""},
    RolloutRow{"BudgetWeighsOnlyTheUnitsSentTheSet", 6, 1, "2,100%", 50, 0, 0,
               {{0, {K}}, {1, {U}}, {2, {S}}, {3, {F}}, {4, {C}}}, "K1 F1 F1 F1 C1 C1", ""},
    RolloutRow{"BudgetNoticeNamesTheUnitsSentTheSet", 6, 2, "2,100%", 49, 0, 1,
               {{0, {K}}, {1, {U, U}}, {2, {S}}, {3, {F}}, {4, {C}}}, "K1 F2 F1 F1 C1 N0",
               "wave 2 of 2 not started: 1 of 2 unit(s) sent the set failed, budget 49 %.", 0, "",
               {}, "2026-12-09T06:00+01:00",
               "wave 2 of 2 not started: 1 of 2 unit(s) sent the set failed, budget 49 % "
               "(sent the set: unit 4, unit 5; failed: unit 4)"},
    RolloutRow{"HalfBudgetLetsAWaveWithOneFailureOfFourGoOn", 8, 8, "4,100%", 50, 0, 0,
               {{1, {F}}}, "C1 F1 C1 C1 C1 C1 C1 C1", ""},
    RolloutRow{"NoBudgetStopsAfterOneFailureOfFour", 8, 8, "4,100%", 0, 0, 0, {{1, {F}}},
               "C1 F1 C1 C1 N0 N0 N0 N0", "wave 2 of 2 not started: 1 of 4 unit(s) sent"},
    RolloutRow{"StopAfterFailuresCountsAcrossWaves", 6, 1, "2,100%", 100, 2, 0,
               {{1, {F}}, {2, {F}}}, "C1 F1 F1 N0 N0 N0", "Not started: 2 unit(s) had failed"},
    RolloutRow{"UnansweredUnitIsTriedAgainUntilItAnswers", 2, 2, "", 0, 0, 2, {{0, {U, U, C}}},
               "C3 C1", ""},
    RolloutRow{"UnansweredTooOftenStaysFailed", 2, 1, "", 0, 0, 1, {{0, {U, U}}}, "F2 C1", ""},
    RolloutRow{"FailedMidUpdateIsNeverTriedAgain", 1, 1, "", 0, 0, 3, {{0, {F}}}, "F1", ""},
    RolloutRow{"NextWaveWaitsForAFurtherAttempt", 3, 3, "1,100%", 0, 0, 1, {{0, {U, F}}},
               "F2 N0 N0", "wave 2 of 2 not started: 1 of 1"},
    RolloutRow{"WindowTooShortForAnyUnitStartsNone", 2, 2, "", 0, 0, 0, {}, "N0 N0",
               "Not started: would end after 06:00 (1:00 per unit).", 59000,
               "until 06:00, 1:00 per unit (estimated from the set)"},
    RolloutRow{"ClosedWindowStartsNoneAndSaysHowToMeanTheNextDay", 2, 2, "", 0, 0, 0, {},
               "N0 N0",
               "Not started: the window closed at 06:00; for the next day's, give the date: "
               "--finish-by 2026-12-09T06:00+01:00.",
               -1000},
    RolloutRow{"ClosedWindowWithoutALaterDaySaysToGiveAnOffset", 1, 1, "", 0, 0, 0, {}, "N0",
               "Not started: the window closed at 06:00; for a later one, give a date and time "
               "ahead with its offset",
               -1000, "", {}, ""},
    RolloutRow{"MeasuredRunsLetMoreUnitsIntoTheWindow", 12, 1, "1,100%", 0, 0, 0, {},
               "C1 C1 C1 C1 C1 C1 C1 C1 C1 C1 N0 N0", "Not started: would end after 06:00 (0:10",
               100000, "wave 2/2 | until 06:00, 0:10 per unit (the longest so far)"},
    // The second end is dropped: counted again it would stop the rest and keep a run open.
    RolloutRow{"SecondEndOfAUnitChangesNothing", 4, 1, "", 0, 2, 0, {{0, {F}}}, "F1 C1 C1 C1",
               "", 0, "", {0}}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

TEST(RetryDelayTest, DoublesUpToFiveMinutes) {
    EXPECT_EQ(cli::RetryDelayMs(30, 1), 30000u);
    EXPECT_EQ(cli::RetryDelayMs(30, 2), 60000u);
    EXPECT_EQ(cli::RetryDelayMs(30, 4), 240000u);
    EXPECT_EQ(cli::RetryDelayMs(30, 5), 300000u);
    EXPECT_EQ(cli::RetryDelayMs(300, 20), 300000u);
}

struct WavesRow {
    const char* name;
    std::string list;
    size_t units;
    std::vector<size_t> ends; // empty: refused
};

void PrintTo(const WavesRow& row, std::ostream* out) {
    *out << row.name;
}

class WavesTest : public ::testing::TestWithParam<WavesRow> {};

TEST_P(WavesTest, CumulativeSizesOrRefusal) {
    const cli::WavePlan plan = cli::PlanWaves(GetParam().list, GetParam().units);
    EXPECT_EQ(plan.ends, GetParam().ends);
    EXPECT_EQ(plan.error.empty(), !GetParam().ends.empty()) << plan.error;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, WavesTest,
    ::testing::Values(
        WavesRow{"CanaryTenPercentAll", "1,10%,100%", 64, {1, 7, 64}},
        WavesRow{"SharesThatAddNoUnitAreDropped", "1,10%,100%", 4, {1, 4}},
        WavesRow{"RestMakeALastWave", "2", 5, {2, 5}}, WavesRow{"NoListOneWave", "", 5, {5}},
        WavesRow{"SizesPastTheUnitsAreCut", "3,50", 5, {3, 5}},
        WavesRow{"ShareRoundedBelowAnEarlierCountIsRaised", "5,25%,100%", 10, {5, 10}},
        WavesRow{"ZeroRefused", "0,100%", 20, {}}, WavesRow{"ShareAboveAllRefused", "101%", 20, {}},
        WavesRow{"EmptyItemRefused", "1,,100%", 20, {}}, WavesRow{"SignRefused", "-1", 20, {}}),
    [](const auto& info) { return std::string(info.param.name); });

struct FinishRow {
    const char* name;
    std::string text;
    int64_t epoch;                   // -1: refused
    std::string iso = {};            // as the report gives it, when given
    int64_t now = 1798088400 - 3600; // 2026-12-24T04:00Z, 05:00 in Central Europe
    const char* zone = "Europe/Berlin";
    const char* later = nullptr; // the closed window's hint ("": none), when given
    std::string why = {};        // in the reason of a refusal, when given
};

void PrintTo(const FinishRow& row, std::ostream* out) {
    *out << row.name;
}

class FinishTimeTest : public ::testing::TestWithParam<FinishRow> {};

TEST_P(FinishTimeTest, ParsedOrRefused) {
    const FinishRow& row = GetParam();
    const ScopedTimeZone zone(row.zone);
    const cli::FinishTime time = cli::ParseFinishTime(row.text, row.now);
    EXPECT_EQ(time.error.empty(), row.epoch >= 0) << time.error;
    EXPECT_NE(time.error.find(row.why), std::string::npos) << time.error;
    if (row.epoch >= 0) {
        EXPECT_EQ(time.epochSeconds, row.epoch);
    }
    if (!row.iso.empty()) {
        EXPECT_EQ(time.iso, row.iso);
    }
    if (row.later) {
        EXPECT_EQ(time.later, row.later);
        if (*row.later) { // the hint, followed, names a moment ahead
            const cli::FinishTime followed = cli::ParseFinishTime(row.later, row.now);
            EXPECT_GT(followed.epochSeconds, row.now) << followed.error;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, FinishTimeTest,
    ::testing::Values(FinishRow{"ClockTimeComing", "06:00", 1798088400,
                                "2026-12-24T06:00:00+01:00"},
                      FinishRow{"ClockTimeJustPassedIsToday", "04:59", 1798084740},
                      FinishRow{"TwelveHoursEitherWayIsTheComingOne", "17:00", 1798128000},
                      FinishRow{"OverTwelveHoursAheadIsYesterday", "17:01", 1798041660},
                      // 03:30 summer time, just after the clocks went forward: yesterday's 15:20
                      // (winter time) is 11 h 10 min back, today's 11 h 50 min ahead.
                      FinishRow{"NearestInRealTimeOverAChangeOfTheClocks", "15:20", 1774707600,
                                "2026-03-28T15:20:00+01:00", 1774747800},
                      FinishRow{"UtcWithSeconds", "2026-12-24T05:00:30Z", 1798088430},
                      FinishRow{"Offset", "2026-12-24T06:00+01:00", 1798088400},
                      FinishRow{"NegativeOffset", "2026-12-24T00:00-05:00", 1798088400},
                      FinishRow{"HourPastTheDay", "24:00", -1},
                      FinishRow{"OneDigitHour", "6:00", -1},
                      FinishRow{"DayPastTheMonth", "2026-02-29T05:00Z", -1},
                      FinishRow{"ShortOffset", "2026-12-24T05:00+1", -1},
                      FinishRow{"TimeMissing", "2026-12-24", -1}),
    [](const auto& info) { return std::string(info.param.name); });

// Each zone's two changes of the clocks in 2026, a minute before and after: a clock time in or
// near the hour the clocks repeat or skip is the occurrence nearest in real time. First, 02:29
// summer time on the night the clocks go back: the 02:30 a minute ahead, not the winter one.
INSTANTIATE_TEST_SUITE_P(
    ChangesOfTheClocks, FinishTimeTest,
    ::testing::Values(
        FinishRow{"BerlinAutumnRepeatedHourTheComingReading", "02:30", 1792888200,
                  "2026-10-25T02:30:00+02:00", 1792888140},
        FinishRow{"BerlinAutumnMinuteBeforeSummerReadingJustPassed", "02:30", 1792888200, "",
                  1792889940, "Europe/Berlin", "2026-10-26T02:30+01:00"},
        FinishRow{"BerlinAutumnMinuteAfterWinterReadingAhead", "02:30", 1792891800,
                  "2026-10-25T02:30:00+01:00", 1792890060},
        FinishRow{"BerlinRepeatedHourWithoutOffsetRefused", "2026-10-25T02:30", -1, "", 1792888140,
                  "Europe/Berlin", nullptr, "2026-10-25T02:30+02:00 or 2026-10-25T02:30+01:00"},
        FinishRow{"BerlinRepeatedHourWithOffset", "2026-10-25T02:30+01:00", 1792891800},
        // The day before: its 02:30 has passed; the next day's comes twice, and
        // the hint names the first of them.
        FinishRow{"BerlinHintBeforeTheRepeatedHourNamesOne", "02:30", 1792801800, "", 1792803600,
                  "Europe/Berlin", "2026-10-25T02:30+02:00"},
        FinishRow{"BerlinSpringMinuteBeforeSkippedTimeIsYesterdays", "02:30", 1774661400,
                  "2026-03-28T02:30:00+01:00", 1774745940},
        FinishRow{"BerlinSpringMinuteAfterSkippedTimeIsTomorrows", "02:30", 1774830600,
                  "2026-03-30T02:30:00+02:00", 1774746060},
        FinishRow{"BerlinSkippedHourRefused", "2026-03-29T02:30", -1, "", 1774745940,
                  "Europe/Berlin", nullptr, "2026-03-29T02:30+01:00 or 2026-03-29T02:30+02:00"},
        // 01:30 on the night the clocks go forward: today has no 02:30, the hint
        // names the first later day that has one.
        FinishRow{"NewYorkSpringHintNamesADayThatHasTheTime", "02:30", 1772868600, "", 1772951400,
                  "America/New_York", "2026-03-09T02:30-04:00"},
        FinishRow{"NewYorkSpringMinuteBefore", "03:00", 1772953200, "2026-03-08T03:00:00-04:00",
                  1772953140, "America/New_York"},
        FinishRow{"NewYorkSpringMinuteAfter", "01:59", 1772953140, "", 1772953260,
                  "America/New_York", "2026-03-09T01:59-04:00"},
        FinishRow{"NewYorkAutumnMinuteBefore", "01:30", 1793511000, "2026-11-01T01:30:00-04:00",
                  1793512740, "America/New_York"},
        FinishRow{"NewYorkAutumnMinuteAfter", "01:30", 1793514600, "2026-11-01T01:30:00-05:00",
                  1793512860, "America/New_York"},
        FinishRow{"NewYorkRepeatedHourRefused", "2026-11-01T01:30", -1, "", 1793512800,
                  "America/New_York", nullptr, "2026-11-01T01:30-04:00 or 2026-11-01T01:30-05:00"},
        // A date given that passed a week ago: its next day has passed too.
        FinishRow{"NewYorkDatePassedLongAgoNoHint", "2026-12-01T06:00", 1796122800, "", 1796727600,
                  "America/New_York", ""},
        FinishRow{"NewYorkDateJustPassedHintsTheNextDay", "2026-12-01T06:00", 1796122800, "",
                  1796130000, "America/New_York", "2026-12-02T06:00-05:00"},
        // Lord Howe Island: the clocks move by 30 minutes.
        FinishRow{"LordHoweAutumnMinuteBefore", "01:45", 1775313900, "2026-04-05T01:45:00+11:00",
                  1775314740, "Australia/Lord_Howe"},
        FinishRow{"LordHoweAutumnMinuteAfter", "01:45", 1775315700, "2026-04-05T01:45:00+10:30",
                  1775314860, "Australia/Lord_Howe"},
        FinishRow{"LordHoweRepeatedHalfHourRefused", "2026-04-05T01:45", -1, "", 1775314740,
                  "Australia/Lord_Howe", nullptr,
                  "2026-04-05T01:45+11:00 or 2026-04-05T01:45+10:30"},
        FinishRow{"LordHoweSpringMinuteBefore", "02:15", 1790955900, "2026-10-03T02:15:00+10:30",
                  1791041340, "Australia/Lord_Howe"},
        FinishRow{"LordHoweSpringMinuteAfter", "02:15", 1791126900, "2026-10-05T02:15:00+11:00",
                  1791041460, "Australia/Lord_Howe"},
        FinishRow{"LordHoweSkippedHalfHourRefused", "2026-10-04T02:15", -1, "", 1791041340,
                  "Australia/Lord_Howe", nullptr,
                  "2026-10-04T02:15+10:30 or 2026-10-04T02:15+11:00"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SetEstimateTest, AddsTheBoundsOfTheSetsSteps) {
    // 21 s, two passes of 82 s, three steps of 5 s, 3 s of default setting, 2 MiB at 1 MiB/s.
    EXPECT_EQ(cli::EstimateMs({2, 2 * 1024 * 1024, 3, true}), 205000u);
    EXPECT_EQ(cli::EstimateMs({0, 1, 1, false}), 26001u);
}

} // namespace
