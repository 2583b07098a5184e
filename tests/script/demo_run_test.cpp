// The demo game's opening script runs on its own thread under the stepped clock, as the
// scenario thread runs it: every statement reaches its handler and the waits take their time.
#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <thread>

#include "app/app_context.h"
#include "io/resource_loader.h"
#include "platform/clock.h"
#include "platform/system.h"
#include "script/command_table.h"
#include "script/interpreter.h"

namespace vaxo2::script {
namespace {

struct CountingHost : ScriptHost {
    std::atomic<int> releases{0};
    void releaseMainQueue() override { ++releases; }
};

TEST(DemoScenario, StartScriptRunsOnAScenarioThread) {
    platform::setMessageBoxesInteractive(false);
    app::AppContext appCtx;
    appCtx.gameFolder = std::string(VAXO2_TEST_DATA) + "/../demo/game";
    app::ScopedAppContext scoped(appCtx);
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

    CountingHost host;
    ScriptRunner runner;
    runner.setHost(&host);
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
    EXPECT_EQ(calls["Graphic"], 5);
    EXPECT_EQ(calls["GraphicSlot"], 3);
    EXPECT_EQ(calls["Transition"], 1);
    EXPECT_EQ(calls["GraphicAlter"], 1);
    EXPECT_EQ(calls["GraphicDelete"], 1);
    // Two waits of 1500 ms on the stepped clock.
    EXPECT_GE(elapsed, 3000u);
    EXPECT_LT(elapsed, 3200u);
    EXPECT_GE(host.releases.load(), 4);
}

}  // namespace
}  // namespace vaxo2::script
