// The demo game's opening script runs on its own thread under the stepped clock, as the
// scenario thread runs it: every statement reaches its handler and the waits take their time.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <thread>

#include "core/app_context.h"
#include "io/resource_loader.h"
#include "platform/clock.h"
#include "platform/system.h"
#include "script/command_table.h"
#include "script/compiler.h"
#include "script/interpreter.h"

namespace vaxo2::script {
namespace {

struct CountingHost : ScriptHost {
    std::atomic<int> releases{0};
    void releaseMainQueue() override { ++releases; }
};

// A player who presses Enter one frame into every wait that accepts it.
struct EnterPresser : InputWaiter {
    std::vector<std::pair<int32_t, bool>> triggers;  // code of a key trigger (-1 other), disabled
    void clearTriggers() override { triggers.clear(); }
    int addTrigger(TriggerKind kind, int32_t code, int32_t) override {
        triggers.emplace_back(kind == TriggerKind::Key ? code : -1, false);
        return static_cast<int>(triggers.size() - 1);
    }
    void setDisabled(int id, bool disabled) override {
        triggers.at(static_cast<size_t>(id)).second = disabled;
    }
    int wait(uint32_t timeoutMs) override {
        platform::Clock::instance().sleep(std::min<uint32_t>(timeoutMs, 16));
        for (size_t i = 0; i < triggers.size(); ++i) {
            if (triggers[i].first == 13 && !triggers[i].second) return static_cast<int>(i);
        }
        return -1;
    }
    bool keyHeld(int32_t) const override { return false; }
    void latchLeftClicks() override {}
};

// What the statements of a script ask for: command counts and the total of its Wait times.
struct Expected {
    std::map<std::string, int> calls;
    int64_t waitMs = 0;
};

Expected expectedFrom(const std::string& path) {
    Expected e;
    std::vector<uint8_t> bytes;
    EXPECT_TRUE(io::loadResource(path, bytes));
    ScriptContext ctx;
    compileScript(std::string(bytes.begin(), bytes.end()), ctx.image);
    for (int32_t idx : ctx.image.commandList) {
        const ScriptElement* el = ctx.image.element(idx);
        if (!el || el->kind != static_cast<int32_t>(ElementKind::Command)) continue;
        std::string name(ctx.image.text(el->name).value_or(""));
        ++e.calls[name];
        if (name == "Wait") {
            std::vector<ScriptValue> args;
            int32_t n = ScriptInterpreter::bindArguments(ctx, el->link, args);
            const ScriptValue* t = argumentAt(args, n, 0);
            e.waitMs += t && t->toInteger() ? *t->toInteger() : 1000;
        }
    }
    return e;
}

TEST(DemoScenario, StartScriptRunsOnAScenarioThread) {
    platform::setMessageBoxesInteractive(false);
    core::AppContext appCtx;
    appCtx.gameFolder = std::string(VAXO2_TEST_DATA) + "/../demo/game";
    core::ScopedAppContext scoped(appCtx);
    io::ResourceLoader::instance().reset();

    std::map<std::string, int> calls;
    std::mutex callsMutex;
    const char* graphics[] = {"Graphic", "GraphicSlot", "GraphicAlter", "GraphicDelete",
                              "Transition"};
    for (const char* name : graphics) {
        setCommandHandler(name, [&, name](ScriptInterpreter&, const std::vector<ScriptValue>& a,
                                          int32_t n, ScriptValue*) {
            std::lock_guard lock(callsMutex);
            ++calls[name];
            // Every demo statement names its layer, or its time for the transition.
            EXPECT_TRUE(argumentAt(a, n, 0) || argumentAt(a, n, 1)) << name;
        });
    }

    const Expected expected = expectedFrom("Start.vxs");
    ASSERT_FALSE(expected.calls.empty());

    CountingHost host;
    ScriptRunner runner;
    runner.setHost(&host);
    runner.setInputWaiter(std::make_unique<EnterPresser>());
    runner.loader().setPreConverterEnabled(false);
    appCtx.scriptRunner = &runner;

    platform::Clock& clock = platform::Clock::instance();
    clock.useStepped(1000);
    clock.becomeDriver();
    clock.reserveParticipant();
    std::atomic<bool> done{false};
    std::thread scenario([&] {
        platform::Clock::Participant participant{platform::Clock::Participant::Adopt{}};
        runner.runScripts("Start.vxs");
        done = true;
    });
    const uint32_t start = clock.now();
    while (!done && clock.now() - start < 60000)
        clock.advance(16);
    const uint32_t elapsed = clock.now() - start;
    scenario.join();
    clock.resignDriver();
    clock.useReal();
    for (const char* name : graphics)
        setCommandHandler(name, nullptr);
    io::ResourceLoader::instance().reset();

    EXPECT_TRUE(done);
    EXPECT_TRUE(runner.scriptStack().empty());
    // The opening may call further scripts: at least its own statements ran.
    for (const char* name : graphics)
        EXPECT_GE(calls[name], expected.calls.count(name) ? expected.calls.at(name) : 0) << name;
    EXPECT_GE(elapsed, static_cast<uint32_t>(expected.waitMs));
    EXPECT_GE(host.releases.load(), expected.calls.count("Wait") ? 2 : 0);
}

}  // namespace
}  // namespace vaxo2::script
