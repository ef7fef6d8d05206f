// The application object: one copy at a time, and the main dialog run until it closes.

#include "app/res/resource.h"
#include "app/updater_app.h"
#include "platform/headless/desktop.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

using namespace std::chrono_literals;
using headless::Desktop;

namespace {

// Runs a copy of the program on a thread of its own, as the process's main thread would.
class RunningCopy {
  public:
    RunningCopy() : m_thread([this] { m_result = m_app.InitInstance() ? 1 : 0; }) {}
    ~RunningCopy() {
        if (!m_thread.joinable()) {
            return;
        }
        // A test that stopped early still closes the dialog, so the copy can end.
        if (auto* view = Desktop::Instance().Find(IDD_UPDATER_DIALOG)) {
            view->Close();
        }
        m_thread.join();
    }
    // Closes the main dialog as a person would and waits for the copy to finish.
    int CloseAndWait(headless::DialogView& view) {
        view.Close();
        m_thread.join();
        return m_result;
    }
    CUpdaterApp& App() { return m_app; }

  private:
    CUpdaterApp m_app;
    std::atomic<int> m_result{-1};
    std::thread m_thread;
};

class UpdaterAppTest : public ::testing::Test {
  protected:
    void SetUp() override { Desktop::Instance().Reset(); }
    void TearDown() override { Desktop::Instance().Reset(); }
    TempFolder m_folder{"app-instance"};
};

TEST_F(UpdaterAppTest, OnlyOneCopyRunsAtATime) {
    auto& desktop = Desktop::Instance();
    {
        // Another copy holds the instance name.
        platform::SingleInstanceLock other;
        ASSERT_EQ(other.Acquire("KQVorlink"), platform::SingleInstanceLock::Result::Acquired);
        CUpdaterApp second;
        EXPECT_FALSE(second.InitInstance());
        EXPECT_EQ(second.ExitInstance(), 0);
        const auto boxes = desktop.MessageBoxes();
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].text, "KQVorlink.EXE is already started.");
        EXPECT_EQ(boxes[0].caption, "KQVorlink");
        EXPECT_EQ(boxes[0].style, platform::kMbIconWarning);
        EXPECT_FALSE(boxes[0].owned);
        EXPECT_EQ(desktop.Find(IDD_UPDATER_DIALOG), nullptr); // no window was opened
        // The refused copy's release leaves the holder's lock in place.
        platform::SingleInstanceLock probe;
        EXPECT_EQ(probe.Acquire("KQVorlink"), platform::SingleInstanceLock::Result::AlreadyExists);
    }
    desktop.Reset();

    // Once the other copy has ended, a new copy starts and shows its dialog...
    RunningCopy first;
    headless::DialogView* view = desktop.WaitFor(IDD_UPDATER_DIALOG, 5s);
    ASSERT_NE(view, nullptr);
    EXPECT_NE(first.App().m_pMainWnd, nullptr);

    // ...and while it runs, yet another copy is refused without disturbing it.
    {
        CUpdaterApp third;
        EXPECT_FALSE(third.InitInstance());
        third.ExitInstance();
    }
    ASSERT_EQ(desktop.MessageBoxes().size(), 1u);
    EXPECT_EQ(desktop.MessageBoxes()[0].text, "KQVorlink.EXE is already started.");
    EXPECT_EQ(desktop.Find(IDD_UPDATER_DIALOG), view);

    // Closing the dialog ends the copy: InitInstance returns false and the name is free again.
    EXPECT_EQ(first.CloseAndWait(*view), 0);
    EXPECT_EQ(first.App().m_pMainWnd, nullptr);
    EXPECT_EQ(first.App().ExitInstance(), 0);
    platform::SingleInstanceLock after;
    EXPECT_EQ(after.Acquire("KQVorlink"), platform::SingleInstanceLock::Result::Acquired);
}

} // namespace
