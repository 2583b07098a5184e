#include "graphics/graphic_wait.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "core/app_context.h"
#include "graphics/transition.h"
#include "platform/clock.h"

namespace vaxo2::graphics {
namespace {

// Plays the render thread: counts frames and, from the given frame on, runs `change` on the
// tree under the tree lock.
class FakeFrames {
  public:
    FakeFrames(core::AppContext& app, int changeAtFrame, std::function<void()> change)
        : thread_([&app, changeAtFrame, change, this] {
              for (int frame = 1; !stop_.load() && frame < 2000; ++frame) {
                  app.frameStarted.store(frame);
                  if (frame == changeAtFrame && change) {
                      std::lock_guard lock(treeMutex());
                      change();
                  }
                  app.frameDone.store(frame);
                  std::this_thread::sleep_for(std::chrono::milliseconds(2));
              }
          }) {}
    ~FakeFrames() {
        stop_.store(true);
        thread_.join();
    }

  private:
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

class GraphicWaitTest : public ::testing::Test {
  protected:
    GraphicWaitTest() : scoped(app) {
        platform::Clock::instance().useReal();
        app.screenRoot = &screen;
        object = GraphicObject::create(&screen, {1});
        StirSlot running;
        running.No = 1;
        running.Loop = 1;
        running.Time = 100000;
        running.remaining = 50000;
        object->slots[1] = running;
    }
    core::AppContext app;
    core::ScopedAppContext scoped;
    GraphicObject screen;
    GraphicObject* object = nullptr;
    queue::CommandQueue queue;
    int waits = 0;
    GraphicWaitHooks hooks() {
        GraphicWaitHooks h;
        h.wait = [this](uint32_t) {
            ++waits;
            std::this_thread::sleep_for(std::chrono::milliseconds(3));
        };
        return h;
    }
};

TEST_F(GraphicWaitTest, ReturnsOnceTheObjectIsIdle) {
    EXPECT_TRUE(graphicBusy({1}, &screen, nullptr));
    EXPECT_FALSE(graphicBusy({2}, &screen, nullptr));
    {
        // The slot ends during the second wait, however the threads are scheduled.
        GraphicWaitHooks h = hooks();
        h.wait = [this](uint32_t) {
            if (++waits == 2) {
                std::lock_guard lock(treeMutex());
                object->slots.at(1).finish();
            }
        };
        FakeFrames frames(app, 0, nullptr);
        runGraphicWait({1}, 0, queue, h);
    }
    EXPECT_FALSE(object->busy());
    EXPECT_EQ(waits, 2);
}

TEST_F(GraphicWaitTest, MissingObjectEndsAfterOneFrameAndTheTransitionTreeComesFirst) {
    {
        FakeFrames frames(app, 0, nullptr);
        runGraphicWait({7}, 0, queue, hooks());
    }
    EXPECT_EQ(waits, 0);
    // The snapshot holds an idle object at the same path: that one decides.
    GraphicObject snapshot;
    GraphicObject::create(&snapshot, {1});
    EXPECT_FALSE(graphicBusy({1}, &screen, &snapshot));
}

TEST_F(GraphicWaitTest, FlagRegistersWakeKeysAndAStopFlagEndsTheWait) {
    int registered = 0;
    GraphicWaitHooks h = hooks();
    h.registerWakeKeys = [&] { ++registered; };
    h.wait = [this](uint32_t) {
        if (++waits == 3) app.quitRequested.store(1);
    };
    {
        FakeFrames frames(app, 0, nullptr);
        runGraphicWait({1}, 1, queue, h);
    }
    EXPECT_TRUE(object->busy());  // still running: the wait ended on the flag
    EXPECT_EQ(waits, 3);
    EXPECT_EQ(registered, 3);  // before every wait
}

}  // namespace
}  // namespace vaxo2::graphics
