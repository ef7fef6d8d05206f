// The simulated unit's strict mode: command lines and record names as a real unit takes them,
// next to the lenient mode kept for plain FTP clients.

#include "sim/command_line.h"
#include "sim/upload_record.h"
#include "tests/support/sim_test_support.h"

namespace {

using namespace simtest;

struct LineRow {
    const char* name;
    std::string raw; // the bytes before LF
    bool strict;
    std::string verb, arg;
    const char* problem; // a part of the problem, "" for none
};

void PrintTo(const LineRow& row, std::ostream* out) {
    *out << row.name;
}

class SimCommandLineTest : public ::testing::TestWithParam<LineRow> {};

TEST_P(SimCommandLineTest, VerbArgumentAndProblem) {
    const LineRow& row = GetParam();
    const sim::FtpCommand cmd = sim::ParseFtpCommand(row.raw, row.strict);
    EXPECT_EQ(cmd.verb, row.verb);
    EXPECT_EQ(cmd.arg, row.arg);
    if (*row.problem == '\0') {
        EXPECT_EQ(cmd.problem, "");
    } else {
        EXPECT_NE(cmd.problem.find(row.problem), std::string::npos) << cmd.problem;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, SimCommandLineTest,
    ::testing::Values(
        LineRow{"StrictTool", "USER anonymous\r", true, "USER", "anonymous", ""},
        LineRow{"StrictNoCr", "USER anonymous", true, "USER", "anonymous", "without CR"},
        LineRow{"LenientNoCr", "USER anonymous", false, "USER", "anonymous", ""},
        LineRow{"StrictLowerVerb", "user anonymous\r", true, "user", "anonymous", "upper case"},
        LineRow{"LenientLowerVerb", "user anonymous\r", false, "USER", "anonymous", ""},
        LineRow{"StrictStorTwoBlanks", "STOR  LOGO.bmp\r", true, "STOR", "LOGO.bmp", ""},
        LineRow{"StrictStorOneBlank", "STOR LOGO.bmp\r", true, "STOR", "OGO.bmp", "two blanks"},
        LineRow{"StrictStorThreeBlanks", "STOR   LOGO.bmp\r", true, "STOR", " LOGO.bmp",
                "two blanks"},
        LineRow{"StrictStorNoName", "STOR  \r", true, "STOR", "", "two blanks"},
        LineRow{"LenientStorOneBlank", "STOR LOGO.bmp\r", false, "STOR", "LOGO.bmp", ""},
        LineRow{"StrictNul", std::string("EXC\0M r_INF\r", 12), true, std::string("EXC\0M", 5),
                "r_INF", "NUL"},
        LineRow{"LenientNul", std::string("EXC\0M r_INF\r", 12), false, "EXCM", "r_INF", ""},
        LineRow{"StrictCrInside", "PASS\r\r", true, "PASS\r", "", "inside"},
        LineRow{"StrictExtraBlankKept", "EXCM  k_Lg\r", true, "EXCM", " k_Lg", ""},
        LineRow{"LenientExtraBlankSkipped", "EXCM  k_Lg\r", false, "EXCM", "k_Lg", ""}),
    [](const auto& info) { return std::string(info.param.name); });

struct NameRow {
    const char* name;
    std::string storName, field;
    bool strict, accepted;
};

void PrintTo(const NameRow& row, std::ostream* out) {
    *out << row.name;
}

class SimRecordNameTest : public ::testing::TestWithParam<NameRow> {};

TEST_P(SimRecordNameTest, NameFieldAgainstTheStorName) {
    const NameRow& row = GetParam();
    const auto record = Record(row.field, 11, Pattern(3));
    const auto up = sim::CheckUpload(row.storName, sim::FindSelector("k_Lg"), record, row.strict);
    EXPECT_EQ(up.problem.empty(), row.accepted) << up.problem;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, SimRecordNameTest,
    ::testing::Values(
        NameRow{"ListedUpperExtension", "LOGO.bmp", "LOGO.BMP", true, true},
        NameRow{"ListedLowerExtension", "LOGO.bmp", "LOGO.bmp", true, true},
        NameRow{"StemInOtherCase", "LOGO.bmp", "logo.bmp", true, false},
        NameRow{"StemInOtherCaseLenient", "LOGO.bmp", "logo.bmp", false, true},
        NameRow{"StorNotLowered", "LOGO.BMP", "LOGO.BMP", true, false},
        NameRow{"OnlyThreeBehindTheFirstDot", "CAM.tar.GZ", "CAM.TAR.GZ", true, true},
        NameRow{"FourthLoweredToo", "CAM.tar.gz", "CAM.TAR.GZ", true, false},
        NameRow{"OneLetterExtension", "X.b", "X.B", true, true},
        NameRow{"SixteenCharactersNoZero", "ABCDEFGHIJKL.bin", "ABCDEFGHIJKL.BIN", true, true},
        NameRow{"PaddingNotZero", "LOGO.bmp", std::string("LOGO.BMP\0X", 10), true, false},
        NameRow{"OtherName", "LOGO.bmp", "LOGO2.BMP", false, false}),
    [](const auto& info) { return std::string(info.param.name); });

// A strict unit answers a malformed line with one refusal, notes why, and goes on.
struct RefusalRow {
    const char* name;
    int host; // the unit's address: 127.0.5.<host>, one per row (rows run in parallel)
    std::string sent;
    const char* note; // a part of the "rejected: ..." entry
};

void PrintTo(const RefusalRow& row, std::ostream* out) {
    *out << row.name;
}

class SimStrictUnitTest : public SimUnitTestOn<::testing::TestWithParam<RefusalRow>> {};

TEST_P(SimStrictUnitTest, RefusesAndNotesAMalformedLine) {
    const RefusalRow& row = GetParam();
    const std::string ip = RowAddress(row.host);
    sim::Unit& unit = Start(Config(ip.c_str()));
    Peer ctrl = LogIn(ip.c_str());
    ctrl.Send(row.sent);
    EXPECT_EQ(ctrl.Reply(), "500 Syntax error, command unrecognized.\r\n");
    EXPECT_EQ(ctrl.Command("NOOP").substr(0, 4), "200 ") << "the dialogue goes on";
    const auto commands = unit.Commands();
    ASSERT_GE(commands.size(), 4u);
    EXPECT_EQ(commands[commands.size() - 2].rfind("rejected: ", 0), 0u);
    EXPECT_NE(commands[commands.size() - 2].find(row.note), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, SimStrictUnitTest,
    ::testing::Values(RefusalRow{"NoCr", 70, "EXCM r_INF\n", "without CR"},
                      RefusalRow{"LowerVerb", 71, "Excm r_INF\r\n", "upper case"},
                      RefusalRow{"StorOneBlank", 72, "STOR LOGO.bmp\r\n", "two blanks"},
                      RefusalRow{"NulInside", 73, std::string("EXCM\0 uname\r\n", 13), "NUL"}),
    [](const auto& info) { return std::string(info.param.name); });

// "u_soft" without CR on telnet gets an answer, which fails the tool's step, and no restart.
TEST_F(SimUnitTest, StrictTelnetRefusesAWriteCommandWithoutCr) {
    sim::Unit& unit = Start(Config("127.0.5.11"));
    auto telnet = Peer::Connect("127.0.5.11", 23);
    ASSERT_TRUE(telnet);
    telnet->Send("u_soft\n");
    EXPECT_EQ(telnet->Reply(), "syntax error: line ends without CR\r\n");
    telnet->Close();
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(unit.Restarts(), 0);
}

} // namespace
