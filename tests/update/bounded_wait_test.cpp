// Every bounded wait of a run, seen from both sides at scaled time: the unit answers a little
// inside the bound and the run goes on, or a little outside and the run gives up with its
// message (for the quiet periods the other way round: an answer inside one is heard and fails
// the step, one after it is not heard). Each pair pins its bound between the two shares, so a
// bound made ten times shorter or longer fails one of the rows.
//
// clang-format off
// | bound (protocol)        | scale | inside (share, real ms)        | outside (share, real ms)       |
// |-------------------------|-------|--------------------------------|--------------------------------|
// | connection attempt 20 s | 0.2   | held 2500, taken at the retry  | held 5000, next retry at 6000; |
// |                         |       | after 3000 (bound 4000)        | gives up at 4000               |
// | ordinary reply 60 s     | 0.05  | 0.75: 2250 of 3000             | 1.25: 3750                     |
// | data connection 60 s    | 0.05  | 0.75: 2250 of 3000             | 1.25: 3750                     |
// | data send stall 60 s    | 0.05  | 0.75: 2250 of 3000             | 1.25: 3750                     |
// | restart wait 60 s       | 0.05  | 0.75: 2250 of 3000             | 1.25: 3750                     |
// | quiet periods 2 s       | 0.25  | 0.4: 200 of 500                | drain at 0.5: 1.5: 1500 of 1000; |
// |                         |       |                                | 2.0: 1000                        |
// | writing reply 10 min    | 0.01  | reply_deadline_test: 0.85      | reply_deadline_test: 1.2       |
// clang-format on
//
// Why these margins: every gap between an answer and its bound is at least 200 ms of real time
// (500 ms for the connection attempt, 750 ms for the minute-long waits), more than a thread of a
// loaded two-core machine waits for the processor, while each run stays a few seconds long. The
// scale is the row's own: 0.05 keeps the minute-long waits at 3 s; the quiet periods need 0.25
// to keep 300 ms between a late answer and their end; the connection attempt needs 0.2 because
// the system's retries of an unanswered SYN (Linux: 1, 2, 3, 4, 6 s after the first) are not
// scaled: at 0.05 the bound (1 s) ends at the first retry, and no late answer could be seen.

#include "tests/support/run_test_support.h"

namespace {

using sim::Fault;

struct Ending {
    RunEnd end;
    std::string box; // the one box's text; after a failure also the log's last entry
    unsigned icon;
    std::string caption;
};

const Ending kComplete = {RunEnd::Complete, "Update Complete.", platform::kMbIconInformation, ""};
const Ending kReplyTimedOut = {RunEnd::ProgramEnded, "Error : Connection timed out.",
                               platform::kMbIconError, "recv() Error"};

struct WaitRow {
    const char* name;
    int host;         // the unit's address 127.0.13.<host>
    uint32_t boundMs; // protocol time
    double scale;
    double share; // when the unit answers, as a share of the bound
    bool cpuSet;  // a KQ-A2 set of a CPU program alone; otherwise a KQ-B2 set of three files
    void (*script)(sim::UnitConfig& unit, uint32_t lateMs);
    Ending ending;
    bool givesUpFirst;      // the tool gives up before the unit answers
    const char* saw;        // a line the unit saw (its beginning); "": it saw none at all
    const char* never = ""; // a line the unit must not have seen (its beginning)
};

void PrintTo(const WaitRow& row, std::ostream* out) {
    *out << row.name;
}

Fault Scripted(Fault::Trigger trigger, Fault::Action action, uint32_t delayMs,
               const std::string& match = "", const std::string& text = "") {
    Fault fault = FaultOf(trigger, match, action, text);
    fault.delayMs = delayMs;
    return fault;
}

void LateConnection(sim::UnitConfig& unit, uint32_t ms) {
    unit.faults = {Scripted(Fault::Trigger::FtpConnect, Fault::Action::Late, ms)};
}
void LateUserReply(sim::UnitConfig& unit, uint32_t ms) {
    unit.faults = {Scripted(Fault::Trigger::Command, Fault::Action::Delay, ms, "USER")};
}
void LateDataConnection(sim::UnitConfig& unit, uint32_t ms) {
    unit.faults = {Scripted(Fault::Trigger::DataConnect, Fault::Action::Delay, ms)};
}
void LogoReadLate(sim::UnitConfig& unit, uint32_t ms) {
    unit.faults = {Scripted(Fault::Trigger::DataConnect, Fault::Action::Stall, ms)};
    unit.faults[0].occurrence = 3; // the logo, larger than what a connection buffers
}
void LateRestart(sim::UnitConfig& unit, uint32_t ms) {
    unit.restartRefuseMs = ms;
}
void LateUSoftRefusal(sim::UnitConfig& unit, uint32_t ms) {
    unit.faults = {
        Scripted(Fault::Trigger::TelnetUSoft, Fault::Action::Reply, 0, "", "550 Bad image.")};
    unit.faults[0].afterMs = ms;
}
void LateTelnetRefusal(sim::UnitConfig& unit, uint32_t ms) {
    unit.telnetOptionAnswers = false; // the refusal alone, in one piece
    unit.faults = {
        Scripted(Fault::Trigger::TelnetConnect, Fault::Action::Reply, 0, "", "421 Telnet busy.")};
    unit.faults[0].afterMs = ms;
}

constexpr uint32_t kMinute = 60 * 1000;
constexpr uint32_t kQuiet = 2000;

// clang-format off
const WaitRow kRows[] = {
    {"ConnectionAttemptAnsweredJustInside", 1, 20000, 0.2, 0.625, false, LateConnection,
     kComplete, false, "QUIT"},
    {"ConnectionAttemptAnsweredJustOutside", 2, 20000, 0.2, 1.25, false, LateConnection,
     {RunEnd::DialogStaysOpen, "Error : Connection timed out.", platform::kMbIconError,
      "connect() Error"}, true, ""},
    {"OrdinaryReplyJustInside", 3, kMinute, 0.05, 0.75, false, LateUserReply,
     kComplete, false, "QUIT"},
    {"OrdinaryReplyJustOutside", 4, kMinute, 0.05, 1.25, false, LateUserReply,
     kReplyTimedOut, true, "USER"},
    {"DataConnectionJustInside", 5, kMinute, 0.05, 0.75, false, LateDataConnection,
     kComplete, false, "QUIT"},
    {"DataConnectionJustOutside", 6, kMinute, 0.05, 1.25, false, LateDataConnection,
     {RunEnd::ProgramEnded, "Error : Connection timed out.", platform::kMbIconError,
      "accept() Error"}, true, "STOR"},
    {"DataSendStalledJustInside", 7, kMinute, 0.05, 0.75, false, LogoReadLate,
     kComplete, false, "QUIT"},
    {"DataSendStalledJustOutside", 8, kMinute, 0.05, 1.25, false, LogoReadLate,
     {RunEnd::ProgramEnded, "Error : Connection timed out.", platform::kMbIconError,
      "send() Error"}, true, "STOR"},
    {"RestartWaitJustInside", 9, kMinute, 0.05, 0.75, true, LateRestart,
     kComplete, false, "QUIT"},
    {"RestartWaitJustOutside", 10, kMinute, 0.05, 1.25, true, LateRestart,
     {RunEnd::DialogStaysOpen, "Error : Connection refused.", platform::kMbIconError,
      "connect() Error"}, true, "restart"},
    // Quiet periods: an answer inside one is heard, one after it is not.
    {"QuietAfterUSoftMissesARefusalJustOutside", 11, kQuiet, 0.25, 2.0, true, LateUSoftRefusal,
     kComplete, false, "QUIT"},
    {"QuietAfterUSoftHearsARefusalJustInside", 12, kQuiet, 0.25, 0.4, true, LateUSoftRefusal,
     {RunEnd::ProgramEnded, "550 Bad image.\r\n", platform::kMbIconWarning, "PC <- Device"},
     false, "telnet: u_soft"},
    // After the option offer the unit's refusal is heard before the CPU program goes out.
    {"QuietAfterOptionOfferHearsARefusalJustInside", 14, kQuiet, 0.25, 0.4, true,
     LateTelnetRefusal,
     {RunEnd::ProgramEnded, "421 Telnet busy.\r\n", platform::kMbIconWarning, "PC <- Device"},
     false, "CWD", "STOR"},
    // The refusal comes after the drain's quiet period: it is taken as the answer to "u_soft".
    // It must land between the drain's end and the end of the quiet period after "u_soft", a
    // window one quiet period wide: at 0.25 that left 300 ms on either side, which a starved
    // thread missed under ctest -j4 beside stress-ng; at 0.5 it lands 500 ms from either end.
    {"QuietAfterOptionOfferMissesARefusalJustOutside", 13, kQuiet, 0.5, 1.5, true,
     LateTelnetRefusal,
     {RunEnd::ProgramEnded, "421 Telnet busy.\r\n", platform::kMbIconWarning, "PC <- Device"},
     false, "telnet: u_soft"},
};
// clang-format on

class BoundedWaitTest : public RunTest, public ::testing::WithParamInterface<WaitRow> {};

TEST_P(BoundedWaitTest, RunGoesOnOrGivesUpAtTheBound) {
    const WaitRow& row = GetParam();
    platform::SetTimeScale(row.scale);
    const uint32_t boundMs = platform::ScaledMs(row.boundMs);
    const auto lateMs = static_cast<uint32_t>(row.share * boundMs);

    if (row.cpuSet) {
        WriteBytes("kq12.cpu", PatternBytes(3000, 1));
    } else {
        WriteTextFile("KQVorlink.prm", "KQ-B2 Update\nU\nD\n");
        WriteBytes("oem_a.htm", PatternBytes(900, 1));
        WriteBytes("oem_b.htm", PatternBytes(1200, 2));
        const bool stalls = row.script == LogoReadLate;
        WriteBytes("LOGO.bmp", PatternBytes(stalls ? 8u << 20 : 3126, 3));
    }
    sim::UnitConfig config;
    config.model = row.cpuSet ? "KQ-A2" : "KQ-B2";
    config.versionText = config.model + ".01.02.45";
    config.restartRefuseMs = 100;
    row.script(config, lateMs);
    m_subnet = 13;
    sim::Unit& unit = StartUnit(row.host, config);
    Open();

    const uint64_t start = platform::NowMs();
    const RunEnd end = RunAgainst(row.host);
    const uint64_t elapsed = platform::NowMs() - start;

    EXPECT_EQ(end, row.ending.end) << BoxTexts();
    const auto boxes = Boxes();
    ASSERT_EQ(boxes.size(), 1u) << BoxTexts();
    EXPECT_EQ(boxes[0].text, row.ending.box);
    EXPECT_EQ(boxes[0].style, row.ending.icon);
    if (row.ending.end != RunEnd::Complete) {
        const auto entries = ReadLogEntries();
        ASSERT_FALSE(entries.empty()) << "the log stays after a failure";
        EXPECT_EQ(entries.back(), Entry(row.ending.caption, row.ending.box));
    }
    if (row.givesUpFirst) {
        EXPECT_GE(elapsed, boundMs) << "gave up before the bound";
        EXPECT_LT(elapsed, lateMs) << "the failure came only when the unit answered";
    } else {
        EXPECT_GE(elapsed, lateMs) << "the unit's answer was waited for";
    }
    unit.Stop(); // whatever it still had to say has been said or dropped
    const std::vector<std::string> lines = unit.Commands();
    if (*row.saw == '\0') {
        EXPECT_EQ(lines.size(), 0u) << "the unit saw nothing";
    } else {
        EXPECT_TRUE(
            std::any_of(lines.begin(), lines.end(),
                        [&](const std::string& line) { return line.rfind(row.saw, 0) == 0; }))
            << "the unit never saw " << row.saw;
    }
    for (const std::string& line : lines) {
        if (*row.never != '\0') {
            EXPECT_NE(line.rfind(row.never, 0), 0u) << "the unit saw " << line;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(EveryBound, BoundedWaitTest, ::testing::ValuesIn(kRows),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
