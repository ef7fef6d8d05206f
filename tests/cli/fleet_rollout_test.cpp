// Roll-out control against simulated units on 127.0.24.N, in real time: further attempts for a
// unit that did not answer (and none for one that failed), an interrupt that ends the pause
// before one, and a window too short for any unit or closed already.

#include "tests/cli/fleet_fixture.h"
#include "tests/support/scoped_time_zone.h"

#include <ctime>

namespace {

// 127.0.24.n, this test's own also while no unit runs there.
std::string Unit(int n) {
    const std::string address = "127.0.24." + std::to_string(n);
    std::string reason;
    EXPECT_TRUE(testsupport::ClaimUnitAddress(address, &reason)) << reason;
    return address;
}

// The report's unit `index` once `ready` holds for it (bounded), or null.
nlohmann::json ReportedUnit(size_t index, const std::function<bool(const nlohmann::json&)>& ready) {
    for (int i = 0; i < 400; ++i) {
        const auto report = nlohmann::json::parse(ReadTextFile("report.json"), nullptr, false);
        if (!report.is_discarded() && report.contains("units") && report["units"].size() > index &&
            ready(report["units"][index]))
            return report["units"][index];
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return nullptr;
}

bool WaitingAfterOneAttempt(const nlohmann::json& unit) {
    return unit["result"] == "waiting" && unit["attempts"] == 1;
}

// The exit status of the program, or -1 when it had not ended within the bound (then killed).
int ExitWithin(pid_t pid, std::chrono::milliseconds bound) {
    const auto end = std::chrono::steady_clock::now() + bound;
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > end) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return WEXITSTATUS(status);
}

TEST_F(FleetTest, UnitThatListensOnlyAfterItsFirstAttemptIsUpdatedOnTheNextOne) {
    std::filesystem::remove("kq12.cpu"); // real time: no restart wait
    sim::UnitConfig refusing;
    refusing.faults.push_back(FaultOf(sim::Fault::Trigger::Command, "EXCM k_Sd",
                                      sim::Fault::Action::Reply, "550 Shading data refused."));
    sim::Unit& failing = AddUnitAt(Unit(21), refusing);
    const pid_t cli = StartCli({"update", "--retry-unanswered", "2", "--retry-delay", "4",
                                "--report", "report.json", Unit(20), Unit(21)},
                               "retried.txt");
    ASSERT_GT(cli, 0);
    ASSERT_FALSE(ReportedUnit(0, WaitingAfterOneAttempt).is_null()) << ReadTextFile("retried.txt");
    sim::Unit& late = AddUnitAt(Unit(20));
    EXPECT_EQ(ExitWithin(cli, std::chrono::seconds(60)), 1) << ReadTextFile("retried.txt");

    const auto report = nlohmann::json::parse(ReadTextFile("report.json"));
    EXPECT_EQ(report["units"][0]["result"], "complete");
    EXPECT_EQ(report["units"][0]["attempts"], 2);
    ExpectWholeSet(late);
    EXPECT_EQ(report["units"][1]["result"], "failed") << "it answered, then failed";
    EXPECT_EQ(report["units"][1]["attempts"], 1);
    EXPECT_EQ(report["units"][1]["answered"], true);
    // Each attempt on its own: the refused one with its own message, then the one that answered.
    const auto& runs = report["units"][0]["runs"];
    ASSERT_EQ(runs.size(), 2u) << runs.dump(1);
    EXPECT_EQ(runs[0]["message"].get<std::string>().find("Attempt"), std::string::npos);
    EXPECT_LE(runs[0]["end"].get<std::string>(), runs[1]["start"].get<std::string>());
    EXPECT_EQ(runs[1]["message"], report["units"][0]["message"]);
    EXPECT_EQ(report["units"][0]["answered"], true);
    const auto commands = failing.Commands();
    EXPECT_EQ(std::count(commands.begin(), commands.end(), "USER anonymous"), 1);
}

TEST_F(FleetTest, InterruptEndsThePauseBeforeAFurtherAttemptAtOnce) {
    const pid_t cli = StartCli({"update", "--retry-unanswered", "3", "--retry-delay", "300",
                                "--report", "report.json", Unit(22)},
                               "interrupted.txt");
    ASSERT_GT(cli, 0);
    ASSERT_FALSE(ReportedUnit(0, WaitingAfterOneAttempt).is_null());
    ASSERT_EQ(kill(cli, SIGINT), 0);
    EXPECT_EQ(ExitWithin(cli, std::chrono::seconds(5)), 130) << ReadTextFile("interrupted.txt");
    // The notice and the summary agree: the unit is failed, not "not started".
    const std::string output = ReadTextFile("interrupted.txt");
    EXPECT_NE(output.find("0 unit(s) will not be started. 1 unit(s) awaiting a further attempt"),
              std::string::npos)
        << output;
    const auto report = nlohmann::json::parse(ReadTextFile("report.json"));
    EXPECT_EQ(report["summary"]["not_started"], 0);
    EXPECT_EQ(report["summary"]["failed"], 1);
    const auto unit = report["units"][0];
    EXPECT_EQ(unit["result"], "failed");
    EXPECT_EQ(unit["attempts"], 1);
    EXPECT_NE(unit["message"].get<std::string>().find("Not tried again: the run was interrupted"),
              std::string::npos)
        << unit.dump();
    EXPECT_TRUE(std::filesystem::exists(unit["log"].get<std::string>()));
    EXPECT_EQ(unit["log_kept"], true) << "its log says what the attempt met";
    EXPECT_EQ(unit["answered"], false);
    ASSERT_EQ(unit["runs"].size(), 1u);
    EXPECT_EQ(unit["runs"][0]["message"].get<std::string>().find("again"), std::string::npos);
    EXPECT_EQ(unit["end"], unit["runs"][0]["end"]) << "nothing went to it after its attempt";
}

struct WindowRow {
    const char* name;
    int closesInSeconds;
    const char* message; // what every unit is told
    int firstUnit;       // this one and the next
};

void PrintTo(const WindowRow& row, std::ostream* out) {
    *out << row.name;
}

class FleetWindowTest : public FleetTest, public ::testing::WithParamInterface<WindowRow> {};

// Given as a local date and time in a zone half an hour off the hour; the report gives it back
// with its offset and the output with its date.
TEST_P(FleetWindowTest, NoUnitStarts) {
    const ScopedTimeZone zone("<+0530>-5:30");
    platform::SetTimeScale(1.0); // the set's estimate as the product makes it: over two minutes
    const int first = GetParam().firstUnit;
    std::vector<sim::Unit*> units{&AddUnitAt(Unit(first)), &AddUnitAt(Unit(first + 1))};
    const std::time_t closes = std::time(nullptr) + GetParam().closesInSeconds;
    char finishBy[32] = {}, shown[32] = {};
    std::strftime(finishBy, sizeof finishBy, "%Y-%m-%dT%H:%M:%S", std::localtime(&closes));
    std::strftime(shown, sizeof shown, "until %Y-%m-%d %H:%M", std::localtime(&closes));
    EXPECT_EQ(Cli({"update", "--finish-by", finishBy, "--report", "report.json", Unit(first),
                   Unit(first + 1)}),
              1);
    EXPECT_NE(ReadTextFile("cli-output.txt").find(shown), std::string::npos);
    const auto report = nlohmann::json::parse(ReadTextFile("report.json"));
    EXPECT_EQ(report["finish_by"], std::string(finishBy) + "+05:30");
    EXPECT_EQ(ValidatorStatus("update-report.schema.json", "report.json"), 0);
    for (size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(report["units"][i]["result"], "not started");
        EXPECT_NE(report["units"][i]["message"].get<std::string>().find(GetParam().message),
                  std::string::npos);
        EXPECT_TRUE(units[i]->Commands().empty());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, FleetWindowTest,
    ::testing::Values(WindowRow{"TooShortForAnyUnit", 60, "would end after", 23},
                      WindowRow{"ClosedBeforeTheRun", -60, "the window closed at", 25}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
