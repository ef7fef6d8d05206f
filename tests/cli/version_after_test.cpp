// The version a unit gives when asked again after "Update Complete." (--target-version, or any
// set with a CPU program), against simulated units on 127.0.23.N whose scenario says which
// version they take on after writing the CPU program; and the version given as `check` shows it.

#include "cli/report_text.h"
#include "sim/scenario.h"

#include "tests/cli/fleet_fixture.h"

#include <sstream>

namespace {

struct VersionRow {
    const char* name;
    int n;                         // the unit is 127.0.23.n
    const char* scenario;          // the unit's scenario lines
    bool cpuProgram;               // the set holds kq12.cpu
    std::vector<std::string> args; // "@shown": the version as `check` printed it first
    const char* result;
    const char* message;
    const char* versionAfter; // null: not read
    int unames; // "EXCM uname" answered: one per log-in (the look for a target's version first)
};

void PrintTo(const VersionRow& row, std::ostream* out) {
    *out << row.name;
}

// The unit's version text as `check` prints it.
std::string VersionCheckShows(const std::string& address) {
    Cli({"check", address});
    const std::string output = ReadTextFile("cli-output.txt");
    std::smatch shown;
    return std::regex_search(output, shown, std::regex("version \"([^\"]*)\"")) ? shown[1].str()
                                                                                : output;
}

class VersionAfterTest : public FleetTest, public ::testing::WithParamInterface<VersionRow> {};

TEST_P(VersionAfterTest, UnitIsCompleteOnlyWithTheVersionAskedFor) {
    const VersionRow& row = GetParam();
    if (!row.cpuProgram)
        std::filesystem::remove("kq12.cpu");
    sim::UnitConfig config;
    std::istringstream scenario(row.scenario);
    std::string error;
    ASSERT_TRUE(sim::ApplyScenario(scenario, config, &error)) << error;
    const std::string address = "127.0.23." + std::to_string(row.n);
    sim::Unit& unit = AddUnitAt(address, config);
    std::vector<std::string> args{"update", "--report", "report.json", address};
    for (const std::string& arg : row.args)
        args.push_back(arg == "@shown" ? VersionCheckShows(address) : arg);
    Cli(args);

    const auto report = nlohmann::json::parse(ReadTextFile("report.json"));
    const auto& got = report["units"][0];
    EXPECT_EQ(got["result"], row.result);
    EXPECT_EQ(got["message"], cli::ReportText(row.message));
    EXPECT_EQ(got["version_after"], row.versionAfter ? nlohmann::json(row.versionAfter) : nullptr);
    const auto commands = unit.Commands();
    EXPECT_EQ(std::count(commands.begin(), commands.end(), "EXCM uname"), row.unames);
    if (std::string(row.result) == "failed") {
        EXPECT_EQ(got["components"].size(), row.cpuProgram ? 6u : 5u) << "everything was sent";
        EXPECT_TRUE(std::filesystem::exists(got["log"])) << "the failed unit's log is kept";
    }
    const std::string source = KQ_SOURCE_DIR;
    const std::string validate = "/usr/bin/python3 " + source +
                                 "/tests/support/validate_report.py " + source +
                                 "/docs/schema report.json";
    EXPECT_EQ(WEXITSTATUS(std::system(validate.c_str())), 0) << report.dump(2);
}

const std::vector<std::string> kTarget{"--target-version", "KQ-A2.01.02.12"};
// A version reply of two lines: the version text holds the line break between them.
const char* const kTwoLines = "uname-reply \"200-KQ-A2.01.02.12\\r\\n200 KQ-A2.01.02.12\"";

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Rows, VersionAfterTest,
    ::testing::Values(
        VersionRow{"TargetReached", 1, "", true, kTarget, "complete", "Update Complete.",
                   "KQ-A2.01.02.12", 4},
        VersionRow{"OldVersionKeptFails", 2, "version-after keep", true, kTarget, "failed",
                   "version after the update is KQ-A2.01.02.45, not KQ-A2.01.02.12",
                   "KQ-A2.01.02.45", 4},
        VersionRow{"TrailingBlanksCompareAlike", 3, "version-after \"KQ-A2.01.03.00  \"", true,
                   {"--target-version", "KQ-A2.01.03.00 "}, "complete", "Update Complete.",
                   "KQ-A2.01.03.00", 4},
        VersionRow{"UnitGoneAfterItsRestartFails", 4, "ftp-connect refuse occurrence 4 always",
                   true, kTarget, "failed",
                   "version after the update not read: Error : Connection refused.", nullptr, 3},
        VersionRow{"UnitBackAtItsThirdAttemptPasses", 9, "ftp-connect refuse occurrence 4 times 2",
                   true, kTarget, "complete", "Update Complete.", "KQ-A2.01.02.12", 4},
        VersionRow{"UnitAtTheTargetIsLeftAlone", 5, "version \"KQ-A2.01.02.12\"", true, kTarget,
                   "current", "Version KQ-A2.01.02.12 is current; not updated.", nullptr, 1},
        VersionRow{"CpuProgramIsReadBackWithoutTarget", 6, "", true, {}, "complete",
                   "Update Complete.", "KQ-A2.01.02.12", 3},
        VersionRow{"NothingReadWithoutCpuProgramOrTarget", 7, "", false, {}, "complete",
                   "Update Complete.", nullptr, 1},
        VersionRow{"TargetIsCheckedWithoutCpuProgram", 8, "", false, kTarget, "failed",
                   "version after the update is KQ-A2.01.02.45, not KQ-A2.01.02.12",
                   "KQ-A2.01.02.45", 3},
        // A line end of LF alone or CR alone is no part of the version; the byte before it is.
        VersionRow{"LfAloneEndsTheVersionTextAfterItsLastByte", 40,
                   "version \"KQ-A2.01.02.120\\n\"", false, kTarget, "failed",
                   "version after the update is KQ-A2.01.02.120, not KQ-A2.01.02.12",
                   "KQ-A2.01.02.120", 3},
        VersionRow{"CrAloneEndsTheVersionTextAfterItsLastByte", 41,
                   "command \"EXCM uname\" raw \"200 KQ-A2.01.02.12\\r\" always", false, kTarget,
                   "current", "Version KQ-A2.01.02.12 is current; not updated.", nullptr, 1},
        // The text `check` shows names the version whatever bytes it holds, and only it.
        VersionRow{"TargetAsCheckShowsALineBreakMatchesIt", 42, kTwoLines, false,
                   {"--target-version", "@shown"}, "current",
                   "Version KQ-A2.01.02.12\\x0d\\x0a200 KQ-A2.01.02.12 is current; not updated.",
                   nullptr, 2},
        VersionRow{"TargetWithoutTheLineBreakFailsNamingBoth", 43, kTwoLines, false, kTarget,
                   "failed",
                   "version after the update is KQ-A2.01.02.12\\x0d\\x0a200 KQ-A2.01.02.12, not "
                   "KQ-A2.01.02.12",
                   "KQ-A2.01.02.12\r\n200 KQ-A2.01.02.12", 3}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

} // namespace
