// The input manager fed with window messages: the key table, the game coordinates, the order in
// which contexts are offered messages, the stop flags, and the waits.
#include "input/input_manager.h"

#include <gtest/gtest.h>

#include <cmath>

#include "core/app_context.h"
#include "input/context_waiter.h"
#include "input_test_support.h"

namespace vaxo2::input {
namespace {

using namespace testing;
namespace vk = platform::vk;

TEST(GameCoordinates, MapThroughTheLetterbox) {
    struct Case {
        int32_t w, h;
        int x, y;
        float gameX, gameY;
    };
    const Case cases[] = {
        {1280, 720, 0, 0, 0, 0},                   // the design size maps one to one
        {1280, 720, 1279, 719, 1279, 719},         //
        {2560, 1440, 1280, 720, 640, 360},         // twice the size: half the coordinates
        {2560, 1080, 320, 0, 0, 0},                // 21:9: bars of 320 on both sides, scale 1.5
        {2560, 1080, 100, 540, -146.66667f, 360},  // in the left bar: below 0
        {2560, 1080, 2500, 540, 1453.3334f, 360},  // in the right bar: beyond 1280
        {1024, 768, 512, 96, 640, 0},              // 4:3: bars above and below, scale 0.8
        {1024, 768, 0, 10, 0, -107.5f},            // in the top bar
        {1283, 720, 1, 0, 0, 0},  // the bar offset is truncated: (1283 - 1280) / 2 = 1
        {0, 0, 35, -7, 35, -7},   // no viewport: unchanged
        {2560, 1080, -32768, 32767, -22058.666f, 21844.666f},  // far outside: finite
    };
    for (const Case& c : cases) {
        const GamePoint p = mapToGame(c.x, c.y, c.w, c.h);
        EXPECT_NEAR(p.x, c.gameX, 0.01f) << c.w << "x" << c.h << " at " << c.x;
        EXPECT_NEAR(p.y, c.gameY, 0.01f) << c.w << "x" << c.h << " at " << c.y;
    }
    // The mouse position is kept in game coordinates.
    FakeScene scene;
    scene.width = 2560;
    scene.height = 1080;
    InputManager manager(&scene);
    manager.handleMessage(moveTo(100, 1080));
    EXPECT_NEAR(manager.mouseX(), -146.67f, 0.01f);
    EXPECT_NEAR(manager.mouseY(), 720.0f, 0.01f);
}

TEST(KeyTable, EveryKindOfPressAndReleaseCounts) {
    InputManager manager;
    struct Step {
        platform::WindowMessage message;
        int64_t key;
        uint64_t pressCount;
        bool held;
    };
    const uint32_t alt = vk::kMenu, f10 = vk::kF10;
    const Step steps[] = {
        {click(5, 5), 1, 1, true},
        {click(5, 5, wm::kLButtonUp), 1, 1, false},
        {{wm::kRButtonDown, 0, 0}, 2, 1, true},
        {{wm::kRButtonUp, 0, 0}, 2, 1, false},
        {{wm::kMButtonDown, 0, 0}, 4, 1, true},
        {keyDown(vk::kReturn), vk::kReturn, 1, true},
        {keyDown(vk::kReturn), vk::kReturn, 2, true},  // auto-repeat counts
        {keyUp(vk::kReturn), vk::kReturn, 2, false},
        // Alt and F10 come as system keys and count like others ...
        {{wm::kSysKeyDown, alt, wm::keyLParam(true, false, false)}, alt, 1, true},
        {{wm::kSysKeyUp, alt, wm::keyLParam(true, true, true)}, alt, 1, false},
        {{wm::kSysKeyDown, f10, wm::keyLParam(false, false, false)}, f10, 1, true},
        // ... other keys pressed with Alt do not.
        {{wm::kSysKeyDown, 'A', wm::keyLParam(true, false, false)}, 'A', 0, false},
        {keyDown(255), 255, 1, true},
    };
    for (const Step& s : steps) {
        manager.handleMessage(s.message);
        EXPECT_EQ(manager.pressCount(s.key), s.pressCount) << "key " << s.key;
        EXPECT_EQ(manager.keyHeld(s.key), s.held) << "key " << s.key;
    }
    // Codes beyond the table and points far outside the window are harmless.
    for (uint64_t code :
         {uint64_t{256}, uint64_t{300}, uint64_t{0xFFFF}, uint64_t{1} << 40, ~uint64_t{0}}) {
        manager.handleMessage(keyDown(code));
        manager.handleMessage(keyUp(code));
    }
    manager.handleMessage({wm::kMouseMove, 0, ~int64_t{0}});
    manager.handleMessage(moveTo(-32768, 32767));
    EXPECT_TRUE(std::isfinite(manager.mouseX()) && std::isfinite(manager.mouseY()));
    EXPECT_EQ(manager.keyState(256), nullptr);
    EXPECT_EQ(manager.keyState(-1), nullptr);
    EXPECT_NE(manager.keyState(0), nullptr);
    EXPECT_EQ(manager.pressCount(255), 1u) << "a code beyond the table touched no entry";
}

TEST(Offering, HigherPriorityFirstAndOlderFirstAmongEquals) {
    InputManager manager;
    InputContext* older = manager.createContext(0);
    InputContext* newer = manager.createContext(0);
    InputContext* toolbar = manager.createContext(1);
    InputTrigger* olderClick = manager.addTrigger(*older, TriggerKind::MouseButton, 1);
    manager.addTrigger(*newer, TriggerKind::MouseButton, 1);
    InputTrigger* toolbarClick = manager.addTrigger(*toolbar, TriggerKind::MouseButton, 1);
    {
        Waiting a(manager, *older), b(manager, *newer), t(manager, *toolbar);
        manager.handleMessage(click(10, 10));
        EXPECT_EQ(t.result(), toolbarClick);
        EXPECT_TRUE(older->waiting() && newer->waiting()) << "one context takes a message";
        manager.handleMessage(click(10, 10));
        EXPECT_EQ(a.result(), olderClick);
        EXPECT_TRUE(newer->waiting());
        manager.wakeAll();
        EXPECT_EQ(b.result(), nullptr) << "a plain wake returns no trigger";
    }
    // A context that is not waiting takes nothing.
    manager.handleMessage(click(10, 10));
    EXPECT_EQ(toolbar->fired(), toolbarClick);
    EXPECT_EQ(older->fired(), olderClick);
    manager.destroyContext(newer);
    manager.destroyContext(older);
    manager.destroyContext(toolbar);
}

TEST(Offering, TriggersMatchTheirMessageAndOthersPassOn) {
    InputManager manager;
    InputContext* upper = manager.createContext(5);
    InputContext* lower = manager.createContext(0);
    InputTrigger* enter = manager.addTrigger(*upper, TriggerKind::Key, vk::kReturn);
    InputTrigger* away = manager.addTrigger(*upper, TriggerKind::WheelAway, 0);
    InputTrigger* toward = manager.addTrigger(*upper, TriggerKind::WheelToward, 0);
    InputTrigger* right = manager.addTrigger(*upper, TriggerKind::MouseButton, 2);
    InputTrigger* disabledClick = manager.addTrigger(*upper, TriggerKind::MouseButton, 1);
    manager.setDisabled(*disabledClick, true);
    InputTrigger* lowerAny = manager.addTrigger(*lower, TriggerKind::MouseButton, 1);
    InputTrigger* lowerKey = manager.addTrigger(*lower, TriggerKind::Key, vk::kDown);
    struct Case {
        platform::WindowMessage message;
        InputTrigger* upperFires;  // null: the upper context lets it pass
        InputTrigger* lowerFires;
    };
    const Case cases[] = {
        {keyDown(vk::kReturn), enter, nullptr},
        {wheel(120), away, nullptr},
        {wheel(-240), toward, nullptr},
        {{wm::kRButtonDown, 0, 0}, right, nullptr},
        {click(1, 1), nullptr, lowerAny},  // disabled above: reaches the lower context
        {keyDown(vk::kDown), nullptr, lowerKey},
        {keyDown(vk::kDown + (uint64_t{1} << 32)), nullptr, nullptr},  // not the Down key
        {wheel(0), nullptr, nullptr},
        {keyUp(vk::kReturn), nullptr, nullptr},
        {{wm::kMButtonDown, 0, 0}, nullptr, nullptr},
    };
    for (const Case& c : cases) {
        Waiting u(manager, *upper, 30), l(manager, *lower, 30);
        manager.handleMessage(c.message);
        EXPECT_EQ(u.result(), c.upperFires) << "message " << c.message.kind;
        EXPECT_EQ(l.result(), c.lowerFires) << "message " << c.message.kind;
    }
}

TEST(Offering, StopFlagsWakeEveryWaiterTheyConcern) {
    core::AppContext app;
    core::ScopedAppContext published(app);
    InputManager manager;
    InputContext* plain = manager.createContext(1);
    InputContext* also = manager.createContext(0);
    InputContext* keepsOnQuit = manager.createContext(0);
    manager.setStopMask(*keepsOnQuit, stop_mask::kQuit);
    for (InputContext* c : {plain, also, keepsOnQuit})
        manager.addTrigger(*c, TriggerKind::Key, vk::kReturn);

    Waiting p(manager, *plain), a(manager, *also), k(manager, *keepsOnQuit, 400);
    app.quitRequested = 1;  // as the window procedure does on WM_DESTROY, then passes it on
    manager.handleMessage({wm::kDestroy, 0, 0});
    EXPECT_EQ(p.result(), nullptr);
    EXPECT_EQ(a.result(), nullptr) << "not only the first context is woken";
    EXPECT_EQ(plain->waitResult(), platform::kWaitObject0);
    EXPECT_FALSE(k.done()) << "its mask keeps it waiting through a quit";
    EXPECT_EQ(k.result(), nullptr);
    EXPECT_EQ(keepsOnQuit->waitResult(), platform::kWaitTimeout);

    // A stop raised before a wait began ends the wait at once; so does a closed window.
    EXPECT_EQ(manager.wait(*plain, platform::kInfinite), nullptr);
    app.quitRequested = 0;
    app.dataLoadRequested = 1;
    EXPECT_EQ(manager.wait(*keepsOnQuit, platform::kInfinite), nullptr);
    app.dataLoadRequested = 0;
    app.windowClosed = 1;
    EXPECT_EQ(manager.wait(*keepsOnQuit, platform::kInfinite), nullptr);
}

TEST(Waiting, AClickArrivingAsTheWaitArmsIsKept) {
    InputManager manager;
    InputContext* context = manager.createContext(0);
    InputTrigger* left = manager.addTrigger(*context, TriggerKind::MouseButton, 1);
    // The click lands after the context started taking messages and before the waiter
    // blocks: it must end this wait rather than be forgotten by it.
    manager.setArmedProbe([&] { manager.handleMessage(click(3, 3)); });
    EXPECT_EQ(manager.wait(*context, 2000), left);
    EXPECT_EQ(context->waitResult(), platform::kWaitObject0);
    manager.setArmedProbe(nullptr);
    // A signal given before a wait began is not taken by it.
    manager.wakeAll();
    EXPECT_EQ(manager.wait(*context, 20), nullptr);
    EXPECT_EQ(context->waitResult(), platform::kWaitTimeout);
}

TEST(Waiting, RepeatFiresWhileTheLeftButtonIsHeld) {
    InputManager manager;
    InputContext* context = manager.createContext(0);
    InputContext* empty = manager.createContext(0);
    EXPECT_EQ(manager.wait(*empty, platform::kInfinite), nullptr) << "nothing to wait for";
    InputTrigger* held = manager.addTrigger(*context, TriggerKind::MouseButton, 1, true);
    {
        Waiting w(manager, *context);
        manager.handleMessage(click(9, 9));
        EXPECT_EQ(w.result(), held);
    }
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(manager.wait(*context, 1000), held) << "held: at once, again and again";
    manager.handleMessage(click(9, 9, wm::kLButtonUp));
    EXPECT_EQ(manager.wait(*context, 20), nullptr) << "released: a real wait";
    manager.setRepeat(*held, false);
    manager.handleMessage(click(9, 9));
    EXPECT_EQ(manager.wait(*context, 20), nullptr) << "without repeat, holding is not clicking";
}

TEST(Offering, SystemScriptPassesOverContextsThatAskForIt) {
    FakeScene scene;
    InputManager manager(&scene);
    InputContext* toolbar = manager.createContext(1);
    InputContext* script = manager.createContext(0);
    manager.setIgnoreDuringSystemScript(*toolbar, true);
    InputTrigger* toolbarClick = manager.addTrigger(*toolbar, TriggerKind::MouseButton, 1);
    InputTrigger* scriptClick = manager.addTrigger(*script, TriggerKind::MouseButton, 1);
    for (bool systemScript : {true, false}) {
        scene.systemScript = systemScript;
        Waiting t(manager, *toolbar, 30), s(manager, *script, 30);
        manager.handleMessage(click(1, 1));
        EXPECT_EQ(t.result(), systemScript ? nullptr : toolbarClick);
        EXPECT_EQ(s.result(), systemScript ? scriptClick : nullptr);
    }
    EXPECT_EQ(scene.treeVisits, 0) << "no area and no owner: the tree is not locked";
}

TEST(ContextWaiter, IdsDisablingAndTheClickLatch) {
    core::AppContext app;
    core::ScopedAppContext published(app);
    InputManager manager;
    ContextWaiter waiter(manager);
    const int enter = waiter.addTrigger(TriggerKind::Key, vk::kReturn, 0);
    const int ctrl = waiter.addTrigger(TriggerKind::Key, vk::kControl, 1);
    const int left = waiter.addTrigger(TriggerKind::MouseButton, 1, 0);
    EXPECT_EQ(enter, 0);
    EXPECT_EQ(left, 2);
    EXPECT_TRUE(waiter.context().triggers()[static_cast<size_t>(ctrl)]->repeat)
        << "the flag is the repeat setting";
    waiter.setDisabled(left, true);
    waiter.setDisabled(99, true);  // unknown ids are ignored
    manager.setArmedProbe([&] {
        manager.handleMessage(click(1, 1));
        manager.handleMessage(keyDown(vk::kReturn));
    });
    EXPECT_EQ(waiter.wait(1000), enter) << "the disabled click passed, Enter fired";
    manager.setArmedProbe(nullptr);
    manager.handleMessage(keyDown(vk::kControl));
    EXPECT_TRUE(waiter.keyHeld(vk::kControl));
    manager.handleMessage(click(1, 1));
    waiter.latchLeftClicks();
    EXPECT_EQ(app.latchedLeftPresses.load(), 2u);
    waiter.clearTriggers();
    EXPECT_TRUE(waiter.context().triggers().empty());
    EXPECT_EQ(waiter.context().fired(), nullptr);
    EXPECT_EQ(waiter.wait(platform::kInfinite), -1) << "no triggers, no limit: at once";
}

}  // namespace
}  // namespace vaxo2::input
