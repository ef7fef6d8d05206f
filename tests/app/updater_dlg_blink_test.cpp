// The Update button and the blink timer: each step blinks its own label with the status line,
// and one worker runs at a time.
#include "tests/app/updater_dlg_fixture.h"

using namespace std::chrono_literals;

namespace {

// ---- Update button and blink timer ----

class BlinkTest : public UpdaterDlgTest {
  protected:
    // Presses Update while m_bRunning is already set: the timer starts, no worker does.
    headless::DialogView& OpenAndPressUpdate() {
        // One file for every component, and the default-setting step: every label is shown.
        for (const char* name :
             {"ab12.cpu", "fpga5m.bin", "Rsize.bin", "oem.htm", "page.htm", "CUR1.bmp", "ICON1.bmp",
              "a.sdt", "a.tbl", "a.cst", "LOGO.bmp", "Tfpga2m.bin"}) {
            WriteTextFile(name, "content");
        }
        WriteTextFile("KQVorlink.prm", "Heading\nA\nD\n");
        auto& view = Open();
        m_dialog->m_bRunning = 1;
        m_dialog->m_bUpdateDone = 1;
        view.Click(IDC_UPDATE);
        return view;
    }

    // Fires the timer until the labels have just been hidden (the phase is process-wide).
    void FireUntilHidden(headless::DialogView& view) {
        for (int i = 0; i < 2 && view.Control(IDC_STATUS).visible; ++i) {
            view.FireTimer(1);
        }
        ASSERT_FALSE(view.Control(IDC_STATUS).visible);
    }
};

TEST_F(BlinkTest, UpdateStartsTheTimerAndDisablesBothButtons) {
    auto& view = OpenAndPressUpdate();
    EXPECT_TRUE(view.TimerArmed(1));
    EXPECT_EQ(view.TimerPeriod(1), 500u);
    EXPECT_EQ(m_dialog->m_nTimerId, 1u);
    EXPECT_EQ(m_dialog->m_bUpdateDone, 0);
    EXPECT_FALSE(view.Control(IDC_UPDATE).enabled);
    EXPECT_FALSE(view.Control(IDC_EXIT).enabled);
    EXPECT_TRUE(view.Control(IDC_IP1).enabled);
    EXPECT_FALSE(m_dialog->m_pWorkerThread.joinable()); // a run was already going on
}

// Each step hides its own label (none while connecting or between steps) together with the
// status line for 200 ms, then shows both for 500 ms.
TEST_F(BlinkTest, EachStepBlinksItsOwnLabelWithTheStatusLine) {
    auto& view = OpenAndPressUpdate();
    std::vector<int> labels = kStepLabels;
    labels.push_back(IDC_DEFAULT_SETTING);
    const std::vector<std::pair<int, std::vector<int>>> stepLabel = {
        {kStepCpu, {IDC_STEP1}},     {kStepFpga5m, {IDC_STEP2}},
        {kStepScene, {IDC_STEP10}},  {kStepLogo, {IDC_STEP11}},
        {kStepFpga2m, {IDC_STEP12}}, {kStepDefaultSetting, {IDC_DEFAULT_SETTING}},
        {kStepConnecting, {}},       {kStepBetween, {}}};
    for (const auto& [step, label] : stepLabel) {
        SCOPED_TRACE(step);
        m_dialog->m_nUpdateStep = step;
        FireUntilHidden(view);
        EXPECT_EQ(labels.size() - VisibleOf(labels).size(), label.size());
        for (const int id : label) {
            EXPECT_FALSE(view.Control(id).visible);
        }
        EXPECT_EQ(view.TimerPeriod(1), 200u);

        view.FireTimer(1);
        EXPECT_EQ(VisibleOf(labels), labels);
        EXPECT_TRUE(view.Control(IDC_STATUS).visible);
        EXPECT_EQ(view.TimerPeriod(1), 500u);
        EXPECT_EQ(m_dialog->m_nTimerId, 1u);
    }
}

TEST_F(BlinkTest, OtherStepCodesChangeNothing) {
    auto& view = OpenAndPressUpdate();
    m_dialog->m_nUpdateStep = kStepLogo;
    FireUntilHidden(view);
    for (const int step : {int(kStepNone), 15, -2, 1000}) {
        SCOPED_TRACE(step);
        m_dialog->m_nUpdateStep = step;
        Desktop::Instance().ClearEvents();
        view.FireTimer(1);
        EXPECT_TRUE(EventsOfKind("show").empty());
        EXPECT_TRUE(EventsOfKind("settimer").empty());
        EXPECT_FALSE(view.Control(IDC_STATUS).visible);
        EXPECT_EQ(view.TimerPeriod(1), 200u);
    }
}

// A run that stops at the address check: the worker really runs, but nothing is sent anywhere.
TEST_F(UpdaterDlgTest, UpdateRunsOneWorkerAtATimeAndCanBePressedAgain) {
    auto& view = Open();
    auto& desktop = Desktop::Instance();
    view.Type(IDC_IP1, "x");
    for (size_t press = 1; press <= 2; ++press) {
        SCOPED_TRACE(press);
        view.Click(IDC_UPDATE);
        ASSERT_TRUE(desktop.WaitForMessageBoxes(press, 5s));
        EXPECT_EQ(desktop.MessageBoxes().back().text, "Error : IP(0) Address Error.");
        const auto deadline = std::chrono::steady_clock::now() + 5s;
        while (m_dialog->m_bRunning != 0 && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(5ms);
        }
        ASSERT_EQ(m_dialog->m_bRunning, 0);
        EXPECT_TRUE(view.Control(IDC_UPDATE).enabled);
        EXPECT_TRUE(view.Control(IDC_EXIT).enabled);
        EXPECT_FALSE(view.TimerArmed(1));
    }
    view.Click(IDC_EXIT);
    ASSERT_TRUE(m_runner->WaitEnded(5s));
    EXPECT_EQ(desktop.MessageBoxes().size(), 2u); // a failed run asks for no restart
}

} // namespace
