// One press of Update against the simulated unit, from the address fields to "Update Complete.":
// the road of a run in the log, the run without components, and every way a run ends early.

#include "tests/support/run_test_support.h"

using sim::Fault;

namespace {

const std::string kRx = "PC <- Device";
const std::string kTx = "PC -> Device";

} // namespace

class UpdateRunTest : public RunTest {
  protected:
    // The dialog as the person sees it once a run has ended and the dialog stayed open.
    void ExpectIdleAgain() {
        auto& view = m_runner->View();
        EXPECT_TRUE(view.Control(IDC_UPDATE).enabled);
        EXPECT_TRUE(view.Control(IDC_EXIT).enabled);
        EXPECT_EQ(view.FocusedId(), IDC_IP1);
        EXPECT_EQ(view.Control(IDC_STATUS).text, "");
        EXPECT_EQ(view.Control(IDC_PROGRESS).pos, 0u);
        EXPECT_FALSE(view.TimerArmed(1));
        EXPECT_FALSE(m_runner->Ended());
    }
};

TEST_F(UpdateRunTest, OneLogoRunFollowsTheRoadEntryByEntry) {
    sim::Unit& unit = StartUnit(70);
    WriteBytes("LOGO.bmp", PatternBytes(1000, 70));
    Open();
    KeepLogAfterSuccess();

    ASSERT_EQ(RunAgainst(70), RunEnd::Complete);

    EXPECT_FALSE(LogExists()) << "a successful run deletes the log";
    const std::vector<std::string> log = KeptLog();
    std::string port;
    for (const auto& c : unit.Commands()) {
        if (c.rfind("PORT ", 0) == 0)
            port = c;
    }
    EXPECT_EQ(port.rfind("PORT 127,0,0,1,", 0), 0u) << port;
    const std::vector<std::string> expected = Joined<std::string>({
        {Entry("", "WinSock initialize"), Entry("", "Local Host Name get"),
         Entry("", "IP Address get"), Entry("", "IP Address convert")},
        LoginEntries(),
        {Entry("", "Update Logo Data"),
         Entry(kTx, "EXCM k_Lg\r\n"),
         Entry(kRx, "200 k_Lg selected.\r\n"),
         Entry("", "LOGO File Name : LOGO.bmp"),
         Entry(kTx, "LOGO.bmp"),
         Entry("", "FTP Data Socket get"),
         Entry("", "FTP Data Port bind"),
         Entry("", "Server listen"),
         Entry("", "FTP Data Port No. get"),
         Entry("", "PORT Command send"),
         Entry(kTx, port + "\r\n"),
         Entry(kRx, "200 PORT command successful.\r\n"),
         Entry("", "TYPE Command send"),
         Entry(kTx, "TYPE I\r\n"),
         Entry(kRx, "200 Type set to I.\r\n"),
         Entry("", "STOR Command send"),
         Entry(kTx, "STOR  LOGO.bmp\r\n"),
         Entry("", "Server accept"),
         Entry(kRx, "150 Opening BINARY mode data connection for LOGO.bmp.\r\n"),
         Entry("", "Data connection close"),
         Entry(kRx, "226 Transfer complete.\r\n"),
         Entry(kTx, "EXCM u_soft\r\n"),
         Entry(kRx, "200 k_Lg written.\r\n"),
         Entry(kTx, "QUIT\r\n"),
         Entry(kRx, "221 Goodbye.\r\n")},
    });
    EXPECT_EQ(log, expected);

    const std::vector<std::string> commands = unit.Commands();
    const std::vector<std::string> tail(commands.end() - 6, commands.end());
    EXPECT_EQ(tail, (std::vector<std::string>{"EXCM k_Lg", port, "TYPE I", "STOR  LOGO.bmp",
                                              "EXCM u_soft", "QUIT"}));

    auto& view = m_runner->View();
    EXPECT_EQ(view.Control(IDC_VERSION_LINE).text, "KQ-A2.01.02.45 (Done)");
    EXPECT_TRUE(view.Control(IDC_STEP11).visible);
    EXPECT_EQ(m_dialog->m_bUpdateDone, 1);
    ExpectIdleAgain();
    const auto boxes = Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].style, platform::kMbIconInformation);
    EXPECT_TRUE(boxes[0].owned);
    EXPECT_EQ(m_dialog->m_nUpdateStep, kStepBetween) << "left as the last step set it";
}

TEST_F(UpdateRunTest, RunWithoutComponentFilesConnectsAndSaysGoodbye) {
    sim::Unit& unit = StartUnit(71);
    Open();
    ASSERT_EQ(RunAgainst(71), RunEnd::Complete);
    EXPECT_EQ(unit.Commands(),
              (std::vector<std::string>{"USER anonymous", "PASS", "EXCM r_INF", "EXCM uname",
                                        "EXCM k_prism", "EXCM c_Varek", "CWD \\UpdateBx", "QUIT"}));
    EXPECT_TRUE(unit.Uploads().empty());
    EXPECT_EQ(m_runner->View().Control(IDC_VERSION_LINE).text, "KQ-A2.01.02.45 (Done)");
    EXPECT_FALSE(LogExists());
    ExpectIdleAgain();

    // The dialog stays usable: a second press runs again and appends once more.
    ASSERT_EQ(RunAgainst(71), RunEnd::Complete);
    EXPECT_EQ(m_runner->View().Control(IDC_VERSION_LINE).text, "KQ-A2.01.02.45 (Done)")
        << "the version text is read anew from the unit";
}

TEST_F(UpdateRunTest, BadAddressFieldIsNamedAndNothingIsSent) {
    sim::Unit& unit = StartUnit(72);
    WriteBytes("LOGO.bmp", PatternBytes(10, 72));
    Open();
    struct Case {
        std::vector<std::string> fields;
        std::string message;
    };
    const Case cases[] = {
        {{"abc", "0", "0", "72"}, "Error : IP(0) Address Error."},
        {{"", "0", "0", "72"}, "Error : IP(0) Address Error."},
        {{"-127", "0", "0", "72"}, "Error : IP(0) Address Error."}, // read as unsigned
        {{"127", "0x0", "", ""}, "Error : IP(1) Address Error."},   // only the first bad one
        {{"127", "0", "1.5", "72"}, "Error : IP(2) Address Error."},
        {{"127", "0", "0", ""}, "Error : IP(3) Address Error."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message + " for " + c.fields[0] + "|" + c.fields[1] + "|" + c.fields[2] +
                     "|" + c.fields[3]);
        headless::Desktop::Instance().Reset();
        TypeAddress(c.fields[0], c.fields[1], c.fields[2], c.fields[3]);
        EXPECT_EQ(PressUpdate(), RunEnd::DialogStaysOpen);
        const auto boxes = Boxes();
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].text, c.message);
        EXPECT_EQ(boxes[0].style, platform::kMbIconError);
        EXPECT_EQ(ReadLogEntries().back(), Entry("", c.message)) << "the log survives";
        ExpectIdleAgain();
    }
    EXPECT_TRUE(unit.Commands().empty());
}

TEST_F(UpdateRunTest, NumberAboveByteRangeFailsTheConversionAndStaysOpen) {
    sim::Unit& unit = StartUnit(73);
    Open();
    TypeAddress("127", "0", "0", "300");
    EXPECT_EQ(PressUpdate(), RunEnd::DialogStaysOpen);
    const auto entries = ReadLogEntries();
    ASSERT_GE(entries.size(), 2u);
    EXPECT_EQ(entries[entries.size() - 2], Entry("", "IP Address convert"));
    EXPECT_EQ(entries.back().rfind("inet_addr() Error Error : ", 0), 0u) << entries.back();
    ASSERT_EQ(Boxes().size(), 1u);
    EXPECT_EQ(Boxes()[0].style, platform::kMbIconError);
    EXPECT_EQ(Entry("inet_addr() Error", Boxes()[0].text), entries.back());
    EXPECT_TRUE(unit.Commands().empty());
    ExpectIdleAgain();

    // Corrected, the same dialog updates the unit.
    EXPECT_EQ(RunAgainst(73), RunEnd::Complete);
}

TEST_F(UpdateRunTest, WrongModelAndMissingUnitLeaveTheDialogOpen) {
    sim::UnitConfig config;
    config.model = "KQ-B2";
    config.versionText = "KQ-B2.01.02.45";
    sim::Unit& unit = StartUnit(74, config);
    WriteBytes("LOGO.bmp", PatternBytes(10, 74));
    Open();

    EXPECT_EQ(RunAgainst(74), RunEnd::DialogStaysOpen);
    ASSERT_EQ(Boxes().size(), 1u);
    EXPECT_EQ(Boxes()[0].text, "Error : Device Type Wrong.");
    EXPECT_EQ(unit.Commands().back(), "EXCM uname") << "nothing after the model check";
    EXPECT_TRUE(unit.Uploads().empty());
    ExpectIdleAgain();

    // No unit at all on 127.0.0.75.
    headless::Desktop::Instance().Reset();
    EXPECT_EQ(RunAgainst(75), RunEnd::DialogStaysOpen);
    ASSERT_EQ(Boxes().size(), 1u);
    EXPECT_EQ(Boxes()[0].text, "Error : Connection refused.");
    EXPECT_EQ(ReadLogEntries().back(), Entry("connect() Error", "Error : Connection refused."));
    ExpectIdleAgain();
}

TEST_F(UpdateRunTest, RefusedGoodbyeEndsTheProgramAndKeepsTheLog) {
    sim::UnitConfig config;
    config.faults.push_back(
        {Fault::Trigger::Command, "QUIT", Fault::Action::Reply, "500 QUIT refused."});
    StartUnit(76, config);
    Open();
    EXPECT_EQ(RunAgainst(76), RunEnd::ProgramEnded);
    ASSERT_EQ(Boxes().size(), 1u);
    EXPECT_EQ(Boxes()[0].text, "500 QUIT refused.\r\n");
    EXPECT_EQ(Boxes()[0].style, platform::kMbIconWarning);
    EXPECT_EQ(ReadLogEntries().back(), Entry(kRx, "500 QUIT refused.\r\n"));
    EXPECT_EQ(m_dialog->m_bUpdateDone, 0);
    // The version line already carries the mark: every step succeeded before the goodbye.
    EXPECT_STREQ(m_dialog->m_szDeviceVersion, "KQ-A2.01.02.45 (Done)");
}
