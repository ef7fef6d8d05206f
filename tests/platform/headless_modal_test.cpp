// The headless backend's message boxes and nested modal dialogs: answered on the showing thread,
// waited out by workers, and ended by the runner.

#include "tests/platform/headless_dialog_fixture.h"

namespace {

TEST_F(HeadlessDialogTest, MessageBoxesAreAnsweredOnTheShowingThreadWithoutHoldingTheModel) {
    ProbeDialog dialog;
    DialogRunner runner(dialog);
    std::thread::id answeredOn;
    std::string statusSeenByResponder;
    Desktop::Instance().SetMessageBoxResponder([&](const MessageBoxRecord& box) {
        answeredOn = std::this_thread::get_id();
        // Reading the dialog and the record from the responder must not block.
        statusSeenByResponder = runner.View().Control(IDC_IP1).text;
        (void)Desktop::Instance().Events();
        return box.style == platform::kMbIconError ? platform::kIdCancel : platform::kIdOk;
    });

    int answer = 0;
    std::thread::id workerId;
    std::thread worker([&] {
        workerId = std::this_thread::get_id();
        answer = dialog.MessageBox("Error : Connection refused.", platform::kMbIconError);
        dialog.SetDlgItemText(IDC_STATUS, "after");
    });
    worker.join();
    EXPECT_EQ(answer, platform::kIdCancel);
    EXPECT_EQ(answeredOn, workerId);
    EXPECT_EQ(statusSeenByResponder, "192");

    EXPECT_EQ(platform::MessageBoxNoOwner("Error 0x00000002", "KQVorlink", 0x30), platform::kIdOk);
    const std::vector<MessageBoxRecord> boxes = Desktop::Instance().MessageBoxes();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].caption, "KQVorlink");
    EXPECT_TRUE(boxes[0].owned);
    EXPECT_FALSE(boxes[1].owned);
    EXPECT_EQ(boxes[1].style, 0x30u);
    EXPECT_TRUE(Desktop::Instance().WaitForMessageBoxes(2, 0ms));
    EXPECT_FALSE(Desktop::Instance().WaitForMessageBoxes(3, 10ms));

    Desktop::Instance().Reset();
    EXPECT_EQ(dialog.MessageBox("Update Complete.", platform::kMbIconInformation), platform::kIdOk);
}

TEST_F(HeadlessDialogTest, WorkerCallsWaitOutABoxOnTheDialogThread) {
    ProbeDialog dialog;
    dialog.refuseClose = true;
    DialogRunner runner(dialog);
    std::atomic<bool> boxOpen{false};
    Desktop::Instance().SetMessageBoxResponder([&](const MessageBoxRecord&) {
        boxOpen = true;
        std::this_thread::sleep_for(100ms);
        return platform::kIdOk;
    });
    std::thread closer([&] { runner.View().Close(); });
    while (!boxOpen)
        std::this_thread::yield();
    dialog.SetDlgItemText(IDC_STATUS, "while the box is open");
    closer.join();

    const std::vector<Event> events = Desktop::Instance().Events();
    size_t box = 0, text = 0;
    for (size_t i = 0; i < events.size(); ++i) {
        if (events[i].kind == "msgbox")
            box = i;
        if (events[i].kind == "text" && events[i].id == IDC_STATUS)
            text = i;
    }
    EXPECT_LT(box, text);
    EXPECT_FALSE(runner.Ended());
}

TEST_F(HeadlessDialogTest, NestedModalDialogKeepsTheOuterDialogServed) {
    ProbeDialog dialog;
    DialogRunner runner(dialog);
    runner.View().SysCommandAsync(IDM_ABOUTBOX);
    headless::DialogView* about = Desktop::Instance().WaitFor(IDD_ABOUTBOX, 5s);
    ASSERT_NE(about, nullptr);
    EXPECT_EQ(about->FocusedId(), IDOK); // the first tab stop of the box
    EXPECT_EQ(about->Caption(), "About KQVorlink");

    // The inner loop carries the worker's calls to the outer dialog, and the outer's handlers.
    std::thread([&] { dialog.SetDlgItemText(IDC_STATUS, "during About"); }).join();
    EXPECT_EQ(runner.View().Control(IDC_STATUS).text, "during About");
    runner.View().Type(IDC_IP2, "1");
    EXPECT_EQ(dialog.Notes().back(), "command 1027/768");

    about->Click(IDOK);
    for (int i = 0; i < 500 && dialog.nestedResult == -100; ++i)
        std::this_thread::sleep_for(10ms);
    EXPECT_EQ(dialog.nestedResult, platform::kIdOk);
    EXPECT_EQ(Desktop::Instance().Find(IDD_ABOUTBOX), nullptr);
    EXPECT_FALSE(runner.Ended());
    EXPECT_FALSE(dialog.handlerOffThread);
}

TEST_F(HeadlessDialogTest, RunnerEndsANestedDialogToo) {
    ProbeDialog dialog;
    {
        DialogRunner runner(dialog);
        runner.View().SysCommandAsync(IDM_ABOUTBOX);
        ASSERT_NE(Desktop::Instance().WaitFor(IDD_ABOUTBOX, 5s), nullptr);
    }
    EXPECT_EQ(dialog.nestedResult, platform::kIdCancel);
}

TEST(HeadlessResources, TitleStringsAndIcons) {
    EXPECT_STREQ(platform::ApplicationTitle(), "KQVorlink");
    EXPECT_EQ(platform::LoadStringResource(IDS_ABOUTBOX), "About KQVorlink");
    EXPECT_EQ(platform::LoadStringResource(4242), "");
    EXPECT_NE(platform::LoadIconResource(IDR_MAINFRAME), nullptr);
}

} // namespace
