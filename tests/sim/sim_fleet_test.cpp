// kqunit's command line and a fleet of simulated units in one process: one unit per address,
// each with its own store folder, model and faults.

#include "sim/fleet.h"
#include "sim/kqunit_options.h"
#include "tests/support/sim_test_support.h"

namespace {

using namespace simtest;

// A scenario for a fleet of four units on 127.0.5.30 to .33: one of the other model, two that
// refuse the logo.
const char* const kFleetScenario = "version \"KQ-A2.01.02.50\"\n"
                                   "[127.0.5.31]\n"
                                   "model KQ-B2\n"
                                   "[127.0.5.32-127.0.5.33]\n"
                                   "command \"EXCM k_Lg\" reply \"550 Selector refused.\"\n";

struct ArgsRow {
    const char* name;
    std::vector<std::string> args; // S: the store; FILE, ONE, BAD: scenario files
    // Per unit "address model faults store-suffix [strict]"; or a part of the error.
    std::vector<std::string> units;
    const char* error;
    // Per unit "version telnet restart-refuse-ms idle-timeout-ms"; compared when given.
    std::vector<std::string> settings = {};
};

void PrintTo(const ArgsRow& row, std::ostream* out) {
    *out << row.name;
}

class SimKqunitArgsTest : public SimUnitTestOn<::testing::TestWithParam<ArgsRow>> {};

TEST_P(SimKqunitArgsTest, UnitsOrUsageError) {
    const ArgsRow& row = GetParam();
    const std::string store = (m_dir / "store").string();
    std::ofstream(m_dir / "fleet.txt") << kFleetScenario;
    std::ofstream(m_dir / "one.txt") << "model KQ-A2\ncommand \"QUIT\" close\n";
    std::ofstream(m_dir / "bad.txt") << "[127.0.5.31\n";
    std::vector<std::string> args;
    for (const auto& a : row.args) {
        args.push_back(a == "S"      ? store
                       : a == "FILE" ? (m_dir / "fleet.txt").string()
                       : a == "ONE"  ? (m_dir / "one.txt").string()
                       : a == "BAD"  ? (m_dir / "bad.txt").string()
                                     : a);
    }
    sim::KqunitArgs parsed;
    std::string error;
    const bool ok = sim::ParseKqunitArgs(args, &parsed, &error);
    if (*row.error != '\0') {
        EXPECT_FALSE(ok);
        EXPECT_NE(error.find(row.error), std::string::npos) << error;
        return;
    }
    ASSERT_TRUE(ok) << error;
    std::vector<std::string> units;
    for (const auto& u : parsed.units) {
        units.push_back(u.address + " " + u.model + " " + std::to_string(u.faults.size()) + " " +
                        u.storeDir.substr(store.size()) + (u.strict ? " strict" : ""));
    }
    EXPECT_EQ(units, row.units);
    if (!row.settings.empty()) {
        std::vector<std::string> settings;
        for (const auto& u : parsed.units) {
            settings.push_back(u.versionText + (u.telnetEnabled ? " telnet " : " no-telnet ") +
                               std::to_string(u.restartRefuseMs) + " " +
                               std::to_string(u.idleTimeoutMs));
        }
        EXPECT_EQ(settings, row.settings);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, SimKqunitArgsTest,
    ::testing::Values(
        ArgsRow{"OneUnitStoresIntoTheFolder",
                {"--address", "127.0.5.30", "--store", "S", "--strict"},
                {"127.0.5.30 KQ-A2 0  strict"},
                ""},
        ArgsRow{"FleetWithSections",
                {"--address", "127.0.5.30-127.0.5.33", "--store", "S", "--scenario", "FILE"},
                {"127.0.5.30 KQ-A2 0 /127.0.5.30", "127.0.5.31 KQ-B2 0 /127.0.5.31",
                 "127.0.5.32 KQ-A2 1 /127.0.5.32", "127.0.5.33 KQ-A2 1 /127.0.5.33"},
                ""},
        ArgsRow{"ScenarioWinsOverTheCommandLine",
                {"--model", "KQ-B2", "--address", "127.0.5.30-127.0.5.31", "--store", "S",
                 "--scenario-for", "127.0.5.31", "ONE"},
                {"127.0.5.30 KQ-B2 0 /127.0.5.30", "127.0.5.31 KQ-A2 1 /127.0.5.31"},
                ""},
        ArgsRow{"ReversedRange",
                {"--address", "127.0.5.33-127.0.5.30", "--store", "S"},
                {},
                "127.0.5.33-127.0.5.30 is not"},
        ArgsRow{"OutsideLoopback", {"--address", "10.0.0.1", "--store", "S"}, {}, "10.0.0.1 is"},
        ArgsRow{"TooManyUnits",
                {"--address", "127.0.0.0-127.0.4.0", "--store", "S"},
                {},
                "at most 1024"},
        ArgsRow{"NoStore", {"--address", "127.0.5.30"}, {}, "--store DIR is required"},
        ArgsRow{"UnknownOption", {"--stor", "S"}, {}, "unknown option --stor"},
        ArgsRow{"MissingValue",
                {"--store", "S", "--scenario-for", "127.0.5.30"},
                {},
                "missing value for --scenario-for"},
        ArgsRow{"BadSection", {"--store", "S", "--scenario", "BAD"}, {}, "line 1: a section"},
        ArgsRow{"SettingsForEveryUnit",
                {"--address", "127.0.14.100-127.0.14.101", "--store", "S", "--unit-version",
                 "KQ-A2.09.09.99", "--no-telnet", "--restart-refuse-ms", "250", "--idle-timeout-s",
                 "7"},
                {"127.0.14.100 KQ-A2 0 /127.0.14.100", "127.0.14.101 KQ-A2 0 /127.0.14.101"},
                "",
                {"KQ-A2.09.09.99 no-telnet 250 7000", "KQ-A2.09.09.99 no-telnet 250 7000"}},
        ArgsRow{"DefaultsWithoutTheseOptions",
                {"--address", "127.0.14.102", "--store", "S"},
                {"127.0.14.102 KQ-A2 0 "},
                "",
                {"KQ-A2.01.02.45 telnet 3000 120000"}},
        ArgsRow{"RepeatedOptionLastCountsAndCountsAreDecimal",
                {"--address", "127.0.25.1", "--address", "127.0.25.2", "--store", "S",
                 "--idle-timeout-s", "9", "--idle-timeout-s", "010", "--restart-refuse-ms", "0"},
                {"127.0.25.2 KQ-A2 0 "},
                "",
                {"KQ-A2.01.02.45 telnet 0 10000"}},
        ArgsRow{
            "HexIsNoCount", {"--store", "S", "--restart-refuse-ms", "0x10"}, {}, "bad --restart"},
        ArgsRow{"HelpAsksForNothingElse", {"--help"}, {}, ""}),
    [](const auto& info) { return std::string(info.param.name); });

// Four units in one process: each answers with its own model, refuses the logo or not, and
// stores into its own folder.
TEST_F(SimUnitTest, FleetUnitsServeEachWithItsOwnSettings) {
    std::ofstream(m_dir / "fleet.txt") << kFleetScenario;
    sim::KqunitArgs parsed;
    std::string error;
    ASSERT_TRUE(sim::ParseKqunitArgs({"--address", "127.0.5.30-127.0.5.33", "--store",
                                      (m_dir / "store").string(), "--scenario",
                                      (m_dir / "fleet.txt").string(), "--strict"},
                                     &parsed, &error))
        << error;
    for (auto& unit : parsed.units) {
        unit.idleTimeoutMs = 10000;
    }
    sim::Fleet fleet(parsed.units);
    ASSERT_TRUE(fleet.Start(&error)) << error;
    struct Expected {
        const char* address;
        const char* model;
        const char* logoAnswer;
    };
    for (const Expected& e :
         {Expected{"127.0.5.30", "KQ-A2", "200 "}, Expected{"127.0.5.31", "KQ-B2", "200 "},
          Expected{"127.0.5.32", "KQ-A2", "550 "}, Expected{"127.0.5.33", "KQ-A2", "550 "}}) {
        SCOPED_TRACE(e.address);
        Peer ctrl = LogIn(e.address);
        EXPECT_NE(ctrl.Command("EXCM r_INF").find(e.model), std::string::npos);
        EXPECT_EQ(ctrl.Command("EXCM uname"), "200 KQ-A2.01.02.50\r\n");
        const std::vector<uint8_t> bytes(100, static_cast<uint8_t>(e.address[9]));
        EXPECT_EQ(Upload(ctrl, "CPU.bin", bytes).substr(0, 4), "226 ");
        EXPECT_EQ(ReadFile(m_dir / "store" / e.address / "CPU.bin"), bytes);
        EXPECT_EQ(ctrl.Command("EXCM k_Lg").substr(0, 4), e.logoAnswer);
    }
    fleet.Stop();
    EXPECT_FALSE(fleet.Running());
}

} // namespace
