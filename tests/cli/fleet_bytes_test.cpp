// Every byte a unit may send, in each text of the conversation that reaches the reports, on
// 127.0.20.N: `check --report` and `update --report` of the unit and a clean one beside it.
// Nothing crashes, the clean unit completes, and both reports meet their schemas.

#include "tests/cli/fleet_fixture.h"

namespace {

enum class Where { Greeting, ModelReply, VersionReply, Refusal, TelnetReply };

struct ByteRow {
    const char* name;
    int first; // the hostile unit is 127.0.20.first, the clean one first + 1
    Where where;
    std::string bytes;
};

void PrintTo(const ByteRow& row, std::ostream* out) {
    *out << row.name;
}

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
const std::string kLow = BytesFromTo(0x00, 0x7F);
const std::string kHigh = BytesFromTo(0x80, 0xFF);

sim::UnitConfig Hostile(const ByteRow& row) {
    sim::UnitConfig config;
    using T = sim::Fault::Trigger;
    switch (row.where) {
    case Where::Greeting:
        config.greeting = "220 " + row.bytes;
        break;
    case Where::ModelReply:
        config.infoReply = "200 Model KQ-A2 " + row.bytes;
        break;
    case Where::VersionReply:
        config.unameReply = "200 KQ-A2.01.02." + row.bytes + "\r\n";
        break;
    case Where::Refusal:
        config.faults.push_back(
            FaultOf(T::Command, "EXCM k_Lg", sim::Fault::Action::Raw, "550 " + row.bytes + "\r\n"));
        break;
    case Where::TelnetReply:
        config.faults.push_back(
            FaultOf(T::TelnetUSoft, "", sim::Fault::Action::Raw, "550 " + row.bytes + "\r\n"));
        break;
    }
    return config;
}

class UnitBytesTest : public FleetTest, public ::testing::WithParamInterface<ByteRow> {};

TEST_P(UnitBytesTest, ReportsKeepEveryByteAndTheOtherUnitCompletes) {
    const ByteRow& row = GetParam();
    const std::string hostile = "127.0.20." + std::to_string(row.first);
    const std::string clean = "127.0.20." + std::to_string(row.first + 1);
    if (row.where != Where::TelnetReply) // only the CPU program's step talks telnet
        std::filesystem::remove("kq12.cpu");
    AddUnitAt(hostile, Hostile(row));
    AddUnitAt(clean);
    Cli({"check", "--report", "check.json", hostile, clean});
    const auto checked = nlohmann::json::parse(ReadTextFile("check.json"));
    EXPECT_EQ(checked["units"][1]["model_matches"], true) << checked.dump(1);
    EXPECT_EQ(ValidatorStatus("check-report.schema.json", "check.json"), 0) << checked.dump(1);

    Cli({"update", "--report", "update.json", hostile, clean});
    const auto updated = nlohmann::json::parse(ReadTextFile("update.json"));
    EXPECT_EQ(updated["units"][1]["result"], "complete") << updated.dump(1);
    EXPECT_EQ(ValidatorStatus("update-report.schema.json", "update.json"), 0) << updated.dump(1);
    if (row.where == Where::Refusal && row.bytes == kHigh) { // Latin-1, as localised units answer
        const std::string message = updated["units"][0]["message"];
        EXPECT_EQ(message.substr(0, 12), "550 \\x80\\x81");
        EXPECT_EQ(message.substr(message.size() - 8), "\\xFE\\xFF") << "no line end";
    }
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Rows, UnitBytesTest,
    ::testing::Values(
        ByteRow{"GreetingLowBytes", 1, Where::Greeting, kLow},
        ByteRow{"GreetingHighBytes", 3, Where::Greeting, kHigh},
        ByteRow{"GreetingBrokenUtf8", 5, Where::Greeting, kBroken},
        ByteRow{"ModelReplyLowBytes", 7, Where::ModelReply, kLow},
        ByteRow{"ModelReplyHighBytes", 9, Where::ModelReply, kHigh},
        ByteRow{"ModelReplyBrokenUtf8", 11, Where::ModelReply, kBroken},
        ByteRow{"VersionReplyLowBytes", 13, Where::VersionReply, kLow},
        ByteRow{"VersionReplyHighBytes", 15, Where::VersionReply, kHigh},
        ByteRow{"VersionReplyBrokenUtf8", 17, Where::VersionReply, kBroken},
        ByteRow{"RefusalLowBytes", 19, Where::Refusal, kLow},
        ByteRow{"RefusalHighBytes", 21, Where::Refusal, kHigh},
        ByteRow{"RefusalBrokenUtf8", 23, Where::Refusal, kBroken},
        ByteRow{"TelnetReplyLowBytes", 25, Where::TelnetReply, kLow},
        ByteRow{"TelnetReplyHighBytes", 27, Where::TelnetReply, kHigh},
        ByteRow{"TelnetReplyBrokenUtf8", 29, Where::TelnetReply, kBroken}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

} // namespace
