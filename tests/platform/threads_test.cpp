#include "platform/threads.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/clock.h"

namespace vaxo2::platform {
namespace {

using std::chrono::steady_clock;

TEST(WorkerThread, StopWithoutStartIsAbandoned) {
    WorkerThread t([](WorkerThread&) { return 0u; });
    EXPECT_EQ(t.stop(10), kWaitAbandoned);
}

TEST(WorkerThread, StopReachesALoopThatPollsTheFlag) {
    std::atomic<int> passes{0};
    WorkerThread t([&](WorkerThread& self) {
        while (!self.stopRequested()) {
            ++passes;
            Clock::instance().sleep(1);
        }
        return 7u;
    });
    ASSERT_TRUE(t.start());
    while (passes == 0)
        Clock::instance().sleep(1);
    EXPECT_EQ(t.stop(1000), kWaitObject0);
    EXPECT_EQ(t.exitCode(), 7u);
    EXPECT_TRUE(t.start()) << "a stopped thread can start again with a cleared flag";
    EXPECT_EQ(t.stop(1000), kWaitObject0);
}

// A library's per-thread clean-up (the GL driver has one) runs after the procedure returns; a
// caller that unloads the library once stop reports the end must not race it.
std::atomic<bool> gThreadCleanupDone{false};
struct SlowThreadCleanup {
    bool armed = false;
    ~SlowThreadCleanup() {
        if (!armed) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        gThreadCleanupDone = true;
    }
};
thread_local SlowThreadCleanup tlsCleanup;

TEST(WorkerThread, StopReportsTheEndOnlyAfterThreadCleanup) {
    gThreadCleanupDone = false;
    WorkerThread t([](WorkerThread&) {
        tlsCleanup.armed = true;
        return 0u;
    });
    ASSERT_TRUE(t.start());
    EXPECT_EQ(t.stop(1000), kWaitObject0);
    EXPECT_TRUE(gThreadCleanupDone);
}

TEST(WorkerThread, StopOfABlockedThreadTimesOut) {
    Event never;
    std::atomic<bool> release{false};
    WorkerThread t([&](WorkerThread&) {
        while (!release)
            never.wait(5);
        return 0u;
    });
    ASSERT_TRUE(t.start());
    const auto before = steady_clock::now();
    EXPECT_EQ(t.stop(200), kWaitTimeout);
    const auto waited = steady_clock::now() - before;
    EXPECT_GE(waited, std::chrono::milliseconds(190));
    EXPECT_TRUE(t.running());
    release = true;
    EXPECT_EQ(t.stop(1000), kWaitObject0);
}

TEST(Event, AutoResetWakesOnceManualStaysSet) {
    Event automatic(false, true);
    EXPECT_TRUE(automatic.wait(0));
    EXPECT_FALSE(automatic.wait(0)) << "auto reset clears on a successful wait";
    Event manual(true, false);
    manual.set();
    EXPECT_TRUE(manual.wait(0));
    EXPECT_TRUE(manual.wait(0));
    manual.reset();
    EXPECT_FALSE(manual.wait(0));
}

TEST(Event, SetFromAnotherThreadWakesAWaiter) {
    Event e;
    WorkerThread t([&](WorkerThread&) {
        Clock::instance().sleep(20);
        e.set();
        return 0u;
    });
    ASSERT_TRUE(t.start());
    EXPECT_TRUE(e.wait(5000));
    EXPECT_EQ(t.stop(1000), kWaitObject0);
}

// The stepped clock: time moves only when the driver advances, and only once every participant
// is waiting, so what the participants see is the same on every run.
TEST(SteppedClock, ParticipantsSeeWholeStepsInOrder) {
    Clock& clock = Clock::instance();
    clock.useStepped(0xFFFFFF00u);  // across the 32-bit wrap
    clock.becomeDriver();
    std::vector<uint32_t> seen;
    WorkerThread t([&](WorkerThread& self) {
        while (!self.stopRequested() && seen.size() < 5) {
            clock.sleep(30);
            seen.push_back(clock.now());
        }
        return 0u;
    });
    ASSERT_TRUE(t.start());
    for (int i = 0; i < 12; ++i)
        clock.advance(16);
    // Wakes at the first step at or after each 30 ms deadline.
    const std::vector<uint32_t> expected = {0xFFFFFF20u, 0xFFFFFF40u, 0xFFFFFF60u, 0xFFFFFF80u,
                                            0xFFFFFFA0u};
    EXPECT_EQ(seen, expected);
    clock.useReal();
    clock.resignDriver();
    EXPECT_EQ(t.stop(1000), kWaitObject0);
}

TEST(SteppedClock, YieldBlocksUntilTheNextStepAndConditionsWakeAtOnce) {
    Clock& clock = Clock::instance();
    clock.useStepped(0);
    clock.becomeDriver();
    std::atomic<int> yields{0};
    Event go;
    std::atomic<uint32_t> wokeAt{0};
    WorkerThread t([&](WorkerThread&) {
        for (int i = 0; i < 3; ++i) {
            clock.sleep(0);
            ++yields;
        }
        go.wait(kInfinite);
        wokeAt = clock.now();
        return 0u;
    });
    ASSERT_TRUE(t.start());
    clock.advance(16);
    EXPECT_EQ(yields, 1) << "one pass of a polling loop per step";
    clock.advance(16);
    clock.advance(16);
    EXPECT_EQ(yields, 3);
    go.set();
    clock.advance(16);
    EXPECT_EQ(wokeAt, 48u) << "an event set between steps is seen before the next step";
    clock.useReal();
    clock.resignDriver();
    EXPECT_EQ(t.stop(1000), kWaitObject0);
}

// A participant that stays busy holds up one step for the stall limit and is then passed over
// until it waits again: a script that never waits costs one stall, not one per step.
TEST(SteppedClock, ABusyParticipantCostsOneStallUntilItWaitsAgain) {
    Clock& clock = Clock::instance();
    clock.useStepped(0);
    clock.becomeDriver();
    const auto savedLimit = clock.stallLimit;
    clock.stallLimit = std::chrono::milliseconds(100);
    const int before = clock.stalls();
    std::atomic<bool> busy{true}, busyAgain{true}, waited{false};
    WorkerThread t([&](WorkerThread&) {
        while (busy) {
        }
        clock.sleep(0);
        waited = true;
        while (busyAgain) {
        }
        return 0u;
    });
    ASSERT_TRUE(t.start());
    for (int i = 0; i < 50; ++i)
        clock.advance(16);
    EXPECT_EQ(clock.stalls() - before, 1);
    busy = false;
    // Passed over, it is not waited for: give it real time to reach its wait.
    for (int i = 0; i < 5000 && !waited; ++i) {
        clock.advance(16);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_TRUE(waited);
    for (int i = 0; i < 50; ++i)
        clock.advance(16);
    EXPECT_EQ(clock.stalls() - before, 2) << "waited for again after its wait, once";
    busyAgain = false;
    clock.stallLimit = savedLimit;
    clock.useReal();
    clock.resignDriver();
    EXPECT_EQ(t.stop(1000), kWaitObject0);
}

TEST(Clock, TimeReachedAllowsForTheWrap) {
    EXPECT_TRUE(timeReached(5, 5));
    EXPECT_TRUE(timeReached(3, 0xFFFFFFF0u));
    EXPECT_FALSE(timeReached(0xFFFFFFF0u, 3));
    EXPECT_FALSE(timeReached(4, 5));
}

}  // namespace
}  // namespace vaxo2::platform
