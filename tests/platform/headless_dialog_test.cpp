// The headless dialog backend: the model built from the templates, the modal loop that carries
// other threads' calls to the dialog's thread in order, a person's actions, timers, message
// boxes and nested modal dialogs. A small dialog class of its own stands in for the program's.

#include "app/res/resource.h"
#include "platform/dialog.h"
#include "platform/headless/desktop.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using headless::Desktop;
using headless::DialogRunner;
using headless::Event;
using headless::MessageBoxRecord;
using platform::CDialog;

namespace {

// Records which handler ran on which thread; can refuse to close, and opens a nested dialog from
// the system menu as the main dialog does with its About box.
class ProbeDialog : public CDialog {
  public:
    explicit ProbeDialog(int templateId = IDD_UPDATER_DIALOG) : CDialog(templateId) {}

    bool OnInitDialog() override {
        dialogThread = std::this_thread::get_id();
        SetDlgItemText(IDC_IP1, "192");
        SetCaption("Probe");
        return initReturns;
    }
    void OnCommand(int id, int notifyCode) override {
        Note("command " + std::to_string(id) + "/" + std::to_string(notifyCode));
        CDialog::OnCommand(id, notifyCode);
    }
    void OnTimer(unsigned id) override { Note("timer " + std::to_string(id)); }
    void OnClose() override {
        Note("close");
        if (refuseClose)
            MessageBox("busy", platform::kMbIconWarning);
        else
            CDialog::OnClose();
    }
    bool OnSysCommand(unsigned id) override {
        Note("syscommand " + std::to_string(id));
        if (id != IDM_ABOUTBOX)
            return false;
        CDialog nested(IDD_ABOUTBOX);
        nestedResult = nested.DoModal();
        return true;
    }

    std::vector<std::string> Notes() {
        std::lock_guard lock(m_mutex);
        return m_notes;
    }

    std::thread::id dialogThread;
    std::atomic<bool> handlerOffThread{false};
    std::atomic<bool> refuseClose{false};
    std::atomic<int> nestedResult{-100};
    bool initReturns = true;

  private:
    void Note(const std::string& note) {
        if (std::this_thread::get_id() != dialogThread)
            handlerOffThread = true;
        std::lock_guard lock(m_mutex);
        m_notes.push_back(note);
    }
    std::mutex m_mutex;
    std::vector<std::string> m_notes;
};

std::vector<Event> EventsOfKind(const std::string& kind) {
    std::vector<Event> out;
    for (const Event& e : Desktop::Instance().Events())
        if (e.kind == kind)
            out.push_back(e);
    return out;
}

class HeadlessDialogTest : public ::testing::Test {
  protected:
    void SetUp() override { Desktop::Instance().Reset(); }
    void TearDown() override { Desktop::Instance().Reset(); }
};

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
