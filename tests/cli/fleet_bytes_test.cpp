// Every byte a unit may send, in each text of the conversation that reaches the reports, on
// 127.0.20.N: `check --report` and `update --report` of the unit and a clean one beside it.
// Nothing crashes, the clean unit completes, and both reports meet their schemas.

#include "cli/report_text.h"
#include "cli/unit_text.h"

#include "tests/cli/fleet_fixture.h"

namespace {

enum class Where { Greeting, ModelReply, VersionReply, Refusal, TelnetReply };
const char* const kWhere[] = {"Greeting", "ModelReply", "VersionReply", "Refusal", "TelnetReply"};
const char* const kGroups[] = {"LowBytes", "HighBytes", "BrokenUtf8"};

std::string BytesFromTo(int first, int last) {
    std::string bytes;
    for (int b = first; b <= last; ++b)
        bytes += char(b);
    return bytes;
}

// Sequences that are not UTF-8: cut short, a lone continuation, overlong, a surrogate, above
// U+10FFFF, a five-byte form, and a lead byte at the very end.
const std::string kBroken = "\xC3 \xE2\x82 \xF0\x9F\x98 \x80\xBF \xC0\xAF \xED\xA0\x80 "
                            "\xF4\x90\x80\x80 \xF8\x88\x80\x80\x80 \\x41 \xE2";
const std::string kBytes[] = {BytesFromTo(0x00, 0x7F), BytesFromTo(0x80, 0xFF), kBroken};

sim::UnitConfig Hostile(Where where, const std::string& bytes) {
    sim::UnitConfig config;
    using T = sim::Fault::Trigger;
    switch (where) {
    case Where::Greeting:
        config.greeting = "220 " + bytes;
        break;
    case Where::ModelReply:
        config.infoReply = "200 Model KQ-A2 " + bytes;
        break;
    case Where::VersionReply:
        config.unameReply = "200 KQ-A2.01.02." + bytes + "\r\n";
        break;
    case Where::Refusal:
        config.faults.push_back(
            FaultOf(T::Command, "EXCM k_Lg", sim::Fault::Action::Raw, "550 " + bytes + "\r\n"));
        break;
    case Where::TelnetReply:
        config.faults.push_back(
            FaultOf(T::TelnetUSoft, "", sim::Fault::Action::Raw, "550 " + bytes + "\r\n"));
        break;
    }
    return config;
}

// A row: where the bytes go, and which group of bytes.
class UnitBytesTest : public FleetTest,
                      public ::testing::WithParamInterface<std::tuple<int, int>> {};

TEST_P(UnitBytesTest, ReportsKeepEveryByteAndTheOtherUnitCompletes) {
    const auto [where, group] = GetParam();
    const int first = 1 + 2 * (where * 3 + group); // and the clean unit beside it
    const std::string hostile = "127.0.20." + std::to_string(first);
    const std::string clean = "127.0.20." + std::to_string(first + 1);
    if (Where(where) != Where::TelnetReply) // only the CPU program's step talks telnet
        std::filesystem::remove("kq12.cpu");
    AddUnitAt(hostile, Hostile(Where(where), kBytes[group]));
    AddUnitAt(clean);
    Cli({"check", "--report", "check.json", hostile, clean});
    const auto checked = nlohmann::json::parse(ReadTextFile("check.json"));
    EXPECT_EQ(checked["units"][1]["model_matches"], true) << checked.dump(1);
    EXPECT_EQ(ValidatorStatus("check-report.schema.json", "check.json"), 0) << checked.dump(1);

    Cli({"update", "--report", "update.json", hostile, clean});
    const auto updated = nlohmann::json::parse(ReadTextFile("update.json"));
    EXPECT_EQ(updated["units"][1]["result"], "complete") << updated.dump(1);
    EXPECT_EQ(ValidatorStatus("update-report.schema.json", "update.json"), 0) << updated.dump(1);
    if (Where(where) == Where::Refusal && group == 1) { // Latin-1, as localised units answer
        const std::string message = updated["units"][0]["message"];
        EXPECT_EQ(message.substr(0, 12), "550 \\x80\\x81");
        EXPECT_EQ(message.substr(message.size() - 8), "\\xFE\\xFF") << "no line end";
    }
    if (Where(where) == Where::VersionReply) { // NUL and control bytes kept; a line end ends it
        const std::string& bytes = kBytes[group];
        const std::string version = cli::ReportText(
            cli::VersionAsShown("KQ-A2.01.02." + bytes.substr(0, bytes.find_first_of("\r\n"))));
        EXPECT_EQ(checked["units"][0]["version"], version);
        EXPECT_EQ(updated["units"][0]["version_before"], version);
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, UnitBytesTest,
                         ::testing::Combine(::testing::Range(0, 5), ::testing::Range(0, 3)),
                         [](const auto& info) {
                             return std::string(kWhere[std::get<0>(info.param)]) +
                                    kGroups[std::get<1>(info.param)];
                         });

} // namespace
