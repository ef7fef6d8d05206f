// The default-setting step at the end of a run: the one command that the log does not show,
// the bar and the label, and a refusal.

#include "tests/support/run_test_support.h"

using sim::Fault;

namespace {
const std::string kRx = "PC <- Device";
const std::string kTx = "PC -> Device";
} // namespace

class DefaultSettingTest : public RunTest {};

TEST_F(DefaultSettingTest, StepAfterTheComponentsLogsOnlyTheUnitsAnswer) {
    sim::Unit& unit = StartUnit(110);
    WriteTextFile("KQVorlink.prm", "KQ-A2  Update\nA\nD\n");
    WriteBytes("LOGO.bmp", PatternBytes(100, 110));
    auto& view = Open();
    ASSERT_TRUE(view.Control(IDC_DEFAULT_SETTING).visible);
    KeepLogAfterSuccess();

    ASSERT_EQ(RunAgainst(110), RunEnd::Complete);

    const auto commands = unit.Commands();
    ASSERT_GE(commands.size(), 3u);
    EXPECT_EQ(commands[commands.size() - 3], "EXCM u_soft") << "after the logo";
    EXPECT_EQ(commands[commands.size() - 2], "EXCM w_stupall");
    const auto log = KeptLog();
    ASSERT_GE(log.size(), 5u);
    EXPECT_EQ(std::vector<std::string>(log.end() - 5, log.end()),
              (std::vector<std::string>{Entry(kRx, "200 k_Lg written.\r\n"),
                                        Entry("", "Change to Default Setting"),
                                        Entry(kRx, "200 Default data set.\r\n"),
                                        Entry(kTx, "QUIT\r\n"), Entry(kRx, "221 Goodbye.\r\n")}));

    // The bar after the logo's step: 1 of 2 while the unit resets, 2 of 2, then empty.
    const auto progress = Progress();
    ASSERT_GE(progress.size(), 5u);
    EXPECT_EQ(std::vector<ProgressEvent>(progress.end() - 5, progress.end()),
              (std::vector<ProgressEvent>{
                  {"range", 0, 2}, {"pos", 1, 0}, {"pos", 2, 0}, {"pos", 0, 0}, {"pos", 0, 0}}));
    EXPECT_EQ(FontWeights(IDC_DEFAULT_SETTING), (std::vector<int64_t>{700, 400}));
    EXPECT_TRUE(view.Control(IDC_DEFAULT_SETTING).visible);
    EXPECT_EQ(view.Control(IDC_STATUS).text, "");
}

TEST_F(DefaultSettingTest, RefusalEndsTheProgramWithTheLabelStillBold) {
    sim::UnitConfig config;
    config.faults.push_back(
        {Fault::Trigger::Command, "EXCM w_stupall", Fault::Action::Reply, "500 failed."});
    sim::Unit& unit = StartUnit(112, config);
    WriteTextFile("KQVorlink.prm", "KQ-A2  Update\nA\nD\n");
    Open();

    ASSERT_EQ(RunAgainst(112), RunEnd::ProgramEnded);
    ASSERT_EQ(Boxes().size(), 1u);
    EXPECT_EQ(Boxes()[0].text, "500 failed.\r\n") << "never tolerated here";
    EXPECT_EQ(Boxes()[0].style, platform::kMbIconWarning);
    EXPECT_EQ(FontWeights(IDC_DEFAULT_SETTING), (std::vector<int64_t>{700}));
    // The step left the bar at 1; the run's end empties it.
    const auto progress = Progress();
    ASSERT_GE(progress.size(), 3u);
    EXPECT_EQ(std::vector<ProgressEvent>(progress.end() - 3, progress.end()),
              (std::vector<ProgressEvent>{{"range", 0, 2}, {"pos", 1, 0}, {"pos", 0, 0}}));
    const auto log = ReadLogEntries();
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log[log.size() - 2], Entry("", "Change to Default Setting"));
    EXPECT_EQ(log.back(), Entry(kRx, "500 failed.\r\n"));
    EXPECT_EQ(unit.Commands().back(), "EXCM w_stupall") << "no goodbye after a failure";
}
