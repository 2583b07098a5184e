#include "script/interpreter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <map>
#include <optional>
#include <thread>

#include "core/app_context.h"
#include "script/command_table.h"
#include "script/flags.h"
#include "script/flow_commands.h"

namespace vaxo2::script {
namespace {

// Records what the commands asked of the rest of the system.
struct RecordingHost : ScriptHost {
    int releases = 0;
    int restartCleanups = 0;
    int finishes = 0;
    int frames = 0;
    std::vector<int64_t> voiceStops;
    int historyClears = 0;
    bool drawing = false;
    int guardClears = 0;
    std::optional<int64_t> displayTime;
    bool voicePlaying = false;
    std::map<std::string, std::vector<uint8_t>> marks;

    void releaseMainQueue() override { ++releases; }
    void queueRestartCleanup() override { ++restartCleanups; }
    void queueTextDrawingAllFinish() override { ++finishes; }
    void queueStopVoice(int64_t v) override { voiceStops.push_back(v); }
    void waitForFrame() override { ++frames; }
    void clearHistory() override { ++historyClears; }
    bool messageTextDrawing() override { return drawing; }
    std::optional<int64_t> messageDisplayTime() override { return displayTime; }
    bool anyVoicePlaying() override { return voicePlaying; }
    void clearMessageTextGuard() override {
        ++guardClears;
        drawing = false;
    }
    uint8_t* readMarksFor(const std::string& name, size_t count) override {
        auto& m = marks[name];
        m.assign(count, 0);
        return m.data();
    }
};

// A waiter that fires a scripted sequence of trigger kinds/codes, one per wait.
struct ScriptedWaiter : InputWaiter {
    struct Trigger {
        TriggerKind kind;
        int32_t code;
        int32_t flag;
        bool disabled = false;
    };
    std::vector<Trigger> triggers;
    std::vector<std::pair<TriggerKind, int32_t>> script;  // what the player does, in order
    size_t next = 0;
    int waits = 0;
    int latches = 0;
    bool ctrlHeld = false;
    std::function<void()> duringWait;  // what another thread does meanwhile

    void clearTriggers() override { triggers.clear(); }
    int addTrigger(TriggerKind kind, int32_t code, int32_t flag) override {
        triggers.push_back({kind, code, flag});
        return static_cast<int>(triggers.size() - 1);
    }
    void setDisabled(int id, bool disabled) override {
        triggers.at(static_cast<size_t>(id)).disabled = disabled;
    }
    int wait(uint32_t) override {
        ++waits;
        if (duringWait) duringWait();
        if (next >= script.size()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            return -1;
        }
        auto [kind, code] = script[next++];
        for (size_t i = 0; i < triggers.size(); ++i) {
            if (triggers[i].kind == kind && triggers[i].code == code && !triggers[i].disabled)
                return static_cast<int>(i);
        }
        return -1;
    }
    bool keyHeld(int32_t vk) const override { return vk == key::kControl && ctrlHeld; }
    void latchLeftClicks() override { ++latches; }
};

class InterpreterTest : public ::testing::Test {
  protected:
    void SetUp() override {
        localFlags().clear();
        globalFlags().clear();
        in.setHost(&host);
        in.loader().setPreConverterEnabled(false);
        in.loader().setResourceReader([this](const std::string& name, std::vector<uint8_t>& out) {
            ++reads[name];
            auto it = files.find(name);
            if (it == files.end()) return false;
            out.assign(it->second.begin(), it->second.end());
            return true;
        });
    }
    void TearDown() override {
        setCommandHandler("History", nullptr);
        setCommandHandler("TitleMenu", nullptr);
    }

    core::AppContext appCtx;
    core::ScopedAppContext scoped{appCtx};
    RecordingHost host;
    ScriptInterpreter in;
    std::map<std::string, std::string> files;
    std::map<std::string, int> reads;
};

TEST_F(InterpreterTest, RunsStatementsAndEmptiesTheStack) {
    files["Start.vxs"] =
        "FlagSet(Flag=1, Value=7) Dammy GlobalFlagSet(Flag=3, Value=-5) "
        "FlagSet(Flag=4) FlagReset(Flag=1)";
    in.runScripts("Start.vxs");
    EXPECT_TRUE(in.scriptStack().empty());
    EXPECT_EQ(localFlag(1), 0);
    EXPECT_EQ(globalFlag(3), -5);
    EXPECT_EQ(localFlag(4), 1);
    EXPECT_EQ(host.marks["Start.vxs"].size(), 4u);  // Dammy made no statement
}

TEST_F(InterpreterTest, FlagNumbersOutsideTheArraysAreIgnored) {
    files["s"] =
        "FlagSet(Flag=100, Value=9) FlagSet(Flag=-1, Value=9) "
        "GlobalFlagSet(Flag=0x7FFFFFFFFFFFFFFF) FlagSet(Flag=99, Value=2)";
    in.runScripts("s");
    EXPECT_EQ(localFlag(100), 0);
    EXPECT_EQ(localFlag(-1), 0);
    EXPECT_EQ(localFlag(99), 2);
    auto bytes = localFlagBytes();
    EXPECT_EQ(bytes[99 * 8], 2);
}

TEST_F(InterpreterTest, FlagArgumentsThatAreNoNumbersAreNotGiven) {
    struct Case {
        const char* script;
        int64_t flag;  // which flag to look at afterwards
        int64_t want;
        bool global;
    };
    const Case cases[] = {
        {"FlagSet(Flag=0, Value=3) FlagSet(Flag=\"abc\", Value=5)", 0, 3, false},  // not flag 0
        {"FlagSet(Flag=8, Value=\"x\")", 8, 1, false},                             // the default 1
        {"FlagSet(Flag=6, Value=9) FlagReset(Flag=\"six\")", 6, 9, false},
        {"GlobalFlagSet(Flag=\" 3 \", Value=\"-5\")", 3, -5, true},  // numeric strings count
        {"FlagSet(Flag=\"0x0A\", Value=\"2.9\")", 10, 2, false},
        {"FlagSet(Flag=11, Value=\"7up\")", 11, 1, false},
        {"FlagSet(Flag=12, Value=2.5)", 12, 2, false},
        {"FlagSet(Flag=(1, 2), Value=4) FlagSet(Flag=13, Value=\"1e2\")", 13, 100, false},
        // An If whose Value is no number compares with the default 0.
        {"IfScriptCall(File=\"t\", Flag=50, Value=\"one\")", 20, 1, false},
        {"IfScriptCall(File=\"t\", Flag=\"fifty\", Value=0)", 20, 0, false},
    };
    files["t"] = "FlagSet(Flag=20)";
    for (const Case& c : cases) {
        localFlags().clear();
        globalFlags().clear();
        files["s"] = c.script;
        in.runScripts("s");
        EXPECT_EQ(c.global ? globalFlag(c.flag) : localFlag(c.flag), c.want) << c.script;
        if (!c.global) {
            EXPECT_EQ(globalFlag(0), 0) << c.script;
        }
    }
}

TEST_F(InterpreterTest, JumpInsideACallReplacesOnlyTheCallee) {
    files["a"] = "ScriptCall(File=\"b\") FlagSet(Flag=1, Value=10)";
    files["b"] = "ScriptJump(File=\"c\") FlagSet(Flag=2)";
    files["c"] = "FlagSet(Flag=3) FlagSet(Flag=5, Value=Flag[2])";
    in.runScripts("a");
    EXPECT_EQ(localFlag(1), 10);
    EXPECT_EQ(localFlag(2), 0);
    EXPECT_EQ(localFlag(3), 1);
    EXPECT_EQ(localFlag(5), 1);  // a variable reference is not given: Value keeps 1
}

TEST_F(InterpreterTest, MissingScriptEndsAtOnceAndFileIsUsedAsWritten) {
    files["a"] =
        "ScriptCall(File=\"nothere\") ScriptCall(Label=#x) ScriptJump(File=\"\") "
        "IfScriptCall(File=\"b\", Flag=0) FlagSet(Flag=1)";
    files["b.vxs"] = "FlagSet(Flag=2)";
    in.runScripts("a");
    EXPECT_EQ(reads["nothere"], 1);
    EXPECT_EQ(reads.count(""), 0u);
    EXPECT_EQ(reads["b"], 1);  // no extension is added
    EXPECT_EQ(localFlag(1), 1);
    EXPECT_EQ(localFlag(2), 0);
}

TEST_F(InterpreterTest, IfConditionsTestLocalAndGlobalFlags) {
    files["t"] = "FlagSet(Flag=9)";
    files["s"] = "IfScriptCall(File=\"t\", Flag=2, Value=1, GlobalFlag=7)";
    in.runScripts("s");
    EXPECT_EQ(localFlag(9), 0);
    setGlobalFlag(7, 1);
    in.runScripts("s");
    EXPECT_EQ(localFlag(9), 1);
    setLocalFlag(9, 0);
    setGlobalFlag(7, 0);
    setLocalFlag(2, 1);
    in.runScripts("s");
    EXPECT_EQ(localFlag(9), 1);
    // An unset Value compares with 0: a flag never set matches.
    setLocalFlag(9, 0);
    files["u"] = "IfScriptJump(File=\"t\", Flag=40)";
    in.runScripts("u");
    EXPECT_EQ(localFlag(9), 1);
    // Neither Flag nor GlobalFlag: false.
    setLocalFlag(9, 0);
    files["v"] = "IfScriptJump(File=\"t\", Value=0)";
    in.runScripts("v");
    EXPECT_EQ(localFlag(9), 0);
}

TEST_F(InterpreterTest, QuitMidRunStopsAfterThatStatement) {
    setCommandHandler("TitleMenu", [this](ScriptInterpreter&, const std::vector<ScriptValue>&,
                                          int32_t, ScriptValue*) { appCtx.quitRequested = 1; });
    files["s"] = "FlagSet(Flag=1) TitleMenu FlagSet(Flag=2)";
    in.runScripts("s");
    EXPECT_EQ(localFlag(1), 1);
    EXPECT_EQ(localFlag(2), 0);
    ASSERT_EQ(in.scriptStack().size(), 1u);
    EXPECT_EQ(in.scriptStack()[0]->currentIndex, 2);
}

TEST_F(InterpreterTest, QuitCommandEndsEveryScript) {
    files["a"] = "ScriptCall(File=\"b\") FlagSet(Flag=1)";
    files["b"] = "Quit FlagSet(Flag=2)";
    in.runScripts("a");
    EXPECT_TRUE(in.scriptStack().empty());
    EXPECT_EQ(localFlag(1), 0);
    EXPECT_EQ(localFlag(2), 0);
}

TEST_F(InterpreterTest, RepeatedStatementIsNotMarkedRead) {
    int calls = 0;
    setCommandHandler("TitleMenu", [&](ScriptInterpreter& i, const std::vector<ScriptValue>&,
                                       int32_t, ScriptValue*) {
        if (++calls < 3)
            i.repeatCurrent();
        else
            appCtx.quitRequested = 1;
    });
    files["s"] = "Apply TitleMenu Apply";
    in.runScripts("s");
    EXPECT_EQ(calls, 3);
    std::vector<uint8_t> expect{1, 1, 0};
    EXPECT_EQ(host.marks["s"], expect);
    appCtx.quitRequested = 0;
    calls = 0;
    host.marks.clear();
    files["r"] = "TitleMenu";
    setCommandHandler("TitleMenu", [&](ScriptInterpreter& i, const std::vector<ScriptValue>&,
                                       int32_t, ScriptValue*) {
        i.repeatCurrent();
        appCtx.quitRequested = 1;
    });
    in.runScripts("r");
    EXPECT_EQ(host.marks["r"][0], 0);
}

TEST_F(InterpreterTest, SystemScriptInheritanceAndActivity) {
    files["sys"] = "ScriptCall(File=\"inner\")";
    files["inner"] = "History";
    std::vector<std::pair<bool, uint8_t>> seen;
    setCommandHandler("History", [&](ScriptInterpreter& i, const std::vector<ScriptValue>&, int32_t,
                                     ScriptValue*) {
        seen.emplace_back(i.isSystemScriptActive(), i.executingContext()->isSystemScript);
    });
    files["main"] = "History TitleMenu FlagSet(Flag=1)";
    int menuCalls = 0;
    setCommandHandler("TitleMenu", [&](ScriptInterpreter& i, const std::vector<ScriptValue>&,
                                       int32_t, ScriptValue*) {
        if (++menuCalls == 1)
            i.callSystemScript("sys");  // the menu runs again after the system script
    });
    in.runScripts("main");
    EXPECT_EQ(menuCalls, 2);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0], std::make_pair(false, uint8_t{0}));
    EXPECT_EQ(seen[1], std::make_pair(true, uint8_t{1}));  // inherited through the call
    EXPECT_EQ(localFlag(1), 1);
    EXPECT_FALSE(in.isSystemScriptActive());  // empty stack
}

TEST_F(InterpreterTest, RestartEndsEverythingAndQueuesCleanup) {
    files["a"] = "ScriptCall(File=\"b\") FlagSet(Flag=1)";
    files["b"] = "Restart FlagSet(Flag=2)";
    files["start.vxs"] = "FlagSet(Flag=3)";
    in.runScripts("a");
    EXPECT_EQ(localFlag(1), 0);
    EXPECT_EQ(localFlag(2), 0);
    EXPECT_EQ(localFlag(3), 1);
    EXPECT_EQ(host.restartCleanups, 1);
}

TEST_F(InterpreterTest, SaveSkipsSystemScriptsAndReloadResumesUnderPreDataLoad) {
    std::vector<uint8_t> saved;
    files["main"] = "FlagSet(Flag=1) TitleMenu FlagSet(Flag=2, Value=Flag[1])";
    files["sys"] = "History Apply";
    files["system\\PreDataLoad.vxs"] = "FlagSet(Flag=4)";
    setCommandHandler("TitleMenu", [&](ScriptInterpreter& i, const std::vector<ScriptValue>&,
                                       int32_t, ScriptValue*) {
        if (saved.empty()) i.callSystemScript("sys");
    });
    setCommandHandler("History", [&](ScriptInterpreter& i, const std::vector<ScriptValue>&, int32_t,
                                     ScriptValue*) {
        i.writeAllStates(saved);
        appCtx.quitRequested = 1;
    });
    in.runScripts("main");
    ASSERT_FALSE(saved.empty());
    EXPECT_EQ(in.scriptStack().size(), 2u);  // main and the system script

    // One record only: the system script is not written.
    std::vector<std::unique_ptr<ScriptContext>> records;
    EXPECT_EQ(readStateRecords(saved.data(), saved.size(), records), 1u);
    EXPECT_EQ(records[0]->currentIndex, 1);

    appCtx.quitRequested = 0;
    localFlags().clear();
    EXPECT_EQ(in.readAllStates(saved.data(), saved.size()), 1u);
    appCtx.dataLoadRequested = 1;
    in.reloadStep();
    EXPECT_EQ(appCtx.dataLoadRequested.load(), 0);
    EXPECT_TRUE(in.pendingStack().empty());
    EXPECT_TRUE(in.scriptStack().empty());
    EXPECT_EQ(localFlag(4), 1);
    EXPECT_EQ(localFlag(1), 0);  // statement 0 is not executed again
    EXPECT_EQ(localFlag(2), 1);
    EXPECT_EQ(reads["main"], 1);  // the saved image is used, the file is not read again
}

TEST_F(InterpreterTest, DamagedImageBindsNothingAndCyclicListsStop) {
    ScriptContext ctx;
    // A list element whose item list names the list itself.
    ctx.image.elementTable = {{9, -1, 0}, {1, 1, 99}};
    ctx.image.argumentLists = {1, 0};
    ctx.image.dataPool = {0, 'W', 'a', 'i', 't', 0};
    ScriptValue v;
    ScriptInterpreter::bindElement(ctx, 0, v);
    int depth = 0;
    for (const ScriptValue* p = &v; p->type == ScriptValueType::List && !p->items.empty();
         p = &p->items[0])
        ++depth;
    EXPECT_LE(depth, 40);
    // A list naming itself four times would expand to 4^32 values.
    ScriptContext wide;
    wide.image.elementTable = {{9, -1, 0}};
    wide.image.argumentLists = {4, 0, 0, 0, 0};
    ScriptValue w;
    ScriptInterpreter::bindElement(wide, 0, w);
    std::function<size_t(const ScriptValue&)> count = [&](const ScriptValue& x) {
        size_t n = 1;
        for (const ScriptValue& i : x.items)
            n += count(i);
        return n;
    };
    EXPECT_LE(count(w), size_t{1} << 17);
    std::vector<ScriptValue> args;
    EXPECT_EQ(ScriptInterpreter::bindArguments(ctx, 99, args), 0);
    ctx.image.commandList = {1, 7, -3};
    ctx.sizeTemporaries();
    in.stepCommand(ctx);
    in.stepCommand(ctx);
    in.stepCommand(ctx);
    EXPECT_EQ(ctx.currentIndex, 3);
    in.stepCommand(ctx);  // past the end stays at the end
    EXPECT_EQ(ctx.currentIndex, 3);
}

// A statement binds only the parameters its command has: a damaged image may give a statement
// a million-item argument list (shared by many statements).
TEST_F(InterpreterTest, StatementsBindOnlyTheirCommandsParameters) {
    ScriptContext ctx;
    ctx.image.dataPool = {'W', 'a', 'i', 't', 0, 'N', 'o', 'p', 'e', 0};
    ctx.image.elementTable = {{1, 0, 0}, {1, 5, 0}, {6, -1, 10}};
    ctx.image.dataPool.resize(18, 0);
    ctx.image.argumentLists.assign(1'000'001, 2);
    ctx.image.argumentLists[0] = 1'000'000;
    ctx.image.commandList = {0, 1, 0};
    ctx.sizeTemporaries();
    in.stepCommand(ctx);
    EXPECT_EQ(in.arguments().size(), 2u);  // Time and SkipOn
    in.stepCommand(ctx);                   // not in the table: nothing is bound
    EXPECT_EQ(in.arguments().size(), 2u);
    std::vector<ScriptValue> all;
    EXPECT_EQ(ScriptInterpreter::bindArguments(ctx, 0, all, 3), 3);
    EXPECT_EQ(all.size(), 3u);
    EXPECT_EQ(all[2].type, ScriptValueType::Integer);
    EXPECT_EQ(ScriptInterpreter::bindArguments(ctx, 0, all, -1), 0);
}

// Endless ScriptCall recursion stops at the depth limit with one message; the refused call acts
// like a call of a script that cannot be loaded, and a jump at the limit still runs.
TEST_F(InterpreterTest, EndlessScriptCallStopsAtTheDepthLimit) {
    files["r"] = "ScriptCall(File=\"r\") ScriptJump(File=\"leaf\")";
    files["leaf"] = "FlagSet(Flag=3, Value=Flag[3]) FlagSet(Flag=4)";
    ::testing::internal::CaptureStderr();
    in.runScripts("r");
    const std::string said = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(reads["r"], static_cast<int>(kMaxScriptDepth));
    EXPECT_EQ(reads["leaf"], static_cast<int>(kMaxScriptDepth));
    EXPECT_EQ(localFlag(4), 1);
    EXPECT_TRUE(in.scriptStack().empty());
    EXPECT_NE(said.find("script \"r\" not started: scripts are already nested 256 deep"),
              std::string::npos)
        << said;
    EXPECT_EQ(said.find("not started"), said.rfind("not started")) << "reported once";
}

TEST_F(InterpreterTest, WaitReleasesAndIgnoresInputUnlessSkipOn) {
    auto* waiter = new ScriptedWaiter;
    in.setInputWaiter(std::unique_ptr<InputWaiter>(waiter));
    files["zero"] = "Wait(0)";
    in.runScripts("zero");
    EXPECT_EQ(host.releases, 1);
    EXPECT_EQ(waiter->waits, 0);

    // Without SkipOn the clicks are disabled: only time ends it.
    waiter->script = {{TriggerKind::Key, key::kEnter}, {TriggerKind::MouseButton, 1}};
    files["w"] = "Wait(Time=200)";  // long enough that no stall lets it end early
    in.runScripts("w");
    EXPECT_GE(waiter->waits, 3);
    EXPECT_EQ(waiter->latches, 2);  // both waits without SkipOn latch the clicks

    waiter->script = {{TriggerKind::MouseButton, 1}};
    waiter->next = 0;
    waiter->waits = 0;
    files["s"] = "Wait(Time=600000, SkipOn=1)";
    in.runScripts("s");
    EXPECT_EQ(waiter->waits, 1);

    waiter->script.clear();
    waiter->waits = 0;
    waiter->ctrlHeld = true;
    in.runScripts("s");
    EXPECT_EQ(waiter->waits, 0);  // Ctrl already held: skip at once
    waiter->ctrlHeld = false;
    appCtx.skipMode = 1;
    in.runScripts("s");
    EXPECT_EQ(waiter->waits, 0);  // so does skip mode
}

TEST_F(InterpreterTest, WaitsEndOnStopFlagsWithoutAWaiter) {
    files["w"] = "Wait(Time=600000) KeyWait FlagSet(Flag=1)";
    appCtx.restartRequested = 1;
    in.runScripts("w");
    EXPECT_EQ(localFlag(1), 0);
    ASSERT_EQ(in.scriptStack().size(), 1u);
    EXPECT_EQ(in.scriptStack()[0]->currentIndex, 1);
    in.runScripts();
    EXPECT_EQ(in.scriptStack()[0]->currentIndex, 2);
}

TEST_F(InterpreterTest, KeyWaitSkipModeCompletesTextWithoutWaiting) {
    auto* waiter = new ScriptedWaiter;
    in.setInputWaiter(std::unique_ptr<InputWaiter>(waiter));
    appCtx.skipMode = 1;
    files["k"] = "KeyWait";
    in.runScripts("k");
    EXPECT_EQ(host.finishes, 1);
    EXPECT_EQ(waiter->waits, 0);
    EXPECT_EQ(host.voiceStops, std::vector<int64_t>{100});
}

TEST_F(InterpreterTest, KeyWaitFirstClickCompletesTextSecondAdvances) {
    auto* waiter = new ScriptedWaiter;
    in.setInputWaiter(std::unique_ptr<InputWaiter>(waiter));
    host.drawing = true;
    waiter->script = {{TriggerKind::MouseButton, 1}, {TriggerKind::Key, key::kPageDown}};
    files["k"] = "KeyWait FlagSet(Flag=1)";
    in.runScripts("k");
    EXPECT_EQ(waiter->waits, 2);
    EXPECT_EQ(host.finishes, 1);
    EXPECT_EQ(host.guardClears, 1);
    EXPECT_EQ(waiter->triggers.size(), 9u);
    EXPECT_EQ(waiter->triggers[1].flag, 1);  // Ctrl registered with flag 1
    EXPECT_EQ(localFlag(1), 1);
}

TEST_F(InterpreterTest, KeyWaitHistoryOpensBacklogThenWaitsAgain) {
    auto* waiter = new ScriptedWaiter;
    in.setInputWaiter(std::unique_ptr<InputWaiter>(waiter));
    files["system\\History.vxs"] = "FlagSet(Flag=8, Value=Flag[8])";
    waiter->script = {{TriggerKind::WheelAway, 0}, {TriggerKind::Key, key::kEnter}};
    files["k"] = "KeyWait FlagSet(Flag=1)";
    in.runScripts("k");
    EXPECT_EQ(reads["system\\History.vxs"], 1);
    EXPECT_EQ(localFlag(8), 1);
    EXPECT_EQ(waiter->waits, 2);
    EXPECT_EQ(host.voiceStops.size(), 1u);  // only after the real advance
    EXPECT_EQ(localFlag(1), 1);
}

TEST_F(InterpreterTest, KeyWaitAutoModeWithoutVoiceOrMessageWaitsForInput) {
    auto* waiter = new ScriptedWaiter;
    in.setInputWaiter(std::unique_ptr<InputWaiter>(waiter));
    appCtx.autoMode = 1;
    files["k"] = "KeyWait(Time=200)";
    in.runScripts("k");
    EXPECT_GE(waiter->waits, 2);  // ran until its Time, never advanced by itself
}

TEST_F(InterpreterTest, KeyWaitAutoModeAdvancesAfterTheMessageTimeUnlessAVoicePlays) {
    auto* waiter = new ScriptedWaiter;
    in.setInputWaiter(std::unique_ptr<InputWaiter>(waiter));
    appCtx.autoMode = 1;
    appCtx.autoWait = 30;
    host.displayTime = 40;
    files["k"] = "KeyWait(Time=600000) FlagSet(Flag=1)";
    in.runScripts("k");
    EXPECT_EQ(localFlag(1), 1) << "advanced by itself";
    // A voice still playing puts the advance off by autoWait at a time, up to Time.
    host.voicePlaying = true;
    waiter->waits = 0;
    files["v"] = "KeyWait(Time=300) FlagSet(Flag=2)";
    in.runScripts("v");
    EXPECT_GE(waiter->waits, 300 / 30 / 2) << "kept waiting in autoWait steps";
    EXPECT_EQ(localFlag(2), 1);
}

TEST_F(InterpreterTest, KeyWaitInterruptedByASystemScriptRunsAgainAfterIt) {
    auto* waiter = new ScriptedWaiter;
    in.setInputWaiter(std::unique_ptr<InputWaiter>(waiter));
    files["system\\QuickSave.vxs"] = "FlagSet(Flag=5)";
    // The toolbar starts a system script while the scenario waits, and wakes the waiter.
    bool pushed = false;
    waiter->duringWait = [&] {
        if (pushed) return;
        pushed = true;
        in.callSystemScript("system\\QuickSave.vxs");
    };
    // The first wait ends with no trigger (the toolbar's wake), the second with an advance.
    waiter->script = {{TriggerKind::Key, 0}, {TriggerKind::WheelToward, 0}};
    files["k"] = "KeyWait FlagSet(Flag=1)";
    in.runScripts("k");
    EXPECT_EQ(localFlag(5), 1) << "the system script ran";
    EXPECT_EQ(localFlag(1), 1) << "then the same KeyWait waited again and advanced";
    EXPECT_EQ(waiter->waits, 2);
    EXPECT_EQ(host.voiceStops.size(), 1u) << "no voice stop for the interrupted pass";
}

TEST_F(InterpreterTest, ApplyAndHistoryResetReachTheHost) {
    files["s"] = "Apply HistoryReset Apply";
    in.runScripts("s");
    EXPECT_EQ(host.releases, 2);
    EXPECT_EQ(host.historyClears, 1);
}

TEST(CommandTable, LookupRegistrationAndNames) {
    EXPECT_EQ(commandTable().size(), 48u);
    EXPECT_EQ(lookupCommand("Dammy"), 0);
    EXPECT_EQ(lookupCommand("Apply"), 1);
    EXPECT_EQ(lookupCommand("GraphicDelete"), 4);
    EXPECT_EQ(lookupCommand("apply"), 0);
    EXPECT_EQ(lookupCommand("SubMenu"), 47);
    EXPECT_EQ(parameterNames(17).size(), 24u);
    EXPECT_EQ(parameterNames(17)[23], "ScaleGainEnd");
    EXPECT_EQ(parameterNames(31)[3], "DefaultHigth");
    EXPECT_EQ(parameterNames(19)[6], "Stream");
    EXPECT_EQ(std::string(commandTable()[14].name), "GraphicPouse");
    EXPECT_EQ(std::string(commandTable()[31].name), "OrignalCharactorSet");

    int calls = 0;
    ASSERT_TRUE(
        setCommandHandler("GraphicDelete", [&](ScriptInterpreter&, const std::vector<ScriptValue>&,
                                               int32_t, ScriptValue*) { ++calls; }));
    ScriptInterpreter in;
    std::vector<ScriptValue> none;
    callHandler(4, in, none, 0, nullptr);
    callHandler(15, in, none, 0, nullptr);
    EXPECT_EQ(calls, 2);
    setCommandHandler("GraphicDelete", nullptr);
    callHandler(4, in, none, 0, nullptr);
    EXPECT_EQ(calls, 2);
    EXPECT_FALSE(setCommandHandler("NoSuchCommand", nullptr));
}

TEST(ScriptValue, Conversions) {
    EXPECT_EQ(ScriptValue::makeString("  0x10zz").toInteger(), 16);
    EXPECT_EQ(ScriptValue::makeString("010").toInteger(), 8);
    EXPECT_EQ(ScriptValue::makeString("abc").toInteger(), 0);
    EXPECT_EQ(ScriptValue::makeReal(-2.9).toInteger(), -2);
    EXPECT_EQ(ScriptValue::makeReal(1e300).toInteger(), INT64_MAX);
    EXPECT_FALSE(ScriptValue::makeReal(std::nan("")).toInteger());
    EXPECT_DOUBLE_EQ(*ScriptValue::makeString("2.5x").toReal(), 2.5);
    EXPECT_EQ(*ScriptValue::makeInteger(-7).toString(), "-7");
    EXPECT_EQ(*ScriptValue::makeReal(1.5).toString(), "1.500000");
    EXPECT_FALSE(ScriptValue::makeList({}).toInteger());
    EXPECT_FALSE(ScriptValue::makeLabelRef("#a", 3).toString());
    EXPECT_FALSE(ScriptValue{}.toReal());

    std::vector<double> reals;
    ScriptValue nested = ScriptValue::makeList(
        {ScriptValue::makeInteger(1),
         ScriptValue::makeList({ScriptValue::makeString("2.5"), ScriptValue{}}),
         ScriptValue::makeReal(3.0), ScriptValue::makeLabelRef("#x", 0)});
    EXPECT_TRUE(flattenToReals(nested, reals));
    EXPECT_EQ(reals, (std::vector<double>{1.0, 2.5, 3.0}));
    std::vector<double> empty;
    EXPECT_FALSE(flattenToReals(ScriptValue::makeList({ScriptValue{}}), empty));
}

}  // namespace
}  // namespace vaxo2::script
