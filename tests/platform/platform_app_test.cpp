// The application object stand-in: which object is current, and what RunApplication returns.

#include "platform/app.h"

#include <gtest/gtest.h>

#include <string>

namespace {

class RecordingApp : public platform::CWinApp {
  public:
    explicit RecordingApp(int exitCode) : m_exitCode(exitCode) {}
    bool InitInstance() override {
        order += "init;";
        return false; // a dialog program ends once its dialog has closed
    }
    int ExitInstance() override {
        order += "exit;";
        return m_exitCode;
    }
    std::string order;

  private:
    int m_exitCode;
};

TEST(PlatformApp, RunsTheNewestApplicationObjectAndReturnsItsExitCode) {
    RecordingApp first(3);
    {
        RecordingApp second(7);
        EXPECT_EQ(platform::CWinApp::Current(), &second);
        EXPECT_EQ(platform::RunApplication(), 7);
        EXPECT_EQ(second.order, "init;exit;");
        EXPECT_EQ(first.order, "");
    }
    // Once the newest object is gone, the one before it is current again.
    EXPECT_EQ(platform::CWinApp::Current(), &first);
    EXPECT_EQ(platform::RunApplication(), 3);
}

TEST(PlatformApp, WithoutApplicationObjectRunningFails) {
    if (platform::CWinApp::Current() != nullptr)
        GTEST_SKIP() << "the program's own application object is linked in";
    EXPECT_EQ(platform::RunApplication(), 1);
}

TEST(PlatformApp, DefaultExitCodeIsZero) {
    platform::CWinApp plain;
    EXPECT_EQ(platform::RunApplication(), 0);
}

} // namespace
