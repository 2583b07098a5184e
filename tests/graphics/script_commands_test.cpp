#include "graphics/script_commands.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <string>
#include <thread>

#include "core/app_context.h"
#include "graphics/transition.h"
#include "platform/clock.h"
#include "script/command_table.h"
#include "script/input_waiter.h"
#include "script/interpreter.h"

namespace vaxo2::graphics {
namespace {

using script::ScriptValue;

// Bound arguments of one statement, placed by parameter name as the binder places them.
struct Statement {
    std::string command;
    std::vector<ScriptValue> args;
    int32_t count = 0;

    explicit Statement(std::string name) : command(std::move(name)) {}
    Statement& with(const char* parameter, ScriptValue value) {
        const int index = script::parameterIndex(script::lookupCommand(command), parameter);
        EXPECT_GE(index, 0) << parameter;
        if (index < 0) return *this;
        if (args.size() <= static_cast<size_t>(index)) args.resize(static_cast<size_t>(index) + 1);
        args[static_cast<size_t>(index)] = std::move(value);
        count = static_cast<int32_t>(args.size());
        return *this;
    }
};

ScriptValue integer(int64_t v) {
    return ScriptValue::makeInteger(v);
}
ScriptValue real(double v) {
    return ScriptValue::makeReal(v);
}
ScriptValue text(const char* v) {
    return ScriptValue::makeString(v);
}
ScriptValue list(std::vector<ScriptValue> items) {
    return ScriptValue::makeList(std::move(items));
}

// Drains a private queue into a tree and reports the command kinds it held.
struct Harness {
    queue::CommandQueue queue;
    GraphicObject screen;
    void run() {
        queue.release();
        queue::QueExecuteContext context;
        context.screenRoot = &screen;
        queue.executeReleased(context);
    }
};

TEST(GraphicScriptCommands, GraphicWithOnlyTargetAndLayerQueuesOnlyTheCreate) {
    Harness h;
    queueGraphic(Statement("Graphic").with("Target", integer(1)).with("Layer", integer(4)).args, 2,
                 h.queue);
    EXPECT_EQ(h.queue.size(), 1u);
    h.run();
    EXPECT_NE(GraphicObject::find(&h.screen, {4}), nullptr);

    Statement full("Graphic");
    full.with("Layer", list({list({integer(1), integer(2)}), integer(3)}))
        .with("File", text("bg.png"))
        .with("x", integer(-20))
        .with("Hide", integer(1))
        .with("StencilAction", integer(1));
    queueGraphic(full.args, full.count, h.queue);
    EXPECT_EQ(h.queue.size(), 2u);
    h.run();
    GraphicObject* object = GraphicObject::find(&h.screen, {1, 2, 3});
    ASSERT_NE(object, nullptr);
    EXPECT_EQ(object->source->name(), "bg.png");
    EXPECT_FLOAT_EQ(object->slots.at(0).Position.x, -20.0f);
    EXPECT_EQ(object->hide, 1);
    EXPECT_EQ(object->StencilAction, 1);
}

TEST(GraphicScriptCommands, MovieFilesGoToTheMovieCommand) {
    EXPECT_TRUE(isMovieFile("movie\\op.WMV"));
    EXPECT_TRUE(isMovieFile("a.Avi"));
    EXPECT_TRUE(isMovieFile("x.mpg"));
    EXPECT_FALSE(isMovieFile("x.mpeg"));
    EXPECT_FALSE(isMovieFile("wmv"));

    Harness h;
    GraphicObject::create(&h.screen, {2});
    Statement alter("GraphicAlter");
    alter.with("Layer", integer(2)).with("File", text("op.WMV")).with("y", real(8.5));
    queueGraphicAlter(alter.args, alter.count, h.queue);
    EXPECT_EQ(h.queue.size(), 2u);  // the movie, then the alter without the file
    h.run();
    GraphicObject* object = GraphicObject::find(&h.screen, {2});
    ASSERT_TRUE(object->source);
    EXPECT_EQ(object->source->kind(), SourceKind::Movie);
    EXPECT_FLOAT_EQ(object->slots.at(0).Position.y, 8.5f);

    // Target 2 with no transition: the command reaches no tree.
    Statement other("GraphicAlter");
    other.with("Target", integer(2)).with("Layer", integer(2)).with("x", integer(99));
    queueGraphicAlter(other.args, other.count, h.queue);
    h.run();
    EXPECT_FLOAT_EQ(object->slots.at(0).Position.x, 0.0f);
}

TEST(GraphicScriptCommands, SlotArgumentConversions) {
    const auto v = [](ScriptValue value, float y = 0, float z = 0) {
        return vectorArgument(&value, y, z);
    };
    EXPECT_EQ(*v(integer(2), 1, 1), (Float3{2, 1, 1}));
    EXPECT_EQ(*v(list({integer(10), real(20.5)})), (Float3{10, 20.5f, 0}));
    EXPECT_EQ(*v(list({list({integer(1)}), text("2"), integer(3), integer(4)})), (Float3{1, 2, 3}));
    EXPECT_FALSE(v(list({})).has_value());
    EXPECT_FALSE(v(ScriptValue{}).has_value());
    EXPECT_FALSE(vectorArgument(nullptr, 0, 0).has_value());

    Harness h;
    GraphicObject* object = GraphicObject::create(&h.screen, {1});
    Statement slot("GraphicSlot");
    slot.with("Layer", integer(1))
        .with("Time", real(999.9))
        .with("Position", list({integer(10), integer(20)}))
        .with("Scale", integer(2))
        .with("AutoDeleteFlag", integer(5))
        .with("Roll", text("0.5"))
        .with("RollAxis", list({}));
    queueGraphicSlot(slot.args, slot.count, h.queue);
    h.run();
    ASSERT_EQ(object->slots.count(1), 1u);
    const StirSlot& s = object->slots.at(1);
    EXPECT_EQ(s.Time, 999);
    EXPECT_EQ(s.Loop, 1);  // always passed on, default 1
    EXPECT_EQ(s.Position, (Float3{10, 20, 0}));
    EXPECT_EQ(s.Scale, (Float3{2, 1, 1}));
    EXPECT_TRUE(s.AutoDeleteFlag);
    EXPECT_FLOAT_EQ(s.Roll, 0.5f);
    EXPECT_EQ(s.RollAxis, (Float3{0, 0, 1}));  // empty list: not given

    // Only a Position: finished in the first update, the object sits at (10, 20).
    Statement jump("GraphicSlot");
    jump.with("Layer", integer(1))
        .with("No", integer(1))
        .with("Position", list({integer(10), integer(20)}));
    queueGraphicSlot(jump.args, jump.count, h.queue);
    h.run();
    h.screen.updateRoot(1);
    const Vec3 at = object->worldMatrix.transformPoint(Vec3{});
    EXPECT_NEAR(at.x, 10.0f, 1e-4);
    EXPECT_NEAR(at.y, 20.0f, 1e-4);
}

class TransitionCommand : public ::testing::Test {
  protected:
    TransitionCommand() : scoped(app) {
        platform::Clock::instance().useReal();
        app.screenRoot = &screen;
    }
    ~TransitionCommand() override { app.transitionRoot = nullptr; }
    core::AppContext app;
    core::ScopedAppContext scoped;
    GraphicObject screen;
    queue::CommandQueue queue;
};

TEST_F(TransitionCommand, SnapshotIsPushedAheadOfTheUnreleasedBatch) {
    GraphicObject::create(&screen, {1})->loadImage("old.png");
    auto create = std::make_unique<classQue_GraphicCreate>();
    create->targetMask = 1;
    create->path = {1};
    queue.push(std::move(create));
    TransitionArguments args;
    args.Time.set(500);
    args.Async.set(1);
    args.File = "mask.png";
    runTransition(args, queue, TransitionWaiter{});
    EXPECT_EQ(queue.size(), 2u);
    EXPECT_EQ(queue.releaseCount(), 2);  // Async: the final release still happens

    queue::QueExecuteContext context;
    context.screenRoot = &screen;
    queue.executeReleased(context);
    ASSERT_NE(context.transitionRoot, nullptr);
    std::unique_ptr<GraphicObject> snapshot(context.transitionRoot);
    // The snapshot kept the old picture; the screen got the fresh object after it.
    EXPECT_EQ(GraphicObject::find(snapshot.get(), {1})->source->name(), "old.png");
    EXPECT_FALSE(GraphicObject::find(&screen, {1})->source);
    EXPECT_EQ(snapshot->source->kind(), SourceKind::RenderTarget);
    EXPECT_EQ(snapshot->shader->name(), kAlphaIgnoreShader);
    const StirSlot& fade = snapshot->slots.at(0);
    EXPECT_EQ(fade.Time, 500);
    EXPECT_EQ(fade.Loop, 1);
    EXPECT_FLOAT_EQ(fade.Transmittance, 1.0f);

    // Half-way through, the snapshot is half transparent; at the end it is retired.
    snapshot->lastUpdate = 0;
    snapshot->updateRoot(1000);
    snapshot->updateRoot(1001);
    snapshot->updateRoot(1250);
    EXPECT_NEAR(snapshot->transmittance, 0.5f, 0.005f);
    EXPECT_FALSE(transitionFinished(*snapshot));
    snapshot->updateRoot(1501);
    EXPECT_TRUE(transitionFinished(*snapshot));
}

TEST_F(TransitionCommand, IsQueWithNothingQueuedNeitherFadesNorWaits) {
    TransitionArguments args;
    args.IsQue.set(1);
    int waits = 0;
    TransitionWaiter waiter;
    waiter.wait = [&](uint32_t) { ++waits; };
    runTransition(args, queue, waiter);
    EXPECT_TRUE(queue.isEmpty());
    EXPECT_EQ(waits, 0);
}

TEST_F(TransitionCommand, WaitsOutTheTimeAndStopsOnALoad) {
    TransitionArguments args;
    args.Time.set(60);
    int waits = 0;
    bool registered = false;
    TransitionWaiter waiter;
    waiter.registerWakeups = [&] { registered = true; };
    waiter.wait = [&](uint32_t ms) {
        ++waits;
        platform::Clock::instance().sleep(ms < 20 ? ms : 20);
    };
    runTransition(args, queue, waiter);
    EXPECT_TRUE(registered);
    EXPECT_GE(waits, 2);
    EXPECT_EQ(queue.size(), 1u);

    waits = 0;
    waiter.wait = [&](uint32_t) {
        ++waits;
        app.dataLoadRequested.store(1);
    };
    args.Time.set(100000);
    runTransition(args, queue, waiter);
    EXPECT_EQ(waits, 1);

    // Skipping: the last release is left out.
    app.dataLoadRequested.store(0);
    queue.clear();
    args.Async.set(1);
    waiter.skipping = [] { return true; };
    runTransition(args, queue, waiter);
    EXPECT_EQ(queue.releaseCount(), 0);
}

}  // namespace
}  // namespace vaxo2::graphics

namespace vaxo2::graphics {
namespace {

// An input side that records what the waits register and never fires.
class RecordingInput : public script::InputWaiter {
  public:
    std::vector<std::pair<script::TriggerKind, int32_t>>* triggers;
    int* waits;
    bool controlHeld = false;
    RecordingInput(std::vector<std::pair<script::TriggerKind, int32_t>>* t, int* w)
        : triggers(t), waits(w) {}
    void clearTriggers() override { triggers->clear(); }
    int addTrigger(script::TriggerKind kind, int32_t code, int32_t) override {
        triggers->emplace_back(kind, code);
        return static_cast<int>(triggers->size());
    }
    void setDisabled(int, bool) override {}
    int wait(uint32_t ms) override {
        ++*waits;
        platform::Clock::instance().sleep(ms < 10 ? ms : 10);
        return -1;
    }
    bool keyHeld(int32_t key) const override { return controlHeld && key == 17; }
    void latchLeftClicks() override {}
};

TEST(RegisteredGraphicCommands, TransitionWaitsOnEnterControlAndClick) {
    platform::Clock::instance().useReal();
    core::AppContext app;
    core::ScopedAppContext scoped(app);
    registerGraphicCommands();
    script::ScriptInterpreter interpreter;
    std::vector<std::pair<script::TriggerKind, int32_t>> triggers;
    int waits = 0;
    interpreter.setInputWaiter(std::make_unique<RecordingInput>(&triggers, &waits));
    queue::CommandQueue& main = queue::mainCommandQueue();
    main.clear();

    Statement transition("Transition");
    transition.with("Time", integer(40));
    script::ScriptValue result;
    script::callHandler(script::lookupCommand("Transition"), interpreter, transition.args,
                        transition.count, &result);
    EXPECT_EQ(triggers, (std::vector<std::pair<script::TriggerKind, int32_t>>{
                            {script::TriggerKind::Key, 13},
                            {script::TriggerKind::Key, 17},
                            {script::TriggerKind::MouseButton, 1}}));
    EXPECT_GE(waits, 1);
    EXPECT_EQ(main.size(), 1u);
    EXPECT_EQ(main.releaseCount(), 1);

    // GraphicSlot through the table lands in the main queue unreleased.
    Statement slot("GraphicSlot");
    slot.with("Layer", integer(1)).with("No", integer(2));
    script::callHandler(script::lookupCommand("GraphicSlot"), interpreter, slot.args, slot.count,
                        &result);
    EXPECT_EQ(main.size(), 2u);
    EXPECT_EQ(main.releaseCount(), 1);
    main.clear();
}

// A waiter that sleeps out whatever it is asked for (briefly, to keep the test short) and is
// never woken by the stop flags; it raises quitRequested at its third wait.
class SleepyInput : public script::InputWaiter {
  public:
    explicit SleepyInput(core::AppContext& app) : app_(app) {}
    uint32_t longest = 0;
    int waits = 0;
    void clearTriggers() override {}
    int addTrigger(script::TriggerKind, int32_t, int32_t) override { return 0; }
    void setDisabled(int, bool) override {}
    int wait(uint32_t ms) override {
        longest = std::max(longest, ms);
        if (++waits == 3) app_.quitRequested.store(1);
        platform::Clock::instance().sleep(std::min<uint32_t>(ms, 5));
        return -1;
    }
    bool keyHeld(int32_t) const override { return false; }
    void latchLeftClicks() override {}

  private:
    core::AppContext& app_;
};

// Transition and GraphicWait do not trust the waiter to wake on a stop flag. (Wait and KeyWait
// hand it their whole time: the input manager wakes its waiters on the flags, and slices would
// leave gaps in which a click is not taken.)
TEST(RegisteredGraphicCommands, GraphicWaitsLookAtTheStopFlagsEachFrameWhateverTheWaiter) {
    platform::Clock::instance().useReal();
    registerGraphicCommands();
    std::vector<Statement> waits;
    waits.emplace_back("Transition");
    waits.back().with("Time", integer(20000));
    waits.emplace_back("GraphicWait");
    waits.back().with("Layer", integer(1)).with("Flag", integer(1));
    for (Statement& statement : waits) {
        core::AppContext app;
        core::ScopedAppContext scoped(app);
        GraphicObject screen;
        app.screenRoot = &screen;
        StirSlot running;
        running.Loop = 1;
        running.Time = 100000;
        running.remaining = 100000;
        GraphicObject::create(&screen, {1})->slots[1] = running;
        // The render thread's frames, which GraphicWait and KeyWait wait for first.
        std::atomic<bool> stop{false};
        std::thread frames([&] {
            for (int32_t frame = 1; !stop.load(); ++frame) {
                app.frameStarted.store(frame);
                app.frameDone.store(frame);
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        });
        script::ScriptInterpreter interpreter;
        auto* input = new SleepyInput(app);
        interpreter.setInputWaiter(std::unique_ptr<script::InputWaiter>(input));
        script::ScriptValue result;
        script::callHandler(script::lookupCommand(statement.command), interpreter, statement.args,
                            statement.count, &result);
        stop.store(true);
        frames.join();
        queue::mainCommandQueue().clear();
        EXPECT_EQ(input->waits, 3) << statement.command;  // ended at the first look after it
        EXPECT_LE(input->longest, core::kStopCheckIntervalMs) << statement.command;
    }
}

}  // namespace
}  // namespace vaxo2::graphics
