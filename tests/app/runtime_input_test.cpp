// The input manager inside the running shell: timed input reaches it through the window, and a
// context of higher priority (as the toolbar's) takes a click before the script's KeyWait.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <thread>

#include "app/runtime.h"
#include "platform/clock.h"
#include "script/flags.h"
#include "script/interpreter.h"

namespace vaxo2::app {
namespace {

TEST(RuntimeInput, AHigherPriorityContextTakesTheClickBeforeKeyWait) {
    const std::string game = ::testing::TempDir() + "vaxo2_priority_game";
    std::system(("rm -rf '" + game + "' && mkdir -p '" + game + "'").c_str());
    std::ofstream(game + "/Start.vxs") << "KeyWait() FlagSet(Flag=1, Value=7) Wait(Time=60000)\n";
    script::localFlags().clear();

    std::atomic<const input::InputTrigger*> toolbarFired{nullptr};
    const input::InputTrigger* toolbarClick = nullptr;
    RuntimeHooks hooks;
    hooks.runScenario = [&](core::AppContext& ctx) {
        input::InputManager& manager = *ctx.inputManager;
        input::InputContext* toolbar = manager.createContext(1);
        toolbarClick = manager.addTrigger(*toolbar, script::TriggerKind::MouseButton, 1);
        std::thread toolbarThread([&] { toolbarFired = manager.wait(*toolbar, 5000); });
        while (!toolbar->waiting())
            std::this_thread::yield();
        ctx.scriptRunner->runScripts(std::string("Start.vxs"));
        toolbarThread.join();
        manager.destroyContext(toolbar);
        return 0u;
    };
    RunOptions o;
    o.headless = true;
    o.stepped = true;
    o.gameFolder = game;
    std::string error;
    auto input = parseInputScript("200 click 640 360\n400 key RETURN\n", error);
    ASSERT_TRUE(input) << error;
    o.input = *input;
    o.exitAfter = 600;
    Runtime runtime(o, hooks);
    EXPECT_EQ(runtime.run(), 0);
    EXPECT_EQ(toolbarFired.load(), toolbarClick) << "the toolbar's context took the click";
    // Had KeyWait come first, the click would have ended it and the toolbar seen nothing.
    EXPECT_EQ(script::localFlag(1), 7) << "Enter then ended KeyWait";
}

}  // namespace
}  // namespace vaxo2::app
