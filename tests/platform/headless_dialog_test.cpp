// The headless dialog backend: the model built from the templates, the modal loop that carries
// other threads' calls to the dialog's thread in order, a person's actions and timers. A small
// dialog class of its own stands in for the program's.

#include "tests/platform/headless_dialog_fixture.h"

namespace {

TEST_F(HeadlessDialogTest, OpensWithTheTemplateAndTheDialogManagersFocus) {
    ProbeDialog dialog;
    DialogRunner runner(dialog);
    headless::DialogView& view = runner.View();

    EXPECT_EQ(Desktop::Instance().Find(IDD_UPDATER_DIALOG), &view);
    EXPECT_EQ(view.Caption(), "Probe");
    EXPECT_EQ(view.Control(IDC_UPDATE).text, "Update");
    EXPECT_FALSE(view.Control(IDC_DEFAULT_SETTING).visible);
    EXPECT_EQ(view.Control(IDC_PROGRESS).kind, platform::ControlKind::Progress);
    EXPECT_EQ(view.Controls().front().id, IDC_IP1);
    EXPECT_THROW(view.Control(4242), std::out_of_range);

    // A program's own text change of an edit control notifies the dialog too.
    EXPECT_EQ(dialog.Notes().at(0), "command 1026/768");
    // A true result from OnInitDialog puts the focus on the first tab stop, text selected.
    EXPECT_EQ(view.FocusedId(), IDC_IP1);
    EXPECT_EQ(view.Control(IDC_IP1).selStart, 0);
    EXPECT_EQ(view.Control(IDC_IP1).selEnd, 3);
}

TEST_F(HeadlessDialogTest, FalseFromInitDialogLeavesTheFocusAlone) {
    ProbeDialog dialog;
    dialog.initReturns = false;
    DialogRunner runner(dialog);
    EXPECT_EQ(runner.View().FocusedId(), 0);
}

TEST_F(HeadlessDialogTest, OtherThreadsCallsRunOnTheDialogThreadInCallOrder) {
    ProbeDialog dialog;
    DialogRunner runner(dialog);
    Desktop::Instance().ClearEvents();

    std::atomic<bool> ranOnDialogThread{false};
    std::string readBack;
    std::thread worker([&] {
        for (int i = 0; i < 50; ++i) {
            std::string status(1, 's');
            status += std::to_string(i);
            dialog.SetDlgItemText(IDC_STATUS, status);
            dialog.SetProgressPos(IDC_PROGRESS, uint32_t(i));
        }
        dialog.SetDlgItemText(IDC_IP2, "77");
        readBack = dialog.GetDlgItemText(IDC_IP2);
        dialog.RunOnDialogThread(
            [&] { ranOnDialogThread = std::this_thread::get_id() == dialog.dialogThread; });
    });
    // The person acts at the same time; neither side may block the other.
    for (int i = 0; i < 20; ++i)
        runner.View().Type(IDC_IP3, std::to_string(i));
    worker.join();

    EXPECT_FALSE(dialog.handlerOffThread);
    EXPECT_TRUE(ranOnDialogThread);
    EXPECT_EQ(readBack, "77");
    std::vector<std::string> statusTexts;
    std::vector<int64_t> positions;
    for (const Event& e : Desktop::Instance().Events()) {
        if (e.kind == "text" && e.id == IDC_STATUS)
            statusTexts.push_back(e.text);
        if (e.kind == "pos")
            positions.push_back(e.a);
    }
    ASSERT_EQ(statusTexts.size(), 50u);
    ASSERT_EQ(positions.size(), 50u);
    for (int i = 0; i < 50; ++i) {
        EXPECT_EQ(statusTexts[i], "s" + std::to_string(i));
        EXPECT_EQ(positions[i], i);
    }
    EXPECT_EQ(runner.View().Control(IDC_IP3).text, "19");
}

TEST_F(HeadlessDialogTest, ControlStateFollowsEveryChange) {
    ProbeDialog dialog;
    DialogRunner runner(dialog);
    headless::DialogView& view = runner.View();
    platform::CFont bold;
    bold.Create(16, 700, "tahoma");

    std::thread worker([&] {
        dialog.ShowDlgItem(IDC_DATA, false);
        dialog.EnableDlgItem(IDC_UPDATE, false);
        dialog.SetDlgItemFont(IDC_TITLE, bold);
        dialog.SetProgressRange(IDC_PROGRESS, 0, 200000);
        dialog.SetProgressPos(IDC_PROGRESS, 196608);
        dialog.SetDlgItemText(IDC_IP4, "002");
        dialog.SelectAllText(IDC_IP4);
        dialog.SetFocusTo(IDC_EXIT);
    });
    worker.join();

    EXPECT_FALSE(view.Control(IDC_DATA).visible);
    EXPECT_FALSE(dialog.IsDlgItemVisible(IDC_DATA));
    EXPECT_FALSE(view.Control(IDC_UPDATE).enabled);
    EXPECT_EQ(view.Control(IDC_TITLE).fontFace, "tahoma");
    EXPECT_EQ(view.Control(IDC_TITLE).fontWeight, 700);
    EXPECT_EQ(view.Control(IDC_TITLE).fontHeight, 16);
    EXPECT_EQ(view.Control(IDC_PROGRESS).rangeHigh, 200000u);
    EXPECT_EQ(view.Control(IDC_PROGRESS).pos, 196608u);
    EXPECT_EQ(view.Control(IDC_IP4).selEnd, 3);
    EXPECT_EQ(view.FocusedId(), IDC_EXIT);

    // A bar keeps its position inside its range.
    dialog.SetProgressRange(IDC_PROGRESS, 0, 100);
    EXPECT_EQ(view.Control(IDC_PROGRESS).pos, 100u);
    dialog.SetProgressPos(IDC_PROGRESS, 500);
    EXPECT_EQ(view.Control(IDC_PROGRESS).pos, 100u);
    // Controls the template does not have change nothing.
    dialog.SetDlgItemText(4242, "x");
    EXPECT_EQ(dialog.GetDlgItemText(4242), "");
}

TEST_F(HeadlessDialogTest, PersonsActionsReachTheHandlers) {
    ProbeDialog dialog;
    DialogRunner runner(dialog);
    headless::DialogView& view = runner.View();

    view.Type(IDC_IP2, "10");
    EXPECT_EQ(view.Control(IDC_IP2).text, "10");
    view.Click(IDC_UPDATE);
    dialog.EnableDlgItem(IDC_EXIT, false);
    view.Click(IDC_EXIT);  // disabled: nothing
    view.Click(IDC_TITLE); // not a button: nothing
    view.SysCommand(0xF020);

    const std::vector<std::string> notes = dialog.Notes();
    const std::vector<std::string> expected = {"command 1026/768", "command 1027/768",
                                               "command 1001/0", "syscommand 61472"};
    EXPECT_EQ(notes, expected);
    EXPECT_FALSE(runner.Ended());
}

TEST_F(HeadlessDialogTest, EveryWayOfClosingEndsWithItsResult) {
    {
        ProbeDialog dialog;
        DialogRunner runner(dialog);
        runner.View().PressEnter();
        ASSERT_TRUE(runner.WaitEnded(5s));
        EXPECT_EQ(runner.Result(), platform::kIdOk);
    }
    {
        ProbeDialog dialog;
        DialogRunner runner(dialog);
        runner.View().PressEscape();
        ASSERT_TRUE(runner.WaitEnded(5s));
        EXPECT_EQ(runner.Result(), platform::kIdCancel);
    }
    {
        // The system menu's Close arrives at OnClose when OnSysCommand leaves it alone.
        ProbeDialog dialog;
        DialogRunner runner(dialog);
        runner.View().SysCommand(platform::kScClose);
        ASSERT_TRUE(runner.WaitEnded(5s));
        EXPECT_EQ(dialog.Notes().back(), "close");
        EXPECT_EQ(runner.Result(), platform::kIdCancel);
    }
    {
        // A close posted from another thread is handled by the dialog's thread later.
        ProbeDialog dialog;
        DialogRunner runner(dialog);
        std::thread([&] { dialog.PostClose(); }).join();
        ASSERT_TRUE(runner.WaitEnded(5s));
        EXPECT_FALSE(dialog.handlerOffThread);
        EXPECT_EQ(EventsOfKind("postclose").size(), 1u);
        EXPECT_EQ(EventsOfKind("end").back().a, platform::kIdCancel);
    }
    EXPECT_EQ(Desktop::Instance().Find(IDD_UPDATER_DIALOG), nullptr);
}

TEST_F(HeadlessDialogTest, RefusedCloseKeepsTheDialogOpenAndRunnerStillCleansUp) {
    auto dialog = std::make_unique<ProbeDialog>();
    dialog->refuseClose = true;
    {
        DialogRunner runner(*dialog);
        runner.View().Close();
        EXPECT_FALSE(runner.WaitEnded(50ms));
        ASSERT_EQ(Desktop::Instance().MessageBoxes().size(), 1u);
        EXPECT_EQ(Desktop::Instance().MessageBoxes()[0].text, "busy");
    } // the runner ends the dialog without its close guard
    // After the end, calls find no window and change nothing.
    dialog->SetDlgItemText(IDC_STATUS, "late");
    EXPECT_EQ(dialog->GetDlgItemText(IDC_STATUS), "");
}

TEST_F(HeadlessDialogTest, TimersFireOnlyWhileArmed) {
    ProbeDialog dialog;
    DialogRunner runner(dialog);
    headless::DialogView& view = runner.View();

    view.FireTimer(1);
    EXPECT_EQ(dialog.SetTimer(1, 500), 1u);
    EXPECT_TRUE(view.TimerArmed(1));
    EXPECT_EQ(view.TimerPeriod(1), 500u);
    view.FireTimer(1);
    view.FireTimer(2);
    std::thread([&] { dialog.KillTimer(1); }).join();
    view.FireTimer(1);

    EXPECT_FALSE(view.TimerArmed(1));
    const std::vector<std::string> notes = dialog.Notes();
    EXPECT_EQ(std::count(notes.begin(), notes.end(), "timer 1"), 1);
    ASSERT_EQ(EventsOfKind("settimer").size(), 1u);
    EXPECT_EQ(EventsOfKind("settimer")[0].a, 500);
    ASSERT_EQ(EventsOfKind("killtimer").size(), 1u);
}

} // namespace
