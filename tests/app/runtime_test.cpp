// Whole-shell runs: headless, on the stepped clock, with hooks standing in for the subsystems.
#include "app/runtime.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <mutex>

#include "core/frame_sync.h"
#include "graphics/transition.h"
#include "platform/clock.h"
#include "script/interpreter.h"

namespace vaxo2::app {
namespace {

namespace wm = platform::wm;

RunOptions steppedHeadless() {
    RunOptions o;
    o.headless = true;
    o.stepped = true;
    return o;
}

// Keeps the scenario alive until the window closes, as a script waiting for input would.
uint32_t waitForClose(core::AppContext& ctx) {
    while (!ctx.windowClosed)
        platform::Clock::instance().sleep(16);
    return 0;
}

TEST(Runtime, ScenarioStartsOnlyAfterOneCompleteFrame) {
    std::atomic<int32_t> started{-1}, done{-1};
    RuntimeHooks hooks;
    hooks.runScenario = [&](core::AppContext& ctx) {
        started = ctx.frameStarted.load();
        done = ctx.frameDone.load();
        return 0u;
    };
    Runtime runtime(steppedHeadless(), hooks);
    EXPECT_EQ(runtime.run(), 0);
    EXPECT_GE(done, 1);
    EXPECT_EQ(started, done) << "the frame the scenario waited for was finished";
    EXPECT_GE(runtime.report().framesDrawn, 1);
}

TEST(Runtime, EmptyScenarioEndsTheRunAndClosesTheWindow) {
    Runtime runtime(steppedHeadless(), RuntimeHooks{});
    EXPECT_EQ(runtime.run(), 0);
    EXPECT_LE(runtime.report().framesDrawn, 5);
}

TEST(Runtime, ClosingSavesOnceAfterBothThreadsStopped) {
    std::mutex m;
    std::vector<std::string> events;
    auto note = [&](const std::string& e) {
        std::lock_guard lock(m);
        events.push_back(e);
    };
    std::atomic<bool> scenarioEnded{false};
    RuntimeHooks hooks;
    hooks.loadSystemData = [&](core::AppContext&) { note("loadSystem"); };
    hooks.loadAlreadyData = [&](core::AppContext&) { note("loadAlready"); };
    hooks.saveSystemData = [&](core::AppContext& ctx) {
        note(scenarioEnded && ctx.windowClosed ? "saveSystem" : "saveSystem-too-early");
    };
    hooks.saveAlreadyData = [&](core::AppContext&) { note("saveAlready"); };
    hooks.runScenario = [&](core::AppContext& ctx) {
        note("scenario");
        waitForClose(ctx);
        scenarioEnded = true;
        return 0u;
    };
    RunOptions o = steppedHeadless();
    o.exitAfter = 300;
    Runtime runtime(o, hooks);
    EXPECT_EQ(runtime.run(), 0);
    const std::vector<std::string> expected = {"loadSystem", "loadAlready", "scenario",
                                               "saveSystem", "saveAlready"};
    EXPECT_EQ(events, expected);
    const std::vector<std::string> steps = {"renderStopped", "scenarioStopped", "saveSystem",
                                            "saveAlready", "tornDown"};
    EXPECT_EQ(runtime.report().shutdownSteps, steps);
}

TEST(Runtime, SteppedRunDrawsOneFramePerIntervalUntilExitAfter) {
    RuntimeHooks hooks;
    hooks.runScenario = waitForClose;
    RunOptions o = steppedHeadless();
    o.exitAfter = 1600;
    Runtime runtime(o, hooks);
    EXPECT_EQ(runtime.run(), 0);
    // 16 ms per frame on the stepped clock: about 100 frames, whatever the machine's speed.
    EXPECT_GE(runtime.report().frameSteps, 99);
    EXPECT_LE(runtime.report().frameSteps, 102);
    EXPECT_EQ(runtime.report().firstPresentMs, 16u);
    // Nothing changes in an empty scene: after the first picture every frame is idle.
    EXPECT_EQ(runtime.report().framesDrawn, 1);
}

// A scenario that never waits (a script looping without a wait) holds up the stepped clock
// once; the run still ends at --exit-after on the clock, after about that many frames.
TEST(Runtime, ExitAfterEndsARunWhoseScenarioNeverWaits) {
    platform::Clock& clock = platform::Clock::instance();
    const auto savedLimit = clock.stallLimit;
    clock.stallLimit = std::chrono::milliseconds(200);
    const int stallsBefore = clock.stalls();
    RuntimeHooks hooks;
    hooks.runScenario = [](core::AppContext& ctx) {
        while (!ctx.windowClosed) {
        }
        return 0u;
    };
    RunOptions o = steppedHeadless();
    o.exitAfter = 3000;
    Runtime runtime(o, hooks);
    EXPECT_EQ(runtime.run(), 0);
    EXPECT_GE(runtime.report().frameSteps, 186);
    EXPECT_LE(runtime.report().frameSteps, 190);
    EXPECT_EQ(clock.stalls() - stallsBefore, 1);
    clock.stallLimit = savedLimit;
}

TEST(Runtime, RepaintRequestsAndScreenshotsRedrawAnIdleScene) {
    RuntimeHooks hooks;
    hooks.runScenario = waitForClose;
    RunOptions o = steppedHeadless();
    std::string error;
    // A size change asks for a repaint (and a device reset 100 ms later, which redraws too).
    auto input = parseInputScript("300 wheel 120\n", error);
    ASSERT_TRUE(input);
    o.input = *input;
    o.input.push_back({500, {wm::kSize, wm::kSizeRestored, wm::makeLParam(1280, 720)}});
    o.screenshots.push_back({1000, ::testing::TempDir() + "vaxo2_idle_shot.png"});
    o.exitAfter = 1200;
    Runtime runtime(o, hooks);
    EXPECT_EQ(runtime.run(), 0);
    // First frame, the repaint for the size change, the reset after it, the screenshot; the
    // wheel changes nothing on screen.
    EXPECT_EQ(runtime.report().framesDrawn, 4);
}

TEST(Runtime, TimedInputReachesTheInputManagerAtItsClockTime) {
    std::mutex m;
    std::vector<std::pair<uint32_t, platform::WindowMessage>> seen;
    RuntimeHooks hooks;
    hooks.runScenario = waitForClose;
    hooks.inputManager = [&](const platform::WindowMessage& msg) {
        if (msg.kind != wm::kLButtonDown && msg.kind != wm::kKeyDown) return;
        std::lock_guard lock(m);
        seen.push_back({platform::timeNow(), msg});
    };
    RunOptions o = steppedHeadless();
    std::string error;
    auto input = parseInputScript("200 click 640 360\n400 key RETURN\n", error);
    ASSERT_TRUE(input) << error;
    o.input = *input;
    o.exitAfter = 600;
    Runtime runtime(o, hooks);
    EXPECT_EQ(runtime.run(), 0);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].second.kind, wm::kLButtonDown);
    EXPECT_EQ(wm::lParamX(seen[0].second.lParam), 640);
    EXPECT_GE(seen[0].first, 200u);
    EXPECT_LT(seen[0].first, 216u) << "delivered at the first frame at or after its time";
    EXPECT_EQ(seen[1].second.wParam, platform::vk::kReturn);
    EXPECT_GE(seen[1].first, 400u);
    EXPECT_LT(seen[1].first, 416u);
}

TEST(Runtime, ScreenshotWritesTheFramePresentedAtItsTime) {
    const std::string file = ::testing::TempDir() + "vaxo2_runtime_shot.png";
    std::remove(file.c_str());
    RuntimeHooks hooks;
    hooks.runScenario = waitForClose;
    RunOptions o = steppedHeadless();
    o.screenshots.push_back({100, file});
    o.exitAfter = 200;
    Runtime runtime(o, hooks);
    EXPECT_EQ(runtime.run(), 0);
    std::ifstream png(file, std::ios::binary);
    ASSERT_TRUE(png) << "no screenshot written";
    char magic[8] = {};
    png.read(magic, 8);
    EXPECT_EQ(std::string(magic + 1, 3), "PNG");
    // IHDR: width and height, big-endian, at offset 16.
    unsigned char ihdr[8] = {};
    png.seekg(16);
    png.read(reinterpret_cast<char*>(ihdr), 8);
    EXPECT_EQ((ihdr[2] << 8) | ihdr[3], 1280);
    EXPECT_EQ((ihdr[6] << 8) | ihdr[7], 720);
}

// On the real clock a still scene lets the render thread sleep: no frame steps while nothing
// asks, yet a frame wait, released commands and a due screenshot each get their frame at once,
// an animation started after the sleep runs from the time of its command, and the trace marks
// the frames.
TEST(Runtime, RealClockStillSceneSleepsAndEveryRequestStillGetsItsFrame) {
    const std::string game = ::testing::TempDir() + "vaxo2_still_game";
    std::system(("rm -rf '" + game + "' && mkdir -p '" + game + "'").c_str());
    std::ofstream(game + "/Move.vxs")
        << "Graphic(Layer=1)\nGraphicSlot(Layer=1, No=1, Time=300, Position=100:0:0)\nApply()\n";
    const std::string trace = ::testing::TempDir() + "vaxo2_still.trace";
    const std::string shot = ::testing::TempDir() + "vaxo2_still_shot.png";
    std::remove(shot.c_str());
    int32_t stillSteps = -1;
    uint32_t frameWaitMs = 0;
    int64_t slotElapsed = -1;
    RuntimeHooks hooks;
    hooks.runScenario = [&](core::AppContext& ctx) {
        platform::Clock& clock = platform::Clock::instance();
        clock.sleep(100);  // the first frames settle
        const int32_t before = ctx.frameStarted.load();
        clock.sleep(700);
        stillSteps = ctx.frameStarted.load() - before;
        const uint32_t t0 = clock.now();
        core::waitForFrameAfter(ctx, ctx.frameStarted.load(), [&] { return ctx.stopRequested(); });
        frameWaitMs = clock.now() - t0;
        clock.sleep(300);
        ctx.scriptRunner->runScripts(std::string("Move.vxs"));
        core::waitForFrameAfter(ctx, ctx.frameStarted.load(), [&] { return ctx.stopRequested(); });
        {
            std::lock_guard lock(graphics::treeMutex());
            const graphics::GraphicObject* object =
                graphics::GraphicObject::find(ctx.screenRoot, graphics::LayerPath{1});
            if (object != nullptr && object->slots.count(1) != 0) {
                const graphics::StirSlot& slot = object->slots.at(1);
                slotElapsed = slot.total() - slot.remaining;
            }
        }
        return waitForClose(ctx);
    };
    RunOptions o;
    o.headless = true;
    o.gameFolder = game;
    o.traceFile = trace;
    o.screenshots.push_back({1600, shot});
    o.exitAfter = 2000;
    Runtime runtime(o, hooks);
    EXPECT_EQ(runtime.run(), 0);
    // Every frame interval would be about 44 steps; a sleep looks in once a second at most.
    EXPECT_LE(stillSteps, 2);
    // A wait for a frame wakes the sleeping render thread (else it would sit out its second).
    EXPECT_LT(frameWaitMs, 500u);
    // The slot's first update counted from its command, not from the start of the sleep.
    EXPECT_GE(slotElapsed, 0);
    EXPECT_LT(slotElapsed, 200);
    EXPECT_TRUE(std::ifstream(shot).good()) << "the screenshot due while asleep";
    std::ifstream in(trace);
    std::string line;
    int presents = 0;
    bool scenario = false;
    while (std::getline(in, line)) {
        presents += line.find(" present ") != std::string::npos;
        scenario = scenario || line.find(" scenario") != std::string::npos;
    }
    EXPECT_TRUE(scenario);
    EXPECT_EQ(presents, runtime.report().framesDrawn);
}

TEST(CommandLine, ParsesEveryOptionAndRejectsMistakes) {
    const char* argv[] = {"vaxo2",     "--game",       "g",          "--headless",
                          "--stepped", "--exit-after", "1500",       "--screenshot",
                          "100:a.png", "--screenshot", "2000:b.png", "--size",
                          "1024x768",  "--codepage",   "CP1252"};
    std::string error;
    auto o = parseCommandLine(15, argv, error);
    ASSERT_TRUE(o) << error;
    EXPECT_EQ(o->gameFolder, "g");
    EXPECT_TRUE(o->headless);
    EXPECT_TRUE(o->stepped);
    EXPECT_EQ(o->exitAfter.value_or(0), 1500u);
    ASSERT_EQ(o->screenshots.size(), 2u);
    EXPECT_EQ(o->screenshots[1].at, 2000u);
    EXPECT_EQ(o->screenshots[1].file, "b.png");
    EXPECT_EQ(o->clientWidth, 1024);
    EXPECT_EQ(o->clientHeight, 768);
    EXPECT_EQ(o->codePage, "CP1252");

    for (auto bad : {std::vector<const char*>{"vaxo2", "--exit-after"},
                     std::vector<const char*>{"vaxo2", "--exit-after", "-5"},
                     std::vector<const char*>{"vaxo2", "--screenshot", "a.png"},
                     std::vector<const char*>{"vaxo2", "--size", "10x10"},
                     std::vector<const char*>{"vaxo2", "--input", "/nonexistent/file"},
                     std::vector<const char*>{"vaxo2", "--codepage"},
                     std::vector<const char*>{"vaxo2", "--frobnicate"}}) {
        error.clear();
        EXPECT_FALSE(parseCommandLine(static_cast<int>(bad.size()), bad.data(), error));
        EXPECT_FALSE(error.empty());
    }
    // A device that never ends is read only up to the input script's limit.
    const char* endless[] = {"vaxo2", "--input", "/dev/zero"};
    EXPECT_FALSE(parseCommandLine(3, endless, error));
    EXPECT_NE(error.find("larger than 16 MiB"), std::string::npos) << error;
    const char* traced[] = {"vaxo2", "--trace", "t.txt"};
    auto withTrace = parseCommandLine(3, traced, error);
    ASSERT_TRUE(withTrace) << error;
    EXPECT_EQ(withTrace->traceFile, "t.txt");
    const char* converter[] = {"vaxo2", "--game-converter"};
    auto withConverter = parseCommandLine(2, converter, error);
    ASSERT_TRUE(withConverter) << error;
    EXPECT_TRUE(withConverter->gameConverter);
    EXPECT_FALSE(o->gameConverter);
}

TEST(InputScript, EventsBecomeWindowMessagesSortedByTime) {
    std::string error;
    auto ev = parseInputScript(
        "# a comment\n"
        "500 key space\n"
        "100 click 10 20   # trailing comment\n"
        "100 rclick 30 40\n"
        "300 wheel -120 5 6\n"
        "600 altkey RETURN\n"
        "700 keydown F10\n"
        "800 close\n",
        error);
    ASSERT_TRUE(ev) << error;
    ASSERT_EQ(ev->size(), 11u);
    EXPECT_EQ((*ev)[0].message.kind, wm::kLButtonDown);
    EXPECT_EQ((*ev)[1].message.kind, wm::kLButtonUp);
    EXPECT_EQ((*ev)[2].message.kind, wm::kRButtonDown) << "equal times keep file order";
    EXPECT_EQ((*ev)[4].message.kind, wm::kMouseWheel);
    EXPECT_EQ(static_cast<int16_t>((*ev)[4].message.wParam >> 16), -120);
    EXPECT_EQ((*ev)[5].message.wParam, platform::vk::kSpace);
    EXPECT_EQ((*ev)[7].message.kind, wm::kSysKeyDown);
    EXPECT_TRUE((*ev)[7].message.lParam & (1 << 29)) << "Alt is held";
    EXPECT_EQ((*ev)[9].message.wParam, platform::vk::kF10);
    EXPECT_EQ((*ev)[10].message.kind, wm::kClose);
}

TEST(InputScript, MistakesNameTheLine) {
    std::string error;
    EXPECT_FALSE(parseInputScript("100 click 1 2\nabc click 1 2\n", error));
    EXPECT_NE(error.find("line 2"), std::string::npos) << error;
    EXPECT_FALSE(parseInputScript("100 key NOSUCHKEY\n", error));
    EXPECT_NE(error.find("NOSUCHKEY"), std::string::npos);
    EXPECT_FALSE(parseInputScript("100 click 1\n", error));
    EXPECT_FALSE(parseInputScript("100 click 1 99999\n", error));
    EXPECT_FALSE(parseInputScript("100 dance\n", error));
}

}  // namespace
}  // namespace vaxo2::app

namespace vaxo2::app {
namespace {

void put16(std::string& s, uint16_t v) {
    s += static_cast<char>(v & 0xFF);
    s += static_cast<char>(v >> 8);
}
void put32(std::string& s, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        s += static_cast<char>((v >> (8 * i)) & 0xFF);
}

// A 4x4 32-bit cursor with its hotspot at (1, 2).
std::string tinyCursor() {
    std::string bmp;
    put32(bmp, 40);
    put32(bmp, 4);
    put32(bmp, 8);  // XOR and AND halves
    put16(bmp, 1);
    put16(bmp, 32);
    for (int i = 0; i < 6; ++i)
        put32(bmp, 0);
    for (int i = 0; i < 16; ++i)
        put32(bmp, 0xFF00FF00u);  // opaque green
    for (int i = 0; i < 4; ++i)
        put32(bmp, 0);  // AND mask rows
    std::string cur;
    put16(cur, 0);
    put16(cur, 2);
    put16(cur, 1);
    cur += '\x04';
    cur += '\x04';
    cur += '\0';
    cur += '\0';
    put16(cur, 1);
    put16(cur, 2);
    put32(cur, static_cast<uint32_t>(bmp.size()));
    put32(cur, 22);
    return cur + bmp;
}

TEST(Runtime, ScenarioStartLoadsTheCursorFromTheGame) {
    const std::string game = ::testing::TempDir() + "vaxo2_cursor_game";
    std::system(("rm -rf '" + game + "' && mkdir -p '" + game + "/System'").c_str());
    {
        std::ofstream f(game + "/System/CEOL.CUR", std::ios::binary);  // any case on disk
        f << tinyCursor();
    }
    std::atomic<bool> hadCursor{false};
    RuntimeHooks hooks;
    hooks.runScenario = [&](core::AppContext& ctx) {
        hadCursor = ctx.cursor != nullptr;
        return 0u;
    };
    RunOptions o = steppedHeadless();
    o.gameFolder = game;
    Runtime runtime(o, hooks);
    EXPECT_EQ(runtime.run(), 0);
    EXPECT_TRUE(hadCursor);

    // A broken cursor file leaves the arrow cursor and the game still runs.
    {
        std::ofstream f(game + "/System/CEOL.CUR", std::ios::binary | std::ios::trunc);
        f << tinyCursor().substr(0, 30);
    }
    hadCursor = true;
    Runtime again(o, hooks);
    EXPECT_EQ(again.run(), 0);
    EXPECT_FALSE(hadCursor);
}

}  // namespace
}  // namespace vaxo2::app
