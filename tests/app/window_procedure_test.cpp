#include "app/window_procedure.h"

#include <gtest/gtest.h>

#include "fake_window.h"
#include "platform/clock.h"

namespace vaxo2::app {
namespace {

namespace wm = platform::wm;
namespace vk = platform::vk;
using platform::WindowMessage;

struct FakeDisplay : DisplayControl {
    bool full = false, exclusive = false, recentre = false;
    int toggles = 0;
    std::vector<uint32_t> resets;
    bool fullScreen() const override { return full; }
    bool exclusiveFullScreen() const override { return exclusive; }
    void requestReset(uint32_t at) override { resets.push_back(at); }
    void requestFullScreenToggle() override { ++toggles; }
    bool takeRecentre() override {
        bool r = recentre;
        recentre = false;
        return r;
    }
};

class WindowProcedureTest : public ::testing::Test {
  protected:
    WindowProcedureTest() : proc(ctx, window, display) {
        proc.setInputSink([this](const WindowMessage& m) { input.push_back(m); });
    }
    core::AppContext ctx;
    test::FakeWindow window;
    FakeDisplay display;
    WindowProcedure proc;
    std::vector<WindowMessage> input;
};

TEST_F(WindowProcedureTest, DestroySetsFlagsAndQuitsAndSecondDestroyChangesNothingMore) {
    proc.dispatch({wm::kDestroy, 0, 0});
    EXPECT_EQ(ctx.quitRequested, 1);
    EXPECT_EQ(ctx.windowClosed, 1);
    ASSERT_FALSE(window.queue.empty());
    EXPECT_EQ(window.queue.front().kind, wm::kQuit);
    const size_t queued = window.queue.size();
    proc.dispatch({wm::kDestroy, 0, 0});
    EXPECT_EQ(ctx.quitRequested, 1);
    // Only more quit messages: the loop ends at the first one.
    for (size_t i = queued; i < window.queue.size(); ++i) {
        EXPECT_EQ(window.queue[i].kind, wm::kQuit);
    }
}

TEST_F(WindowProcedureTest, CloseDestroysTheWindow) {
    proc.dispatch({wm::kClose, 0, 0});
    ASSERT_EQ(window.calls.size(), 1u);
    EXPECT_EQ(window.calls[0], "destroy");
    ASSERT_FALSE(window.queue.empty());
    EXPECT_EQ(window.queue.front().kind, wm::kDestroy);
}

TEST_F(WindowProcedureTest, SizeKindsSetSizeStateAndScheduleAResetAhead) {
    const uint32_t before = platform::timeNow();
    proc.dispatch({wm::kSize, wm::kSizeMaximized, 0});
    EXPECT_EQ(ctx.sizeState, 2);
    proc.dispatch({wm::kSize, wm::kSizeMinimized, 0});
    EXPECT_EQ(ctx.sizeState, 1);
    proc.dispatch({wm::kSize, 4 /* SIZE_MAXHIDE */, 0});
    EXPECT_EQ(ctx.sizeState, 1) << "other kinds leave the state";
    proc.dispatch({wm::kSize, wm::kSizeRestored, 0});
    EXPECT_EQ(ctx.sizeState, 0);
    ASSERT_EQ(display.resets.size(), 4u);
    EXPECT_GE(display.resets[0] - before, 100u);
    EXPECT_LT(display.resets[0] - before, 1000u);
    EXPECT_EQ(input.size(), 4u) << "sizes also reach the input manager";
}

TEST_F(WindowProcedureTest, AltEnterTogglesFullScreenAndIsNotPassedOn) {
    proc.dispatch({wm::kSysKeyDown, vk::kReturn, wm::keyLParam(true, false, false)});
    EXPECT_EQ(display.toggles, 1);
    EXPECT_TRUE(input.empty());
}

TEST_F(WindowProcedureTest, EnterWithoutAltOnlyReachesInput) {
    proc.dispatch({wm::kKeyDown, vk::kReturn, wm::keyLParam(false, false, false)});
    proc.dispatch({wm::kSysKeyDown, vk::kReturn, wm::keyLParam(false, false, false)});
    EXPECT_EQ(display.toggles, 0);
    EXPECT_EQ(input.size(), 2u);
}

TEST_F(WindowProcedureTest, SetCursorUsesTheContextCursor) {
    proc.dispatch({wm::kSetCursor, 0, 1});
    EXPECT_EQ(window.cursorSets, 1);
    EXPECT_EQ(window.lastCursor, ctx.cursor);
}

TEST_F(WindowProcedureTest, SystemMenuCommandsSwallowedInFullScreen) {
    display.full = true;
    for (uint64_t cmd : {wm::kScSize, wm::kScMove, wm::kScMaximize, wm::kScKeyMenu}) {
        input.clear();
        proc.dispatch({wm::kSysCommand, cmd | 0x2 /* low bits are masked */, 0});
        EXPECT_TRUE(input.empty()) << std::hex << cmd;
    }
    input.clear();
    proc.dispatch({wm::kSysCommand, wm::kScMinimize, 0});
    EXPECT_EQ(input.size(), 1u) << "minimise is not swallowed";
}

TEST_F(WindowProcedureTest, WindowedSystemCommandRules) {
    proc.dispatch({wm::kSysCommand, wm::kScMove, 0});
    EXPECT_EQ(input.size(), 1u) << "moving a restored window is allowed";
    input.clear();
    ctx.sizeState = 2;
    proc.dispatch({wm::kSysCommand, wm::kScMove, 0});
    EXPECT_TRUE(input.empty()) << "a maximised window cannot be moved";
    ctx.sizeState = 0;
    proc.dispatch({wm::kSysCommand, wm::kScMaximize, 0});
    EXPECT_EQ(input.size(), 1u) << "the default style has a maximise box";
    input.clear();
    ctx.style = 0xC00000;
    proc.dispatch({wm::kSysCommand, wm::kScMaximize, 0});
    EXPECT_TRUE(input.empty()) << "no maximise box, no maximise";
}

TEST_F(WindowProcedureTest, MouseMessagesPassThrough) {
    proc.dispatch({wm::kLButtonDown, wm::kMkLButton, wm::makeLParam(10, 20)});
    ASSERT_EQ(input.size(), 1u);
    EXPECT_EQ(wm::lParamX(input[0].lParam), 10);
    EXPECT_EQ(wm::lParamY(input[0].lParam), 20);
}

TEST(WindowFrame, BorderlessFullScreenCoversTheMonitor) {
    core::AppContext ctx;
    test::FakeWindow window;
    FakeDisplay display;
    display.full = true;
    applyWindowFrame(ctx, window, display);
    ASSERT_EQ(window.calls.size(), 1u);
    EXPECT_EQ(window.calls[0], "borderless 1920,0 2560x1440");
    display.exclusive = true;
    window.calls.clear();
    applyWindowFrame(ctx, window, display);
    EXPECT_TRUE(window.calls.empty()) << "exclusive full screen leaves the geometry alone";
}

TEST(WindowFrame, LeavingFullScreenCentresOnTheMonitorOnce) {
    core::AppContext ctx;
    ctx.clientWidth = 1280;
    ctx.clientHeight = 720;
    test::FakeWindow window;
    FakeDisplay display;
    display.recentre = true;
    applyWindowFrame(ctx, window, display);
    ASSERT_EQ(window.calls.size(), 1u);
    EXPECT_EQ(window.calls[0], "windowed 2560,360 1280x720");
    window.calls.clear();
    applyWindowFrame(ctx, window, display);
    ASSERT_EQ(window.calls.size(), 1u);
    EXPECT_EQ(window.calls[0], "restoreFrame");
}

TEST(WindowFrame, ExclusiveLayoutCentresOnTheDisplayMode) {
    core::AppContext ctx;
    ctx.clientWidth = 1280;
    ctx.clientHeight = 720;
    test::FakeWindow window;
    window.modeWidth = 1281;  // odd sizes truncate towards zero
    window.modeHeight = 1024;
    FakeDisplay display;
    display.exclusive = true;
    windowedLayout(ctx, window, display);
    ASSERT_EQ(window.calls.size(), 1u);
    EXPECT_EQ(window.calls[0], "windowed 0,152 1280x720");
    display.full = true;
    window.calls.clear();
    windowedLayout(ctx, window, display);
    EXPECT_TRUE(window.calls.empty()) << "no layout in full screen";
}

}  // namespace
}  // namespace vaxo2::app
