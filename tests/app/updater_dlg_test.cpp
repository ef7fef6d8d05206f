// The main dialog as a person sees it in the headless backend: what it shows after opening, the
// address fields, the close guard and the About box. No test here presses Update with a run
// starting: m_bRunning is set first, so the button starts no worker.

#include "tests/app/updater_dlg_fixture.h"

using namespace std::chrono_literals;
using headless::Desktop;

namespace {
// ---- opening ----

TEST_F(UpdaterDlgTest, OpensWithCaptionTitleAddressAndFocusOnFirstField) {
    WriteTextFile("KQVorlink.log", "a line of an earlier run\r\n");
    auto& view = Open();

    EXPECT_EQ(view.Caption(), "KQVorlink.exe Rev. " KQ_FILE_VERSION_TEXT);
    EXPECT_EQ(view.Control(IDC_TITLE).text, "KQ-A2  Update");
    EXPECT_EQ(view.Control(IDC_MODEL).text, "KQ-A2");
    EXPECT_STREQ(m_dialog->m_szModel, "KQ-A2");
    EXPECT_EQ(view.Control(IDC_IP1).text, "192");
    EXPECT_EQ(view.Control(IDC_IP2).text, "168");
    EXPECT_EQ(view.Control(IDC_IP3).text, "010");
    EXPECT_EQ(view.Control(IDC_IP4).text, "002");
    EXPECT_EQ(view.FocusedId(), IDC_IP1);
    EXPECT_EQ(view.Control(IDC_IP1).selStart, 0);
    EXPECT_EQ(view.Control(IDC_IP1).selEnd, 3);
    EXPECT_EQ(view.SystemMenuItems(), std::vector<std::string>{"About KQVorlink"});
    EXPECT_TRUE(view.Control(IDC_UPDATE).enabled);
    EXPECT_TRUE(view.Control(IDC_EXIT).enabled);

    // The earlier run's log is gone; the new one starts with the socket library's start-up.
    const std::string log = ReadTextFile("KQVorlink.log");
    EXPECT_EQ(log.find("earlier run"), std::string::npos);
    EXPECT_NE(log.find("WinSock initialize"), std::string::npos);
}

TEST_F(UpdaterDlgTest, DefaultAddressMovesFocusOncePerFieldAsTypingWould) {
    Open();
    std::vector<int> focusOrder;
    for (const auto& event : EventsOfKind("focus")) {
        focusOrder.push_back(event.id);
    }
    // Each field moves the focus exactly once; then it goes back to the first field (the dialog
    // manager may focus it again for the first tab stop).
    ASSERT_GE(focusOrder.size(), 5u);
    EXPECT_EQ(std::vector<int>(focusOrder.begin(), focusOrder.begin() + 5),
              (std::vector<int>{IDC_IP2, IDC_IP3, IDC_IP4, IDC_UPDATE, IDC_IP1}));
    EXPECT_EQ(focusOrder.back(), IDC_IP1);
}

TEST_F(UpdaterDlgTest, SixTextsAreBoldTahomaAndTheRestKeepTheTemplateFont) {
    auto& view = Open();
    const std::set<int> bold = {IDC_MODEL,        IDC_TITLE,  IDC_CAUTION,
                                IDC_VERSION_LINE, IDC_STATUS, IDC_DATA};
    for (const auto& control : view.Controls()) {
        SCOPED_TRACE(control.id);
        if (bold.count(control.id) != 0) {
            EXPECT_EQ(control.fontFace, "tahoma");
            EXPECT_EQ(control.fontWeight, 700);
            EXPECT_EQ(control.fontHeight, 16);
        } else {
            EXPECT_EQ(control.fontFace, "");
        }
    }
    // The bold font goes on in this order.
    std::vector<int> order;
    for (const auto& event : EventsOfKind("font")) {
        order.push_back(event.id);
    }
    EXPECT_EQ(order, (std::vector<int>{IDC_MODEL, IDC_TITLE, IDC_CAUTION, IDC_VERSION_LINE,
                                       IDC_STATUS, IDC_DATA}));
    EXPECT_EQ(m_dialog->m_fontNormal.Weight(), 400);
    EXPECT_EQ(m_dialog->m_fontNormal.Face(), "tahoma");
}

TEST_F(UpdaterDlgTest, EmptyFolderHidesDataHeadingAndEveryStepNumber) {
    WriteTextFile("empty.sdt", "");
    auto& view = Open();
    EXPECT_FALSE(view.Control(IDC_DATA).visible);
    EXPECT_EQ(VisibleOf(kStepLabels), std::vector<int>{});
    EXPECT_FALSE(view.Control(IDC_DEFAULT_SETTING).visible);
    EXPECT_TRUE(view.Control(IDC_STATUS).visible);
}

TEST_F(UpdaterDlgTest, StepNumbersShowExactlyTheComponentsPresent) {
    WriteTextFile("LOGO.bmp", "BM logo");
    WriteTextFile("gamma.tbl", "table");
    WriteTextFile("Tfpga.bin", "bits");
    WriteTextFile("empty.sdt", "");
    auto& view = Open();
    EXPECT_TRUE(view.Control(IDC_DATA).visible);
    EXPECT_EQ(VisibleOf(kStepLabels), (std::vector<int>{IDC_STEP9, IDC_STEP11, IDC_STEP12}));
}

TEST_F(UpdaterDlgTest, ParameterFileGivesHeadingModelAndDefaultSetting) {
    WriteTextFile("KQVorlink.prm", "\n\nService heading\nU\nD\n");
    auto& view = Open();
    EXPECT_EQ(view.Control(IDC_TITLE).text, "Service heading");
    EXPECT_EQ(view.Control(IDC_MODEL).text, "KQ-B2");
    EXPECT_STREQ(m_dialog->m_szModel, "KQ-B2");
    EXPECT_TRUE(view.Control(IDC_DEFAULT_SETTING).visible);
    EXPECT_EQ(m_dialog->m_bDefaultSetting, 1);
}

TEST_F(UpdaterDlgTest, ZeroByteParameterFileCountsAsAbsent) {
    WriteTextFile("KQVorlink.prm", "");
    auto& view = Open();
    EXPECT_EQ(view.Control(IDC_TITLE).text, "KQ-A2  Update");
    EXPECT_STREQ(m_dialog->m_szModel, "KQ-A2");
    EXPECT_FALSE(view.Control(IDC_DEFAULT_SETTING).visible);
}

// ---- address fields ----

TEST_F(UpdaterDlgTest, ThreeCharactersMoveTheFocusOn) {
    auto& view = Open();
    view.Type(IDC_IP1, "12");
    EXPECT_EQ(view.FocusedId(), IDC_IP1);
    view.Type(IDC_IP1, "127");
    EXPECT_EQ(view.FocusedId(), IDC_IP2);
    EXPECT_EQ(view.Control(IDC_IP2).selStart, 0);
    EXPECT_EQ(view.Control(IDC_IP2).selEnd, 3);
    view.Type(IDC_IP2, "0");
    EXPECT_EQ(view.FocusedId(), IDC_IP2);
    view.Type(IDC_IP3, "abcd"); // any characters count; the run checks them
    EXPECT_EQ(view.FocusedId(), IDC_IP4);
    view.Type(IDC_IP4, "001");
    EXPECT_EQ(view.FocusedId(), IDC_UPDATE);
}

// ---- colours ----

TEST_F(UpdaterDlgTest, TextColoursByControl) {
    auto& view = Open();
    const uint32_t red = platform::Rgb(255, 0, 0);
    const uint32_t black = platform::Rgb(0, 0, 0);
    const uint32_t navy = platform::Rgb(0, 0, 128);
    const std::set<int> blackIds = {IDC_MODEL, IDC_TITLE, IDC_IP_CAPTION,
                                    IDC_DOT1,  IDC_DOT2,  IDC_DOT3};
    int navyCount = 0;
    for (const auto& control : view.Controls()) {
        SCOPED_TRACE(control.id);
        const auto colour = m_dialog->OnCtlColor(control.id, control.kind);
        if (control.kind != platform::ControlKind::Static) {
            EXPECT_FALSE(colour.has_value());
        } else if (control.id == IDC_CAUTION) {
            EXPECT_EQ(colour, red);
        } else if (blackIds.count(control.id) != 0) {
            EXPECT_EQ(colour, black);
        } else {
            EXPECT_EQ(colour, navy);
            ++navyCount;
        }
    }
    // DATA, twelve step numbers, default setting, status line and version line.
    EXPECT_EQ(navyCount, 16);
}

// ---- closing ----

TEST_F(UpdaterDlgTest, EveryWayOfClosingIsRefusedDuringARun) {
    auto& view = Open();
    m_dialog->m_bRunning = 1;
    auto& desktop = Desktop::Instance();

    view.Close();
    view.SysCommand(platform::kScClose);
    view.Click(IDC_EXIT); // posts the close
    ASSERT_TRUE(desktop.WaitForMessageBoxes(3, 5s));
    for (const auto& box : desktop.MessageBoxes()) {
        EXPECT_EQ(box.text, "Cannot be ended during download processing.");
        EXPECT_EQ(box.style, platform::kMbIconWarning);
        EXPECT_EQ(box.caption, "KQVorlink");
        EXPECT_TRUE(box.owned);
    }
    view.PressEnter();
    view.PressEscape();
    EXPECT_FALSE(m_runner->Ended());
    EXPECT_EQ(desktop.MessageBoxes().size(), 3u);

    // Once the run is over, the same Exit ends the dialog.
    m_dialog->m_bRunning = 0;
    view.Click(IDC_EXIT);
    ASSERT_TRUE(m_runner->WaitEnded(5s));
    EXPECT_EQ(m_runner->Result(), platform::kIdCancel);
    EXPECT_EQ(desktop.MessageBoxes().size(), 3u); // no restart notice: no run succeeded
}

TEST_F(UpdaterDlgTest, AfterASuccessfulRunExitAsksToRestartTheDevices) {
    auto& view = Open();
    m_dialog->m_bUpdateDone = 1;
    view.Click(IDC_EXIT);
    ASSERT_TRUE(m_runner->WaitEnded(5s));
    const auto boxes = Desktop::Instance().MessageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "KQVorlink.EXE end.  Please restart all devices.");
    EXPECT_EQ(boxes[0].style, platform::kMbIconInformation);
    EXPECT_EQ(m_runner->Result(), platform::kIdCancel);
}

TEST_F(UpdaterDlgTest, EnterAndEscapeEndTheDialogWhenIdle) {
    auto& view = Open();
    view.PressEnter();
    ASSERT_TRUE(m_runner->WaitEnded(5s));
    EXPECT_EQ(m_runner->Result(), platform::kIdOk);
    EXPECT_TRUE(Desktop::Instance().MessageBoxes().empty());

    m_runner.reset();
    m_dialog.reset();
    auto& again = Open();
    again.PressEscape();
    ASSERT_TRUE(m_runner->WaitEnded(5s));
    EXPECT_EQ(m_runner->Result(), platform::kIdCancel);
}

// ---- About box ----

TEST_F(UpdaterDlgTest, AboutBoxShowsVersionAndCopyrightEachTimeItOpens) {
    auto& view = Open();
    auto& desktop = Desktop::Instance();
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        view.SysCommandAsync(IDM_ABOUTBOX);
        headless::DialogView* about = desktop.WaitFor(IDD_ABOUTBOX, 5s);
        ASSERT_NE(about, nullptr);
        // The program's own table has no description, so the line starts with a blank.
        EXPECT_EQ(about->Control(IDC_ABOUT_VERSION).text, " Version " KQ_FILE_VERSION_TEXT);
        EXPECT_EQ(about->Control(IDC_ABOUT_COPYRIGHT).text,
                  KQ_LEGAL_COPYRIGHT " " KQ_COMPANY_NAME "\n");
        about->Click(IDOK);
        const auto deadline = std::chrono::steady_clock::now() + 5s;
        while (desktop.Find(IDD_ABOUTBOX) != nullptr &&
               std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(5ms);
        }
        ASSERT_EQ(desktop.Find(IDD_ABOUTBOX), nullptr);
    }
    EXPECT_FALSE(m_runner->Ended());
}

// ---- failure reports shared by the link and update steps ----

TEST_F(UpdaterDlgTest, SocketErrorIsReportedWithTheFailingCallsCaption) {
    Open();
    platform::SetLastSocketError(platform::kWsaEconnrefused);
    m_dialog->ReportSocketError("connect() Error");

    const std::string expected = SocketErrorTextFor(platform::kWsaEconnrefused);
    const auto boxes = Desktop::Instance().MessageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, expected);
    EXPECT_EQ(boxes[0].style, platform::kMbIconError);
    const std::string log = ReadTextFile("KQVorlink.log");
    EXPECT_NE(log.find(" connect() Error " + expected + "\r\n"), std::string::npos) << log;
}

} // namespace
