// The fleet's live view on terminals of every size: which units get a line, what the closing line
// says, how lines are cut to the width, and the estimate of the time left; what every view says
// of a unit (its columns, its step) and the summary's order.

#include "app/res/resource.h"
#include "cli/fleet_screen.h"

#include <gtest/gtest.h>
#include <tuple>

namespace {

using cli::UnitResult;

const auto kRowName = [](const auto& info) { return std::string(info.param.name); };

// A fleet written as one letter per unit: F failed, R running, C complete, K current, N not
// started, W waiting.
std::vector<UnitResult> Fleet(const std::string& letters) {
    std::vector<UnitResult> fleet;
    for (const char c : letters)
        fleet.push_back(c == 'F'   ? UnitResult::Failed
                        : c == 'R' ? UnitResult::Running
                        : c == 'C' ? UnitResult::Complete
                        : c == 'K' ? UnitResult::Current
                        : c == 'N' ? UnitResult::NotStarted
                                   : UnitResult::Waiting);
    return fleet;
}

struct ChoiceRow {
    const char* name;
    friend void PrintTo(const ChoiceRow& row, std::ostream* out) { *out << row.name; }
    int rows; // the terminal's, the header's included
    std::string fleet;
    std::vector<size_t> shown;
    std::string closing;
};

class FleetScreenChoiceTest : public ::testing::TestWithParam<ChoiceRow> {};

TEST_P(FleetScreenChoiceTest, ShowsWhatFitsAndCountsTheRest) {
    const ChoiceRow& row = GetParam();
    const cli::UnitChoice choice = cli::ChooseUnits(Fleet(row.fleet), row.rows);
    EXPECT_EQ(choice.shown, row.shown);
    EXPECT_EQ(cli::ClosingLine(choice), row.closing);
    const size_t closingRows = row.closing.empty() ? 0 : 1;
    EXPECT_LE(1 + choice.shown.size() + closingRows, size_t(std::max(row.rows, 2)));
}

INSTANTIATE_TEST_SUITE_P(
    Rows, FleetScreenChoiceTest,
    ::testing::Values(
        ChoiceRow{"all_fit_complete_and_waiting_left_out", 24, "CRWFRC", {3, 1, 4}, ""},
        ChoiceRow{"exactly_as_many_as_rows", 5, "RFRR", {1, 0, 2, 3}, ""},
        ChoiceRow{"one_too_many_takes_a_row_for_the_rest",
                  5,
                  "RFRRR",
                  {1, 0, 2},
                  "... and 2 more running"},
        ChoiceRow{"failures_fill_rows_running_ones_leave",
                  6,
                  "FFFFFFR",
                  {0, 1, 2, 6},
                  "... and 3 more failed"},
        ChoiceRow{"failures_keep_half_of_the_rows",
                  6,
                  "FFFFFRRRRR",
                  {0, 1, 5, 6},
                  "... and 3 more failed, 3 more running"},
        ChoiceRow{"two_rows_header_and_closing_line", 2, "RRR", {}, "... and 3 more running"}),
    kRowName);

struct WidthRow {
    const char* name;
    friend void PrintTo(const WidthRow& row, std::ostream* out) { *out << row.name; }
    int columns;
    std::string line;
    std::string shown;
};

class FleetScreenWidthTest : public ::testing::TestWithParam<WidthRow> {};

TEST_P(FleetScreenWidthTest, EndsBeforeTheLastColumn) {
    EXPECT_EQ(cli::FitToWidth(GetParam().line, GetParam().columns), GetParam().shown);
}

INSTANTIATE_TEST_SUITE_P(Rows, FleetScreenWidthTest,
                         ::testing::Values(WidthRow{"as_wide_as_window_cut", 8, "12345678",
                                                    "1234567"},
                                           WidthRow{"one_short_kept", 8, "1234567", "1234567"}),
                         kRowName);

struct TimeLeftRow {
    const char* name;
    friend void PrintTo(const TimeLeftRow& row, std::ostream* out) { *out << row.name; }
    std::vector<uint64_t> completeMs, runningForMs;
    size_t waiting;
    std::optional<uint64_t> leftMs;
};

class FleetScreenTimeLeftTest : public ::testing::TestWithParam<TimeLeftRow> {};

TEST_P(FleetScreenTimeLeftTest, EstimatesFromCompleteUnits) {
    const TimeLeftRow& row = GetParam();
    EXPECT_EQ(cli::TimeLeftMs(row.completeMs, row.runningForMs, row.waiting), row.leftMs);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, FleetScreenTimeLeftTest,
    ::testing::Values(TimeLeftRow{"none_complete_yet", {}, {5000}, 3, std::nullopt},
                      TimeLeftRow{
                          "longest_running_unit_decides", {60000, 80000}, {10000, 50000}, 0, 60000},
                      TimeLeftRow{"waiting_units_in_rounds", {70000}, {0, 0}, 3, 210000}),
    kRowName);

} // namespace

namespace {

struct HeaderRow {
    const char* name;
    cli::FleetCounts counts;
    const char* line;
    friend void PrintTo(const HeaderRow& row, std::ostream* out) { *out << row.name; }
};

class FleetScreenHeaderTest : public ::testing::TestWithParam<HeaderRow> {};

// Counts that only some runs have (units left as they were, units not started) appear once there
// is one, so an operator sees every unit accounted for.
TEST_P(FleetScreenHeaderTest, CountsEveryUnit) {
    EXPECT_EQ(cli::HeaderLine(GetParam().counts, 65000, std::nullopt), GetParam().line);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, FleetScreenHeaderTest,
    ::testing::Values(
        HeaderRow{"ordinary_run",
                  {{UnitResult::Complete, 2}, {UnitResult::Running, 3}},
                  "2 complete, 0 failed, 3 running, 0 waiting | 1:05 elapsed"},
        HeaderRow{"current_and_not_started_units",
                  {{UnitResult::Current, 4}, {UnitResult::Failed, 1}, {UnitResult::NotStarted, 5}},
                  "0 complete, 4 current, 1 failed, 0 running, 0 waiting, 5 not started | 1:05 "
                  "elapsed"}),
    kRowName);

} // namespace

namespace {

// The last screen of a long run shows what went wrong.
TEST(FleetScreenSummary, EndsWithTheUnitsThatDidNotComplete) {
    EXPECT_EQ(cli::SummaryOrder(Fleet("FCNKFC")), (std::vector<size_t>{1, 3, 5, 0, 4, 2}));
}

TEST(FleetScreenColumns, AddressAndTheUnitsOwnModelEscapedAndApart) {
    EXPECT_EQ(cli::UnitColumns("127.0.0.5", "KQ-B2"), "127.0.0.5       KQ-B2  ");
    EXPECT_EQ(cli::UnitColumns("255.255.255.255", ""), "255.255.255.255 ?      ");
    EXPECT_EQ(cli::UnitColumns("127.0.0.5", "KQ\x1b["), "127.0.0.5       KQ\\x1b[ ");
}

// A call of a unit's run on its window: 'b' a step's label bold, 'n' normal again (the step has
// ended), 't' a status text.
struct Call {
    char what;
    int label;
    const char* text;
};

struct StepRow {
    const char* name;
    friend void PrintTo(const StepRow& row, std::ostream* out) { *out << row.name; }
    std::vector<Call> calls;
    cli::StepShown shown;
};

class FleetScreenStepTest : public ::testing::TestWithParam<StepRow> {};

// The step column is never blank and never shows an earlier step's status.
TEST_P(FleetScreenStepTest, NamesTheStepWithItsState) {
    platform::CFont bold, normal;
    bold.Create(8, 700, "MS Sans Serif");
    normal.Create(8, 400, "MS Sans Serif");
    cli::UnitWindow window;
    for (const Call& call : GetParam().calls) {
        if (call.what == 't')
            window.SetItemText(IDC_STATUS, call.text);
        else
            window.SetItemFont(call.label, call.what == 'b' ? bold : normal);
    }
    const cli::StepShown got = cli::StepOf(window.State()), &want = GetParam().shown;
    EXPECT_EQ(std::tie(got.name, got.state, got.done), std::tie(want.name, want.state, want.done));
}

std::vector<Call> CpuWrittenThen(std::vector<Call> more) {
    more.insert(more.begin(), {{'b', IDC_STEP1, ""}, {'t', 0, "writing..."}, {'n', IDC_STEP1, ""}});
    return more;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, FleetScreenStepTest,
    ::testing::Values(StepRow{"not_begun", {}, {"Connection", "starting"}},
                      StepRow{"connecting_before_any_step",
                              {{'t', 0, "connecting..."}},
                              {"Connection", "connecting"}},
                      StepRow{"step_in_progress",
                              CpuWrittenThen({{'b', IDC_STEP9, ""}, {'t', 0, "downloading..."}}),
                              {"Gamma Data", "downloading"}},
                      StepRow{"step_begun_without_the_status_before_it",
                              CpuWrittenThen({{'t', 0, "connecting..."}, {'b', IDC_STEP9, ""}}),
                              {"Gamma Data", "started"}},
                      StepRow{"between_steps_the_last_one_done",
                              CpuWrittenThen({}),
                              {"CPU Program", "done", true}},
                      StepRow{"connecting_again_after_the_cpu_program",
                              CpuWrittenThen({{'t', 0, "connecting..."}}),
                              {"CPU Program", "done; connecting", true}}),
    kRowName);

} // namespace
