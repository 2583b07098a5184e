#include "app/ticker.h"

#include <gtest/gtest.h>

#include <atomic>
#include <vector>

#include "platform/clock.h"

namespace vaxo2::app {
namespace {

struct Counter : TickTarget {
    int ticks = 0;
    uint32_t elapsed = 0;
    void tick(uint32_t ms) override {
        ++ticks;
        elapsed += ms;
    }
};

TEST(Ticker, EleventhRegistrationIsIgnoredAndDuplicatesKeepOneSlot) {
    Ticker ticker;
    std::vector<Counter> objects(11);
    for (int i = 0; i < 10; ++i)
        ticker.add(&objects[i], 1);
    ticker.add(&objects[0], 1);
    EXPECT_EQ(ticker.registeredCount(), 10);
    ticker.add(&objects[10], 1);
    EXPECT_EQ(ticker.registeredCount(), 10);
    ticker.tickAll(100);
    EXPECT_EQ(objects[0].ticks, 1) << "registered twice, called once";
    EXPECT_EQ(objects[10].ticks, 0) << "the eleventh never runs";
    ticker.remove(&objects[3]);
    ticker.add(&objects[10], 1);
    ticker.tickAll(100);
    EXPECT_EQ(objects[10].ticks, 1) << "a freed slot is reused";
    EXPECT_EQ(objects[3].ticks, 1);
}

TEST(Ticker, OnlyEnabledValueOneIsCalled) {
    Ticker ticker;
    Counter on, off, two;
    ticker.add(&on, 1);
    ticker.add(&off, 0);
    ticker.add(&two, 2);
    ticker.tickAll(50);
    EXPECT_EQ(on.ticks, 1);
    EXPECT_EQ(off.ticks, 0);
    EXPECT_EQ(two.ticks, 0);
}

TEST(Ticker, ThreadTicksEveryHundredMillisecondsOfClockTime) {
    platform::Clock& clock = platform::Clock::instance();
    clock.useStepped(5000);
    clock.becomeDriver();
    Ticker ticker;
    Counter c;
    ticker.add(&c, 1);
    ASSERT_TRUE(ticker.startTicking());
    for (int i = 0; i < 7; ++i)
        clock.advance(50);  // 350 ms in steps of 50
    EXPECT_EQ(c.ticks, 3);
    EXPECT_EQ(c.elapsed, 300u);
    clock.useReal();
    clock.resignDriver();
    EXPECT_EQ(ticker.stopTicking(), platform::kWaitObject0);
}

// On the real clock the ticker sleeps while no target has work, and looks again when woken.
TEST(Ticker, RealClockTickerSleepsUntilATargetHasWork) {
    struct Idle : TickTarget {
        std::atomic<int> ticks{0};
        std::atomic<uint32_t> elapsed{0};
        std::atomic<bool> work{false};
        void tick(uint32_t ms) override {
            elapsed += ms;
            ++ticks;
        }
        bool wantsTicks() const override { return work; }
    } idle;
    Ticker ticker;
    ticker.add(&idle, 1);
    ASSERT_TRUE(ticker.startTicking());
    platform::Clock& clock = platform::Clock::instance();
    clock.sleep(350);
    EXPECT_EQ(idle.ticks, 0) << "no work, no ticks";
    idle.work = true;
    ticker.wake();
    for (int i = 0; i < 100 && idle.ticks < 2; ++i)
        clock.sleep(50);
    EXPECT_GE(idle.ticks, 2);
    // The time slept before the wake is not handed to the target.
    EXPECT_LT(idle.elapsed.load(), 300u * static_cast<uint32_t>(idle.ticks.load()));
    idle.work = false;
    EXPECT_EQ(ticker.stopTicking(), platform::kWaitObject0) << "a sleeping ticker stops at once";
}

}  // namespace
}  // namespace vaxo2::app
