#include "app/frame_pacing.h"

#include <gtest/gtest.h>

namespace vaxo2::app {
namespace {

using Kind = PacingStep::Kind;

TEST(FramePacing, IntervalTruncates) {
    EXPECT_EQ(frameIntervalMs(16.666666f), 16u);
    EXPECT_EQ(frameIntervalMs(33.9f), 33u);
    EXPECT_EQ(frameIntervalMs(0.0f), 0u);
    EXPECT_EQ(frameIntervalMs(-5.0f), 0u);
}

TEST(FramePacing, EarlyFrameWaitsTheRest) {
    const PacingStep s = nextPacingStep(1005, 1000, 16, false);
    EXPECT_EQ(s.kind, Kind::ShortWait);
    EXPECT_EQ(s.waitMs, 11u);
}

TEST(FramePacing, LateFrameIsFollowedByAFullSleep) {
    PacingStep s = nextPacingStep(1016, 1000, 16, false);
    EXPECT_EQ(s.kind, Kind::FullSleep) << "exactly one interval counts as late";
    EXPECT_EQ(s.waitMs, 16u);
    s = nextPacingStep(1100, 1000, 16, false);
    EXPECT_EQ(s.kind, Kind::FullSleep);
    EXPECT_EQ(s.waitMs, 16u) << "never an immediate next frame";
}

TEST(FramePacing, WrapOfTheMillisecondClock) {
    const PacingStep s = nextPacingStep(3, 0xFFFFFFF0u, 16, false);
    EXPECT_EQ(s.kind, Kind::FullSleep) << "19 ms elapsed across the wrap";
    const PacingStep t = nextPacingStep(2, 0xFFFFFFFEu, 16, false);
    EXPECT_EQ(t.kind, Kind::ShortWait);
    EXPECT_EQ(t.waitMs, 12u);
}

TEST(FramePacing, FlipSwapOnlyYields) {
    const PacingStep s = nextPacingStep(1005, 1000, 16, true);
    EXPECT_EQ(s.kind, Kind::Yield);
    EXPECT_EQ(s.waitMs, 0u);
}

// Simulates the loop with a frame step of fixed cost: a late frame keeps the rate below the
// interval, which is how the loop is meant to behave.
TEST(FramePacing, LoopWithTwoMillisecondFramesAveragesSeventeen) {
    uint32_t now = 0, last = 0, frames = 0;
    while (now < 17 * 1000) {
        const PacingStep s = nextPacingStep(now, last, 16, false);
        const uint32_t read = now;
        now += s.waitMs;
        last = s.kind == Kind::ShortWait ? read : now;
        now += 2;  // the frame step
        ++frames;
    }
    EXPECT_NEAR(static_cast<double>(now) / frames, 17.0, 0.1);
}

}  // namespace
}  // namespace vaxo2::app
