#include "sound/script_commands.h"

#include <memory>
#include <optional>
#include <string>

#include "core/app_context.h"
#include "queue/command_arguments.h"
#include "queue/sound_commands.h"
#include "script/command_table.h"
#include "script/flow_commands.h"
#include "script/input_waiter.h"
#include "script/interpreter.h"
#include "sound/sound_manager.h"

namespace vaxo2::sound {

namespace {

using script::ScriptValue;
using Args = std::vector<ScriptValue>;
using queue::integerArgument;
using queue::namedArgument;
using queue::realArgument;
using queue::setInt;

SoundManager* manager() {
    core::AppContext* app = core::appContext();
    return app ? app->soundManager : nullptr;
}

// Skip: the skip mode is on or Ctrl is held.
bool skipping(script::ScriptInterpreter& in) {
    const core::AppContext* app = core::appContext();
    if (app && app->skipMode.load() == 1) return true;
    script::InputWaiter* waiter = in.inputWaiter();
    return waiter && waiter->keyHeld(script::key::kControl);
}

void queueAlter(script::ScriptInterpreter& in, const Args& args, int32_t count, const char* command,
                int64_t layer, queue::CommandQueue& queue) {
    auto a = [&](const char* name) { return namedArgument(args, count, command, name); };
    auto alter = std::make_unique<queue::classQue_SoundAlter>();
    alter->layer = layer;
    if (const ScriptValue* file = a("File")) alter->file = file->toString().value_or(std::string());
    if (auto volume = realArgument(a("Volume"))) alter->volume.set(static_cast<float>(*volume));
    setInt(alter->pan, a("Pan"));
    setInt(alter->loop, a("Loop"));
    setInt(alter->silent, a("Silent"));
    setInt(alter->stream, a("Stream"));
    setInt(alter->finishToDelete, a("FinishToDelete"));
    setInt(alter->play, a("Play"));
    setInt(alter->loopFileNo, a("LoopFileNo"));

    SoundManager* sounds = manager();
    core::AppContext* app = core::appContext();
    if (sounds && app && sounds->isVoiceLayer(layer)) {
        // A voice: never played while skipping.
        if (skipping(in)) alter->play.set(0);
        // A new voice file: earlier voices fade out (once per page), the backlog's replay stops,
        // and the voice is remembered for automatic play, the backlog and save slots. Settings
        // changes without a file leave the recorded voice alone.
        if (!alter->file.empty()) {
            if (app->voiceStarted.load() == 0) {
                auto stop = std::make_unique<queue::classQue_SoundStopToVoice>();
                stop->time.set(SoundManager::kVoiceFadeMs);
                queue.push(std::move(stop));
            }
            app->voiceStarted.store(1);
            auto replay = std::make_unique<queue::classQue_SoundDelete>();
            replay->layer = SoundManager::kReplayLayer;
            queue.push(std::move(replay));
            app->lastVoiceFile = alter->file;
            app->lastVoiceLayer = layer;
            if (app->historyEntryOpen.load() == 0) {
                app->historyEntryOpen.store(1);
                in.host().openHistoryEntry();
                in.host().appendHistory("!<voice" + alter->file);
            }
        }
    }
    const bool play = alter->play.given && alter->play.value != 0;
    queue.push(std::move(alter));
    if (play) {
        auto start = std::make_unique<queue::classQue_SoundPlay>();
        start->layer = layer;
        queue.push(std::move(start));
    }
}

void soundStop(script::ScriptInterpreter&, const Args& args, int32_t count, ScriptValue*) {
    auto a = [&](const char* name) { return namedArgument(args, count, "SoundStop", name); };
    const std::optional<int64_t> layer = integerArgument(a("Layer"));
    if (!layer) return;
    auto stop = std::make_unique<queue::classQue_SoundStop>();
    stop->layer = *layer;
    stop->time = integerArgument(a("Time")).value_or(0);
    if (auto flag = integerArgument(a("FinishToDelete"))) stop->finishToDelete.set(*flag != 0);
    queue::mainCommandQueue().push(std::move(stop));
}

void soundVolume(script::ScriptInterpreter&, const Args& args, int32_t count, ScriptValue*) {
    auto a = [&](const char* name) { return namedArgument(args, count, "SoundVolume", name); };
    const std::optional<int64_t> layer = integerArgument(a("Layer"));
    const std::optional<double> volume = realArgument(a("Volume"));
    if (!layer || !volume) return;
    auto change = std::make_unique<queue::classQue_SoundVolume>();
    change->layer = *layer;
    change->volume = static_cast<float>(*volume);
    change->time = realArgument(a("Time")).value_or(0.0);  // seconds
    queue::mainCommandQueue().push(std::move(change));
}

void soundGroup(script::ScriptInterpreter&, const Args& args, int32_t count, ScriptValue*) {
    auto a = [&](const char* name) { return namedArgument(args, count, "SoundGroup", name); };
    const std::optional<int64_t> no = integerArgument(a("No"));
    SoundManager* sounds = manager();
    if (!no || !sounds) return;
    sounds->setGroupRange(*no, integerArgument(a("SoundNoStart")),
                          integerArgument(a("SoundNoLast")));
}

void soundGroupVolume(script::ScriptInterpreter&, const Args& args, int32_t count, ScriptValue*) {
    auto a = [&](const char* name) { return namedArgument(args, count, "SoundGroupVolume", name); };
    const std::optional<int64_t> no = integerArgument(a("No"));
    const std::optional<double> volume = realArgument(a("Volume"));
    SoundManager* sounds = manager();
    if (!no || !volume || !sounds) return;
    sounds->setGroupVolume(*no, *volume);
}

void soundGroupSilent(script::ScriptInterpreter&, const Args& args, int32_t count, ScriptValue*) {
    auto a = [&](const char* name) { return namedArgument(args, count, "SoundGroupSilent", name); };
    const std::optional<int64_t> no = integerArgument(a("No"));
    SoundManager* sounds = manager();
    if (!no || !sounds) return;
    sounds->setGroupSilent(*no, integerArgument(a("Value")).value_or(1) != 0);
}

void soundGroupAutomodeSkip(script::ScriptInterpreter&, const Args& args, int32_t count,
                            ScriptValue*) {
    auto a = [&](const char* name) {
        return namedArgument(args, count, "SoundGroupAutomodeSkip", name);
    };
    const std::optional<int64_t> no = integerArgument(a("No"));
    SoundManager* sounds = manager();
    if (!no || !sounds) return;
    sounds->setGroupAutoSkip(*no, integerArgument(a("Value")).value_or(1));
}

}  // namespace

void queueSound(script::ScriptInterpreter& in, const Args& args, int32_t count,
                queue::CommandQueue& queue) {
    const std::optional<int64_t> layer =
        integerArgument(namedArgument(args, count, "Sound", "Layer"));
    if (!layer) return;
    auto create = std::make_unique<queue::classQue_SoundCreate>();
    create->layer = *layer;
    queue.push(std::move(create));
    queueAlter(in, args, count, "Sound", *layer, queue);
}

void queueSoundAlter(script::ScriptInterpreter& in, const Args& args, int32_t count,
                     queue::CommandQueue& queue) {
    const int64_t layer =
        integerArgument(namedArgument(args, count, "SoundAlter", "Layer")).value_or(0);
    queueAlter(in, args, count, "SoundAlter", layer, queue);
}

void registerSoundCommands() {
    script::setCommandHandler(
        "Sound", [](script::ScriptInterpreter& in, const Args& args, int32_t count, ScriptValue*) {
            queueSound(in, args, count, queue::mainCommandQueue());
        });
    script::setCommandHandler("SoundAlter", [](script::ScriptInterpreter& in, const Args& args,
                                               int32_t count, ScriptValue*) {
        queueSoundAlter(in, args, count, queue::mainCommandQueue());
    });
    script::setCommandHandler("SoundStop", soundStop);
    script::setCommandHandler("SoundVolume", soundVolume);
    script::setCommandHandler("SoundGroup", soundGroup);
    script::setCommandHandler("SoundGroupVolume", soundGroupVolume);
    script::setCommandHandler("SoundGroupSilent", soundGroupSilent);
    script::setCommandHandler("SoundGroupAutomodeSkip", soundGroupAutomodeSkip);
}

}  // namespace vaxo2::sound
