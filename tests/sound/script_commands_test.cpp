// The sound script commands: what they queue, and the voice bookkeeping on the scenario thread.
#include <gtest/gtest.h>

#include "core/app_context.h"
#include "queue/command_queue.h"
#include "script/command_table.h"
#include "script/interpreter.h"
#include "sound/script_commands.h"
#include "sound/sound_manager.h"

namespace vaxo2::sound {
namespace {

using script::ScriptValue;

// Names each executed sound command with what matters here.
class Recorder : public queue::SoundCommandTarget {
  public:
    std::vector<std::string> seen;
    void run(const queue::classQue_SoundCreate& c) override { add("Create", c.layer); }
    void run(const queue::classQue_SoundAlter& c) override {
        std::string s = "Alter " + std::to_string(c.layer) + " " + c.file;
        if (c.play.given) s += " Play=" + std::to_string(c.play.value);
        if (c.volume.given) s += " Volume=" + std::to_string(c.volume.value);
        if (c.loop.given) s += " Loop=" + std::to_string(c.loop.value);
        seen.push_back(s);
    }
    void run(const queue::classQue_SoundPlay& c) override { add("Play", c.layer); }
    void run(const queue::classQue_SoundStop& c) override {
        seen.push_back("Stop " + std::to_string(c.layer) + " " + std::to_string(c.time));
    }
    void run(const queue::classQue_SoundStopToVoice& c) override {
        seen.push_back("StopToVoice " + std::to_string(c.time.valueOr(-1)));
    }
    void run(const queue::classQue_SoundVolume& c) override {
        seen.push_back("Volume " + std::to_string(c.layer) + " " + std::to_string(c.volume) + " " +
                       std::to_string(c.time));
    }
    void run(const queue::classQue_SoundDelete& c) override { add("Delete", c.layer); }
    void run(const queue::classQue_SoundAllDelete&) override { seen.push_back("AllDelete"); }

  private:
    void add(const char* what, int64_t layer) {
        seen.push_back(std::string(what) + " " + std::to_string(layer));
    }
};

class HistoryHost : public script::ScriptHost {
  public:
    std::vector<std::vector<std::string>> entries;
    void openHistoryEntry() override { entries.emplace_back(); }
    void appendHistory(const std::string& text) override { entries.back().push_back(text); }
};

class CtrlWaiter : public script::InputWaiter {
  public:
    bool ctrl = false;
    void clearTriggers() override {}
    int addTrigger(script::TriggerKind, int32_t, int32_t) override { return 0; }
    void setDisabled(int, bool) override {}
    int wait(uint32_t) override { return -1; }
    bool keyHeld(int32_t key) const override { return ctrl && key == 17; }
    void latchLeftClicks() override {}
};

class SoundScriptCommands : public ::testing::Test {
  protected:
    void SetUp() override {
        context.soundManager = &sounds;
        interpreter.setHost(&host);
        auto waiter = std::make_unique<CtrlWaiter>();
        ctrl = waiter.get();
        interpreter.setInputWaiter(std::move(waiter));
        queue::setSoundCommandTarget(&recorder);
        queue::mainCommandQueue().clear();
        registerSoundCommands();
        sounds.setGroupRange(1, 10, 19);
        sounds.setGroupAutoSkip(1, 1);
    }
    void TearDown() override {
        queue::setSoundCommandTarget(nullptr);
        queue::mainCommandQueue().clear();
    }

    // Runs `command` with named arguments and returns what it queued, executed in order.
    std::vector<std::string> call(const char* command,
                                  std::vector<std::pair<const char*, ScriptValue>> named) {
        const int index = script::lookupCommand(command);
        std::vector<ScriptValue> args(script::parameterNames(index).size());
        for (auto& [name, value] : named)
            args[static_cast<size_t>(script::parameterIndex(index, name))] = value;
        script::callHandler(index, interpreter, args, static_cast<int32_t>(args.size()), nullptr);
        recorder.seen.clear();
        queue::mainCommandQueue().release();
        queue::QueExecuteContext ctx;
        queue::mainCommandQueue().executeReleased(ctx);
        return recorder.seen;
    }
    static ScriptValue i(int64_t v) { return ScriptValue::makeInteger(v); }
    static ScriptValue r(double v) { return ScriptValue::makeReal(v); }
    static ScriptValue s(std::string v) { return ScriptValue::makeString(std::move(v)); }
    using Seen = std::vector<std::string>;

    core::AppContext context;
    core::ScopedAppContext published{context};
    Mixer mixer;
    SoundManager sounds{mixer};
    Recorder recorder;
    HistoryHost host;
    CtrlWaiter* ctrl = nullptr;
    script::ScriptInterpreter interpreter;
};

TEST_F(SoundScriptCommands, VoicesStopEarlierOnesOncePerPageAndAreRecorded) {
    EXPECT_EQ(call("Sound", {{"Layer", i(10)}, {"File", s("v\\a1.ogg")}, {"Play", i(1)}}),
              (Seen{"Create 10", "StopToVoice 100", "Delete 99", "Alter 10 v\\a1.ogg Play=1",
                    "Play 10"}));
    EXPECT_EQ(context.voiceStarted.load(), 1);
    EXPECT_EQ(context.lastVoiceFile, "v\\a1.ogg");
    EXPECT_EQ(context.lastVoiceLayer, 10);
    EXPECT_EQ(context.historyEntryOpen.load(), 1);
    EXPECT_EQ(host.entries, (std::vector<std::vector<std::string>>{{"!<voicev\\a1.ogg"}}));

    // A second voice on the same page: no second stop, and the open entry is not touched.
    EXPECT_EQ(call("Sound", {{"Layer", i(11)}, {"File", s("v\\a2.ogg")}, {"Play", i(1)}}),
              (Seen{"Create 11", "Delete 99", "Alter 11 v\\a2.ogg Play=1", "Play 11"}));
    EXPECT_EQ(context.lastVoiceFile, "v\\a2.ogg");
    EXPECT_EQ(host.entries.size(), 1u);

    // KeyWait clears the byte: the next page's voice stops the earlier ones again.
    context.voiceStarted = 0;
    context.historyEntryOpen = 0;
    EXPECT_EQ(call("SoundAlter", {{"Layer", i(12)}, {"File", s("v\\b1.ogg")}}),
              (Seen{"StopToVoice 100", "Delete 99", "Alter 12 v\\b1.ogg"}));
    EXPECT_EQ(host.entries.back(), (std::vector<std::string>{"!<voicev\\b1.ogg"}));

    // Changing a voice layer's settings without a file leaves the recorded voice alone.
    EXPECT_EQ(call("SoundAlter", {{"Layer", i(12)}, {"Volume", r(0.5)}}),
              (Seen{"Alter 12  Volume=0.500000"}));
    EXPECT_EQ(context.lastVoiceFile, "v\\b1.ogg");
}

TEST_F(SoundScriptCommands, SkippingKeepsVoicesSilentButNotOtherSounds) {
    for (int how = 0; how < 2; ++how) {
        context.skipMode = how == 0 ? 1 : 0;
        ctrl->ctrl = how == 1;
        context.voiceStarted = 1;
        EXPECT_EQ(call("Sound", {{"Layer", i(10)}, {"File", s("v.ogg")}, {"Play", i(1)}}),
                  (Seen{"Create 10", "Delete 99", "Alter 10 v.ogg Play=0"}))
            << how;
        EXPECT_EQ(context.lastVoiceFile, "v.ogg");
        EXPECT_EQ(call("Sound",
                       {{"Layer", i(1)}, {"File", s("bgm.ogg")}, {"Play", i(1)}, {"Loop", i(2)}}),
                  (Seen{"Create 1", "Alter 1 bgm.ogg Play=1 Loop=2", "Play 1"}))
            << how;
    }
}

TEST_F(SoundScriptCommands, StopVolumeAndGroupCommands) {
    EXPECT_EQ(call("Sound", {{"File", s("x.ogg")}}), Seen{});  // no Layer: nothing
    EXPECT_EQ(call("SoundStop", {{"Layer", i(4)}, {"Time", i(1000)}}), Seen{"Stop 4 1000"});
    EXPECT_EQ(call("SoundStop", {{"Time", i(1000)}}), Seen{});
    EXPECT_EQ(call("SoundVolume", {{"Layer", i(4)}, {"Volume", r(0.25)}, {"Time", r(2)}}),
              Seen{"Volume 4 0.250000 2.000000"});
    EXPECT_EQ(call("SoundVolume", {{"Layer", i(4)}, {"Time", r(2)}}), Seen{});

    call("SoundGroup", {{"No", i(3)}, {"SoundNoStart", i(40)}, {"SoundNoLast", i(49)}});
    call("SoundGroupVolume", {{"No", i(3)}, {"Volume", r(0.7)}});
    call("SoundGroupSilent", {{"No", i(3)}});
    call("SoundGroupAutomodeSkip", {{"No", i(3)}, {"Value", i(4)}});
    call("SoundGroupVolume", {{"No", i(8)}, {"Volume", r(0.1)}});  // unknown: nothing
    const std::optional<SoundGroup> g = sounds.group(3);
    ASSERT_TRUE(g);
    EXPECT_EQ(g->first, 40);
    EXPECT_EQ(g->last, 49);
    EXPECT_EQ(g->fader.value, 700);
    EXPECT_TRUE(g->silent);
    EXPECT_TRUE(g->isVoiceGroup());
    EXPECT_FALSE(sounds.group(8));
    call("SoundGroup", {{"No", i(3)}, {"SoundNoLast", i(45)}});
    EXPECT_EQ(sounds.group(3)->first, 40);
    EXPECT_EQ(sounds.group(3)->last, 45);
}

}  // namespace
}  // namespace vaxo2::sound
