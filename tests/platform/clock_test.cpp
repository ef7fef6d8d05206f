// The protocol clock: scaled bounds and sleeps, and the real figures at scale 1.

#include "platform/clock.h"

#include <gtest/gtest.h>

#include <thread>

using namespace platform;

namespace {

class ClockTest : public ::testing::Test {
  protected:
    void TearDown() override { SetTimeScale(1.0); }
};

TEST_F(ClockTest, ScaleShrinksDurationsButNeverToNothing) {
    EXPECT_EQ(ScaledMs(2000), 2000u);
    SetTimeScale(0.05);
    EXPECT_EQ(ScaledMs(2000), 100u);
    EXPECT_EQ(ScaledMs(60000), 3000u);
    EXPECT_EQ(ScaledMs(1), 1u); // a pause stays a pause
    EXPECT_EQ(ScaledMs(0), 0u);
    SetTimeScale(0.001);
    EXPECT_EQ(ScaledMs(100), 1u);
    SetTimeScale(4.0); // slower than real time, e.g. under a debugger
    EXPECT_EQ(ScaledMs(600000), 2400000u);
    EXPECT_EQ(ScaledMs(0xFFFFFFFFu), 0xFFFFFFFFu);
}

TEST_F(ClockTest, MeaninglessScalesFallBackToRealTime) {
    SetTimeScale(0.0);
    EXPECT_EQ(TimeScale(), 1.0);
    SetTimeScale(-2.0);
    EXPECT_EQ(ScaledMs(500), 500u);
}

TEST_F(ClockTest, SleepLastsTheScaledTime) {
    uint64_t start = NowMs();
    SleepMs(100);
    uint64_t took = NowMs() - start;
    EXPECT_GE(took, 100u);
    EXPECT_LT(took, 600u);

    SetTimeScale(0.05);
    start = NowMs();
    SleepMs(2000);
    took = NowMs() - start;
    EXPECT_GE(took, 100u);
    EXPECT_LT(took, 1000u);
}

TEST_F(ClockTest, ScaleIsSharedByAllThreads) {
    SetTimeScale(0.25);
    uint32_t seen = 0;
    std::thread([&] { seen = ScaledMs(400); }).join();
    EXPECT_EQ(seen, 100u);
}

} // namespace
