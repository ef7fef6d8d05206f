// The CPU program step against the simulated unit: once with the restart and the reconnection,
// twice to an old unit, the answers that end it, and its fixed pauses at real speed.

#include "tests/update/component_upload_fixture.h"

TEST_F(ComponentUploadTest, CpuProgramOnceWithRestartAndReconnection) {
    sim::UnitConfig config;
    config.restartRefuseMs = 300;
    sim::Unit& unit = StartUnit(95, config);
    WriteBytes("ab07.cpu", PatternBytes(100000, 95));
    WriteBytes("LOGO.bmp", PatternBytes(500, 96));
    Open();
    KeepLogAfterSuccess();

    ASSERT_EQ(RunAgainst(95), RunEnd::Complete);

    const auto uploads = unit.Uploads();
    ASSERT_EQ(uploads.size(), 2u);
    EXPECT_FALSE(uploads[0].hasHeader);
    EXPECT_EQ(uploads[0].storName, "ab07.cpu");
    EXPECT_TRUE(uploads[0].content == ReadBytes("ab07.cpu")) << "bare program, unchanged";
    EXPECT_EQ(uploads[1].storName, "LOGO.bmp");
    EXPECT_EQ(unit.Restarts(), 1);
    EXPECT_EQ(CountOf(unit.Commands(), "USER anonymous"), 2u);

    // Bytes, then a twelfth for the write command, its silence and every six seconds.
    std::vector<ProgressEvent> cpu = Joined<ProgressEvent>(
        {{{"range", 0, 100000}}, ProgressOfTransfer(100000), {{"range", 0, 12}}});
    for (int i = 1; i <= 12; ++i)
        cpu.push_back({"pos", i, 0});
    cpu.push_back({"pos", 0, 0});
    const auto progress = Progress();
    ASSERT_GE(progress.size(), cpu.size());
    EXPECT_EQ(std::vector<ProgressEvent>(progress.begin(), progress.begin() + cpu.size()), cpu);
    EXPECT_EQ(FontWeights(IDC_STEP1), (std::vector<int64_t>{700, 400}));

    const auto log = KeptLog();
    const auto title = std::find(log.begin(), log.end(), Entry("", "Update CPU Program"));
    ASSERT_NE(title, log.end());
    EXPECT_EQ(*(title + 1), Entry("", "TELNET Control Socket get"));
    EXPECT_EQ(CountOf(log, Entry("", "CPU File Name : ab07.cpu")), 1u);
    const auto write = std::find(log.begin(), log.end(), Entry(kTx, "u_soft\r\n"));
    ASSERT_NE(write, log.end());
    EXPECT_EQ(*(write + 1), Entry("", "FTP Control Socket get")) << "no answer, then reconnect";
}

TEST_F(ComponentUploadTest, CpuProgramGoesTwiceToAnOldUnit) {
    sim::UnitConfig config;
    config.restartRefuseMs = 300;
    config.versionText = "KQ-A2.01.02.03"; // version 3
    sim::Unit& unit = StartUnit(96, config);
    WriteBytes("ab05.cpu", PatternBytes(70000, 96));
    Open();

    ASSERT_EQ(RunAgainst(96), RunEnd::Complete);
    const auto uploads = unit.Uploads();
    ASSERT_EQ(uploads.size(), 2u);
    for (const auto& up : uploads)
        EXPECT_TRUE(up.content == ReadBytes("ab05.cpu"));
    EXPECT_EQ(unit.Restarts(), 2);
    EXPECT_EQ(CountOf(unit.Commands(), "telnet: u_soft"), 2u);
    EXPECT_EQ(CountOf(unit.Commands(), "USER anonymous"), 3u);
    EXPECT_EQ(FontWeights(IDC_STEP1), (std::vector<int64_t>{700, 400, 700, 400}));
    EXPECT_EQ(unit.Commands().back(), "QUIT");
}

TEST_F(ComponentUploadTest, AnswerToTheCpuWriteCommandEndsTheProgram) {
    sim::UnitConfig config;
    config.faults.push_back({Fault::Trigger::TelnetUSoft, "", Fault::Action::Reply, "200 Done."});
    sim::Unit& unit = StartUnit(97, config);
    WriteBytes("ab07.cpu", PatternBytes(1000, 97));
    WriteBytes("LOGO.bmp", PatternBytes(500, 97));
    Open();

    ASSERT_EQ(RunAgainst(97), RunEnd::ProgramEnded);
    ASSERT_EQ(Boxes().size(), 1u);
    EXPECT_EQ(Boxes()[0].text, "200 Done.\r\n") << "even an answer beginning with 2 fails";
    EXPECT_EQ(Boxes()[0].style, platform::kMbIconWarning);
    EXPECT_TRUE(TimerStoppedBeforeBox());
    EXPECT_EQ(ReadLogEntries().back(), Entry(kRx, "200 Done.\r\n"));
    EXPECT_EQ(unit.Restarts(), 0);
    EXPECT_EQ(unit.Uploads().size(), 1u) << "the logo never went";
    EXPECT_EQ(FontWeights(IDC_STEP1), (std::vector<int64_t>{700, 400}));
    ExpectEndedAfterFailure(unit);
}

TEST_F(ComponentUploadTest, CpuStepWithoutTelnetSendsNothing) {
    sim::UnitConfig config;
    config.telnetEnabled = false;
    sim::Unit& unit = StartUnit(98, config);
    WriteBytes("ab07.cpu", PatternBytes(1000, 98));
    Open();

    ASSERT_EQ(RunAgainst(98), RunEnd::ProgramEnded);
    ASSERT_EQ(Boxes().size(), 1u);
    EXPECT_EQ(Boxes()[0].text, "Error : Connection refused.");
    EXPECT_EQ(Boxes()[0].style, platform::kMbIconError);
    EXPECT_TRUE(unit.Uploads().empty());
    EXPECT_TRUE(FontWeights(IDC_STEP1).empty());
    ExpectEndedAfterFailure(unit);
}

// The one test at real speed: the CPU step's fixed pauses as the unit lives them.
TEST_F(ComponentUploadTest, CpuStepPausesAtRealSpeed) {
    platform::SetTimeScale(1.0);
    sim::UnitConfig config;
    config.restartRefuseMs = 0;
    sim::Unit& unit = StartUnit(99, config);
    WriteBytes("ab07.cpu", PatternBytes(1000, 99));
    Open();
    TypeAddress("127", "0", "0", "99");

    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(PressUpdate(std::chrono::seconds(150)), RunEnd::Complete);
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
                             std::chrono::steady_clock::now() - start)
                             .count();
    // 1 s after the address clean-up, 2 s of telnet silence after the option offer, 200 ms
    // around the bar of the transfer, 100 ms before the write command, 2 s of silence after it,
    // ten times 6 s, 100 ms at the step's end.
    const int64_t fixed = 1000 + 2000 + 200 + 100 + 2000 + 60000 + 100;
    RecordProperty("elapsed_ms", std::to_string(elapsed));
    EXPECT_GE(elapsed, fixed);
    EXPECT_LE(elapsed, fixed + 1500);
    std::string seen;
    for (const auto& c : unit.Commands())
        seen += c + "\n";
    EXPECT_EQ(unit.Restarts(), 1) << seen;
}
