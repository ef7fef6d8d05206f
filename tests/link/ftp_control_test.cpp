// The FTP control session against the simulated unit: log-in, identification, update mode, and
// every point where the unit can refuse or fail.

#include "tests/support/link_test_support.h"

#include <chrono>

using sim::Fault;

namespace {

const std::string kRx = "PC <- Device";
const std::string kTx = "PC -> Device";

class FtpControlTest : public LinkTest {};

TEST_F(FtpControlTest, WholeLogInDialogueLeavesTheUnitInUpdateMode) {
    sim::Unit& unit = StartUnit(40);
    m_dialog->m_nUpdateStep = kStepLogo; // whatever came before

    EXPECT_EQ(m_dialog->ConnectFtp(1), 0);

    EXPECT_EQ(ReadLogEntries(), LoginEntries());
    EXPECT_TRUE(Boxes().empty());
    EXPECT_TRUE(m_dialog->m_sockCtrl.IsValid());
    EXPECT_EQ(m_dialog->m_nUpdateStep.load(), kStepNone);
    EXPECT_EQ(m_dialog->m_nDeviceVersion, 45);
    EXPECT_STREQ(m_dialog->m_szDeviceVersion, "KQ-A2.01.02.45");
    EXPECT_EQ(m_runner->View().Control(IDC_VERSION_LINE).text, "KQ-A2.01.02.45");
    EXPECT_EQ(StatusText(), "connecting...");
    EXPECT_EQ(unit.Commands(),
              (std::vector<std::string>{"USER anonymous", "PASS", "EXCM r_INF", "EXCM uname",
                                        "EXCM k_prism", "EXCM c_Varek", "CWD \\UpdateBx"}));
    EXPECT_EQ(m_dialog->m_addrCtrl.portNet, platform::HostToNet16(21));

    // The connection stays usable for what the run sends next.
    ReplyBuffer reply;
    EXPECT_EQ(m_dialog->Exchange(m_dialog->m_sockCtrl, "NOOP\r\n", reply, 0), 0);
    EXPECT_STREQ(reply.Text(), "200 NOOP command successful.\r\n");
}

struct Refusal {
    const char* command;  // the line the unit refuses ("" for the greeting)
    const char* reply;    // its refusal
    int result;           // what ConnectFtp returns
    size_t loggedEntries; // how much of the log-in dialogue is logged, refusal included
    int unit;             // 127.0.0.n: every case is a test of its own and may run alongside
};

void PrintTo(const Refusal& r, std::ostream* out) {
    *out << "'" << r.command << "' refused with '" << r.reply << "'";
}

class FtpControlRefusalTest : public LinkTest, public ::testing::WithParamInterface<Refusal> {};

TEST_P(FtpControlRefusalTest, RefusalIsShownAndEndsTheSession) {
    const Refusal& refusal = GetParam();
    sim::UnitConfig config;
    if (std::string(refusal.command).empty())
        config.greeting = refusal.reply;
    else
        config.faults.push_back(
            FaultOf(Fault::Trigger::Command, refusal.command, Fault::Action::Reply, refusal.reply));
    sim::Unit& unit = StartUnit(refusal.unit, config);

    EXPECT_EQ(m_dialog->ConnectFtp(1), refusal.result);

    std::vector<std::string> expected = LoginEntries();
    expected.resize(refusal.loggedEntries);
    expected.back() = Entry(kRx, std::string(refusal.reply) + "\r\n");
    const std::vector<std::string> entries = ReadLogEntries();
    if (refusal.result == 0) {
        // Tolerated: the dialogue goes on to its end with the refusal in place of the answer.
        std::vector<std::string> whole = LoginEntries();
        whole[refusal.loggedEntries - 1] = expected.back();
        EXPECT_EQ(entries, whole);
        EXPECT_TRUE(Boxes().empty());
        return;
    }
    EXPECT_EQ(entries, expected);
    ASSERT_EQ(Boxes().size(), 1u);
    EXPECT_EQ(Boxes()[0].text, std::string(refusal.reply) + "\r\n");
    EXPECT_EQ(Boxes()[0].style, platform::kMbIconWarning);
    EXPECT_EQ(Boxes()[0].caption, "KQVorlink");
    EXPECT_TRUE(TimerStoppedBeforeBox());
    // Nothing is sent after a refusal.
    const auto commands = unit.Commands();
    if (std::string(refusal.command).empty()) {
        EXPECT_TRUE(commands.empty());
    } else {
        ASSERT_FALSE(commands.empty());
        EXPECT_EQ(commands.back().rfind(refusal.command, 0), 0u) << commands.back();
    }
}

INSTANTIATE_TEST_SUITE_P(
    EveryPoint, FtpControlRefusalTest,
    ::testing::Values(Refusal{"", "421 Too many connections.", 1, 3, 120},
                      Refusal{"USER", "530 Not logged in.", 1, 6, 121},
                      Refusal{"PASS", "530 Login incorrect.", 1, 8, 122},
                      Refusal{"EXCM r_INF", "502 r_INF not available.", 1, 10, 123},
                      Refusal{"EXCM uname", "451 uname failed.", 1, 12, 124},
                      Refusal{"EXCM k_prism", "500 failed.", 1, 16, 125},
                      Refusal{"EXCM c_Varek", "500 failed.", 0, 18, 126},
                      Refusal{"EXCM c_Varek", "421 busy, 500 failed.", 0, 18, 127},
                      Refusal{"EXCM c_Varek", "500 c_Varek failed.", 1, 18, 128},
                      Refusal{"EXCM c_Varek", "550 Not allowed.", 1, 18, 129},
                      Refusal{"CWD", "500 failed.", 1, 20, 130}));

TEST_F(FtpControlTest, TenRefusedAttemptsEndInOneBoxAndARetry) {
    // Once with nothing listening at the address, once with a unit that refuses every
    // connection.
    for (const bool unitRuns : {false, true}) {
        SCOPED_TRACE(unitRuns ? "refusing unit" : "no unit");
        if (unitRuns) {
            sim::UnitConfig config;
            config.faults.push_back(
                FaultOf(Fault::Trigger::FtpConnect, "", Fault::Action::Refuse, "", 0));
            StartUnit(43, config);
        } else {
            AimAt(43);
        }
        platform::DeleteFileNamed(kActivityLogName);
        headless::Desktop::Instance().Reset();

        EXPECT_EQ(m_dialog->ConnectFtp(10), 2);

        std::vector<std::string> expected = {Entry("", "FTP Control Socket get")};
        for (int i = 0; i < 10; ++i) {
            expected.push_back(Entry("", "FTP Control Port connect"));
            expected.push_back(Entry("connect() Error", "Error : Connection refused."));
        }
        EXPECT_EQ(ReadLogEntries(), expected);
        ASSERT_EQ(Boxes().size(), 1u);
        EXPECT_EQ(Boxes()[0].text, "Error : Connection refused.");
        EXPECT_EQ(Boxes()[0].style, platform::kMbIconError);
        EXPECT_EQ(m_dialog->m_nUpdateStep.load(), kStepBetween);
        EXPECT_EQ(StatusText(), "connecting...");
    }
}

TEST_F(FtpControlTest, UnitOfAnotherModelIsRefusedForARetry) {
    for (const char* info : {"200 Model KQ-B2 camera control unit.", "200 KQ-A unit",
                             "200 camera control unit without a name."}) {
        SCOPED_TRACE(info);
        sim::UnitConfig config;
        config.infoReply = info;
        sim::Unit& unit = StartUnit(45, config);
        platform::DeleteFileNamed(kActivityLogName);
        headless::Desktop::Instance().Reset();

        EXPECT_EQ(m_dialog->ConnectFtp(1), 2);

        std::vector<std::string> expected = LoginEntries();
        expected.resize(13);
        expected[9] = Entry(kRx, std::string(info) + "\r\n");
        expected[12] = Entry("", "Error : Device Type Wrong.");
        EXPECT_EQ(ReadLogEntries(), expected);
        ASSERT_EQ(Boxes().size(), 1u);
        EXPECT_EQ(Boxes()[0].text, "Error : Device Type Wrong.");
        EXPECT_EQ(Boxes()[0].style, platform::kMbIconError);
        EXPECT_EQ(unit.Commands().back(), "EXCM uname");
        EXPECT_EQ(m_dialog->m_nUpdateStep.load(), kStepBetween);
        m_dialog->m_sockCtrl.Close();
        m_unit.reset();
    }
}

TEST_F(FtpControlTest, OnlyFiveCharactersOfTheModelAreCompared) {
    sim::UnitConfig config;
    config.infoReply = "200 Model KQ-A2X camera control unit.";
    StartUnit(46, config);
    EXPECT_EQ(m_dialog->ConnectFtp(1), 0);
    EXPECT_TRUE(Boxes().empty());
}

struct VersionCase {
    const char* unameReply;
    const char* shown; // version line, m_szDeviceVersion and the "Upload" entry
    int number;
    int unit; // 127.0.0.n of its own
};

void PrintTo(const VersionCase& c, std::ostream* out) {
    *out << ::testing::PrintToString(c.unameReply);
}

class DeviceVersionTest : public LinkTest, public ::testing::WithParamInterface<VersionCase> {};

TEST_P(DeviceVersionTest, VersionTextAndNumberComeFromTheUnameReply) {
    const VersionCase& c = GetParam();
    sim::UnitConfig config;
    config.unameReply = c.unameReply;
    StartUnit(c.unit, config);
    m_dialog->m_nDeviceVersion = 99;

    EXPECT_EQ(m_dialog->ConnectFtp(1), 0);

    EXPECT_EQ(m_dialog->m_nDeviceVersion, c.number);
    EXPECT_STREQ(m_dialog->m_szDeviceVersion, c.shown);
    EXPECT_EQ(m_runner->View().Control(IDC_VERSION_LINE).text, c.shown);
    const auto entries = ReadLogEntries();
    ASSERT_GT(entries.size(), 12u);
    EXPECT_EQ(entries[11], Entry(kRx, c.unameReply));
    EXPECT_EQ(entries[12], Entry("Upload", c.shown));
}

INSTANTIATE_TEST_SUITE_P(
    Texts, DeviceVersionTest,
    ::testing::Values(VersionCase{"200 1.2.3.45\r\n", "1.2.3.45", 45, 131},
                      VersionCase{"200 1..2.3.07\r\n", "1..2.3.07", 7, 132},
                      VersionCase{"200 1.2.3.4\r\n", "1.2.3.4", 0, 133},
                      VersionCase{"200 1.2.3..07\r\n", "1.2.3..07", 0, 134},
                      // Too short to hold a version: what is there, and no number.
                      VersionCase{"200 1.2\r\n", "1.2", 0, 135},
                      VersionCase{"200 \r\n", "", 0, 136}, VersionCase{"2\r\n", "", 0, 137}));

TEST_F(FtpControlTest, UnitThatGoesSilentIsGivenUpAtTheReplyDeadline) {
    sim::UnitConfig config;
    config.faults.push_back(FaultOf(Fault::Trigger::Command, "EXCM uname", Fault::Action::Silent));
    StartUnit(48, config);
    platform::SetTimeScale(0.002); // 60 s of protocol time in 120 ms

    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(m_dialog->ConnectFtp(1), 1);
    const auto elapsed = std::chrono::steady_clock::now() - start;

    EXPECT_GE(elapsed, std::chrono::milliseconds(110));
    EXPECT_LT(elapsed, std::chrono::seconds(5));
    std::vector<std::string> expected = LoginEntries();
    expected.resize(12);
    expected[11] = Entry("recv() Error", "Error : Connection timed out.");
    EXPECT_EQ(ReadLogEntries(), expected);
    ASSERT_EQ(Boxes().size(), 1u);
    EXPECT_EQ(Boxes()[0].text, "Error : Connection timed out.");
    EXPECT_EQ(Boxes()[0].style, platform::kMbIconError);
    EXPECT_TRUE(TimerStoppedBeforeBox());
}

TEST_F(FtpControlTest, SecondSessionGoesThroughTheWholeDialogueAgain) {
    sim::Unit& unit = StartUnit(49);
    ASSERT_EQ(m_dialog->ConnectFtp(1), 0);
    m_dialog->m_sockCtrl.Close();
    platform::DeleteFileNamed(kActivityLogName);

    EXPECT_EQ(m_dialog->ConnectFtp(10), 0);

    EXPECT_EQ(ReadLogEntries(), LoginEntries());
    EXPECT_EQ(unit.Commands().size(), 14u);
}

} // namespace
