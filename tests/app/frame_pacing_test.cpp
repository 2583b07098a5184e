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

// Runs the loop's arithmetic against a simulated clock: `stepCost` is the frame step's time,
// `oversleep` what each wait adds on top of its request.
double averageFrameTime(uint32_t stepCost, uint32_t oversleep, uint32_t phase) {
    uint32_t now = phase, last = 0, frames = 0;
    const uint32_t start = now;
    while (now - start < 16 * 1000) {
        const PacingStep s = nextPacingStep(now, last, 16, false);
        const uint32_t read = now;
        now += s.waitMs + (s.waitMs ? oversleep : 0);
        last = s.kind == Kind::ShortWait ? timeAfterShortWait(read, s) : now;
        now += stepCost;
        ++frames;
    }
    return static_cast<double>(now - start) / frames;
}

TEST(FramePacing, QuickFramesHoldTheIntervalWhateverThePhase) {
    for (uint32_t phase : {0u, 1u, 7u, 15u}) {
        EXPECT_NEAR(averageFrameTime(0, 0, phase), 16.0, 0.1) << phase;
        EXPECT_NEAR(averageFrameTime(2, 0, phase), 16.0, 0.1) << phase;
        // Waits that overshoot by a millisecond must not turn into two frames per interval.
        EXPECT_GE(averageFrameTime(0, 1, phase), 15.9) << phase;
        EXPECT_LE(averageFrameTime(0, 1, phase), 17.1) << phase;
    }
}

TEST(FramePacing, SlowFramesRunAtTheirOwnPacePlusOneSleep) {
    EXPECT_NEAR(averageFrameTime(20, 0, 0), 36.0, 0.1);
}

}  // namespace
}  // namespace vaxo2::app
