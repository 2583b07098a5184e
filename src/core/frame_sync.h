#pragma once
// Frame boundaries between the render thread and the threads that wait for them. At a still
// page the render thread sleeps until something asks for a frame (released commands, a repaint,
// a thread waiting for a frame boundary); those waits block on the frame counters instead of
// yielding in a loop. All of it goes through the platform clock, so on the stepped clock the
// waits are the same clock waits as ever and a run stays deterministic.
#include <atomic>
#include <cstdint>

#include "core/app_context.h"
#include "platform/clock.h"

namespace vaxo2::core {

// Asks the render thread for a frame; it may be asleep at a still page. Any thread.
inline void requestFrame(AppContext& app) {
    platform::Clock& clock = platform::Clock::instance();
    // The stepped clock's render thread never sleeps that way: leave its waiters in peace.
    if (clock.stepped()) {
        app.frameWanted.store(1);
        return;
    }
    clock.notify([&app] { app.frameWanted.store(1); });
}

// Render thread: stores a frame counter, and wakes the threads blocked on the counters.
inline void publishFrameCounter(AppContext& app, std::atomic<int32_t>& counter, int32_t value) {
    counter.store(value);
    // Only when someone waits: a notification wakes every clock waiter to test its condition.
    if (app.frameWaiters.load() > 0) platform::Clock::instance().notify(nullptr);
}

// Waits until the render thread has started a frame after the caller read `started` from
// frameStarted and has finished that frame, or until `stop()` holds (tested at least once a
// frame). On the stepped clock it yields from clock step to clock step as before, so that the
// caller goes on at the same clock time as ever.
template <typename Stop>
void waitForFrameAfter(AppContext& app, int32_t started, Stop stop) {
    platform::Clock& clock = platform::Clock::instance();
    if (clock.stepped()) {
        while (app.frameStarted.load() == started && !stop())
            clock.sleep(0);
        const int32_t target = app.frameStarted.load();
        while (app.frameDone.load() - target < 0 && !stop())
            clock.sleep(0);
        return;
    }
    app.frameWaiters.fetch_add(1);
    requestFrame(app);
    // The stop flags are raised without a notification: look at them at least once a frame.
    while (!stop() && !clock.waitUntil([&] { return app.frameStarted.load() != started; },
                                       kStopCheckIntervalMs)) {
    }
    const int32_t target = app.frameStarted.load();
    while (!stop() && !clock.waitUntil([&] { return app.frameDone.load() - target >= 0; },
                                       kStopCheckIntervalMs)) {
    }
    app.frameWaiters.fetch_sub(1);
}

}  // namespace vaxo2::core
