#include "graphics/script_commands.h"

#include <cctype>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "core/app_context.h"
#include "graphics/graphic_source.h"
#include "graphics/graphic_wait.h"
#include "graphics/picture_prefetch.h"
#include "graphics/transition.h"
#include "platform/clock.h"
#include "platform/movie_decoder.h"
#include "queue/command_arguments.h"
#include "queue/command_queue.h"
#include "queue/layer_path.h"
#include "script/command_table.h"
#include "script/flow_commands.h"
#include "script/input_waiter.h"
#include "script/interpreter.h"
#include "script/script_loader.h"

namespace vaxo2::graphics {

namespace {

using script::ScriptValue;
using Args = std::vector<ScriptValue>;
using queue::addressed;
using queue::integerArgument;
using queue::namedArgument;
using queue::setFloat;
using queue::setInt;

void setVector(queue::OptionalFloat3& to, const ScriptValue* value, float fillY = 0.0f,
               float fillZ = 0.0f) {
    if (auto vector = vectorArgument(value, fillY, fillZ)) {
        to.set(*vector);
    }
}

template <typename Command>
script::CommandHandler pathOnly(const char* command) {
    return [command](script::ScriptInterpreter&, const Args& args, int32_t count, ScriptValue*) {
        queue::mainCommandQueue().push(addressed<Command>(args, count, command));
    };
}

// GraphicAlter's work, shared by Graphic (which names its own arguments).
void queueAlter(const Args& args, int32_t count, const char* command, queue::CommandQueue& queue) {
    bool more = false;
    for (const char* name : {"File", "x", "y", "z", "Hide", "StencilAction"}) {
        const ScriptValue* value = namedArgument(args, count, command, name);
        more |= value != nullptr && !value->isNone();
    }
    std::string file;
    if (const ScriptValue* value = namedArgument(args, count, command, "File")) {
        file = value->toString().value_or(std::string());
    }
    queue::OptionalFloat x, y, z;
    setFloat(x, namedArgument(args, count, command, "x"));
    setFloat(y, namedArgument(args, count, command, "y"));
    setFloat(z, namedArgument(args, count, command, "z"));
    queue::OptionalBool hide;
    if (auto value = integerArgument(namedArgument(args, count, command, "Hide"))) {
        hide.set(*value != 0);
    }
    if (isMovieFile(file)) {
        // Here on the scenario thread, rather than at the movie's first frame on the render
        // thread.
        platform::MovieDecoder::prepare();
        auto movie = addressed<classQue_GraphicAlter_Movie>(args, count, command);
        movie->file = file;
        movie->x = x;
        movie->y = y;
        movie->z = z;
        movie->hide = hide;
        queue.push(std::move(movie));
        file.clear();
    }
    if (!more) {
        return;
    }
    // The picture is read and decoded from now on, so that its first draw only uploads it. One
    // already cached is drawn from its textures.
    if (!file.empty() && !sourceCache().holds(static_cast<int32_t>(SourceKind::Image), file)) {
        PicturePrefetch::instance().request(file);
    }
    auto alter = addressed<classQue_GraphicAlter>(args, count, command);
    alter->file = file;
    alter->x = x;
    alter->y = y;
    alter->z = z;
    alter->hide = hide;
    setInt(alter->stencilAction, namedArgument(args, count, command, "StencilAction"));
    queue.push(std::move(alter));
}

}  // namespace

void prefetchLeadingPictures(const script::ScriptContext& script) {
    // What shows before the first wait; a long set-up is not read through.
    constexpr size_t kStatements = 64;
    const auto namesPicture = [](std::string_view command) {
        return command == "Graphic" || command == "GraphicAlter";
    };
    const auto waits = [](std::string_view command) {
        return command == "Wait" || command == "KeyWait" || command == "GraphicWait" ||
               command == "Transition";
    };
    // No more than the prefetch keeps untaken, or the first would be dropped again.
    for (const std::string& file : script::leadingFileArguments(
             script, namesPicture, waits, kStatements, PicturePrefetch::kKeptResults)) {
        if (!isMovieFile(file)) PicturePrefetch::instance().request(file);
    }
}

bool isMovieFile(const std::string& file) {
    if (file.size() < 4) {
        return false;
    }
    std::string tail = file.substr(file.size() - 4);
    for (char& c : tail) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return tail == ".avi" || tail == ".wmv" || tail == ".mpg";
}

std::optional<Float3> vectorArgument(const ScriptValue* value, float fillY, float fillZ) {
    if (value == nullptr) {
        return std::nullopt;
    }
    std::vector<double> reals;
    if (!script::flattenToReals(*value, reals)) {
        return std::nullopt;
    }
    Float3 out{0.0f, fillY, fillZ};
    out.x = static_cast<float>(reals[0]);
    if (reals.size() > 1) out.y = static_cast<float>(reals[1]);
    if (reals.size() > 2) out.z = static_cast<float>(reals[2]);
    return out;
}

void queueGraphic(const Args& args, int32_t count, queue::CommandQueue& queue) {
    queue.push(addressed<classQue_GraphicCreate>(args, count, "Graphic"));
    queueAlter(args, count, "Graphic", queue);
}

void queueGraphicAlter(const Args& args, int32_t count, queue::CommandQueue& queue) {
    queueAlter(args, count, "GraphicAlter", queue);
}

void queueGraphicSlot(const Args& args, int32_t count, queue::CommandQueue& queue) {
    constexpr const char* kName = "GraphicSlot";
    auto slot = addressed<classQue_GraphicStirSlotSet>(args, count, kName);
    auto a = [&](const char* name) { return namedArgument(args, count, kName, name); };
    SlotParameters& v = slot->values;
    setInt(slot->No, a("No"));
    setInt(v.StartDelay, a("StartDelay"));
    setInt(v.Delay, a("Delay"));
    setInt(v.AfterDelay, a("AfterDelay"));
    setInt(v.Time, a("Time"));
    setFloat(v.TimeGainStart, a("TimeGainStart"));
    setFloat(v.TimeGainEnd, a("TimeGainEnd"));
    v.Loop.set(integerArgument(a("Loop")).value_or(1));
    if (auto flag = integerArgument(a("AutoDeleteFlag"))) {
        v.AutoDeleteFlag.set(*flag != 0);
    }
    setVector(v.Position, a("Position"));
    setVector(v.Scale, a("Scale"), 1.0f, 1.0f);
    setFloat(v.Roll, a("Roll"));
    setFloat(v.Transmittance, a("Transmittance"));
    setFloat(v.Rate, a("Rate"));
    setVector(v.PositionCenter, a("PositionCenter"));
    setVector(v.ScaleCenter, a("ScaleCenter"));
    setVector(v.RollCenter, a("RollCenter"));
    setVector(v.RollAxis, a("RollAxis"));
    setVector(v.PositionGainStart, a("PositionGainStart"));
    setVector(v.PositionGainEnd, a("PositionGainEnd"));
    setVector(v.ScaleGainStart, a("ScaleGainStart"));
    setVector(v.ScaleGainEnd, a("ScaleGainEnd"));
    queue.push(std::move(slot));
}

namespace {
// The waiting commands wait on the input waiter when there is one, else they sleep the time.
std::function<void(uint32_t)> waitOnInput(script::InputWaiter* input) {
    return [input](uint32_t ms) {
        if (input != nullptr) {
            input->wait(ms);
        } else {
            platform::Clock::instance().sleep(ms);
        }
    };
}
}  // namespace

void registerGraphicCommands() {
    using script::setCommandHandler;
    setCommandHandler(
        "Graphic", [](script::ScriptInterpreter&, const Args& args, int32_t count, ScriptValue*) {
            queueGraphic(args, count, queue::mainCommandQueue());
        });
    setCommandHandler("GraphicAlter", [](script::ScriptInterpreter&, const Args& args,
                                         int32_t count, ScriptValue*) {
        queueGraphicAlter(args, count, queue::mainCommandQueue());
    });
    setCommandHandler("GraphicDelete", pathOnly<classQue_GraphicDelete>("GraphicDelete"));
    setCommandHandler("GraphicChildDelete",
                      pathOnly<classQue_GraphicChildAllDelete>("GraphicChildDelete"));
    setCommandHandler("GraphicPlay", pathOnly<classQue_GraphicMoviePlay>("GraphicPlay"));
    setCommandHandler("GraphicStop", pathOnly<classQue_GraphicMovieStop>("GraphicStop"));
    setCommandHandler("GraphicPouse", pathOnly<classQue_GraphicMoviePouse>("GraphicPouse"));
    setCommandHandler("GraphicSlot", [](script::ScriptInterpreter&, const Args& args, int32_t count,
                                        ScriptValue*) {
        queueGraphicSlot(args, count, queue::mainCommandQueue());
    });
    setCommandHandler("GraphicSlotDelete", [](script::ScriptInterpreter&, const Args& args,
                                              int32_t count, ScriptValue*) {
        auto command = addressed<classQue_GraphicStirSlotDelete>(args, count, "GraphicSlotDelete");
        command->No =
            integerArgument(namedArgument(args, count, "GraphicSlotDelete", "No")).value_or(0);
        queue::mainCommandQueue().push(std::move(command));
    });
    setCommandHandler("Transition", [](script::ScriptInterpreter& interpreter, const Args& args,
                                       int32_t count, ScriptValue*) {
        TransitionArguments t;
        setInt(t.Time, namedArgument(args, count, "Transition", "Time"));
        if (const ScriptValue* file = namedArgument(args, count, "Transition", "File")) {
            t.File = file->toString().value_or(std::string());
        }
        if (const ScriptValue* shader = namedArgument(args, count, "Transition", "Shader")) {
            t.Shader = shader->toString().value_or(std::string());
        }
        setInt(t.Async, namedArgument(args, count, "Transition", "Async"));
        setInt(t.IsQue, namedArgument(args, count, "Transition", "IsQue"));
        script::InputWaiter* input = interpreter.inputWaiter();
        TransitionWaiter waiter;
        waiter.registerWakeups = [input] {
            if (input == nullptr) return;
            input->clearTriggers();
            input->addTrigger(script::TriggerKind::Key, script::key::kEnter, 0);
            input->addTrigger(script::TriggerKind::Key, script::key::kControl, 0);
            input->addTrigger(script::TriggerKind::MouseButton, 1, 0);
        };
        waiter.wait = waitOnInput(input);
        waiter.skipping = [input] {
            const core::AppContext* app = core::appContext();
            return (input != nullptr && input->keyHeld(script::key::kControl)) ||
                   (app != nullptr && app->skipMode.load() != 0);
        };
        runTransition(t, queue::mainCommandQueue(), waiter);
    });
    setCommandHandler("GraphicWait", [](script::ScriptInterpreter& interpreter, const Args& args,
                                        int32_t count, ScriptValue*) {
        const LayerPath path =
            queue::layerPathFrom(namedArgument(args, count, "GraphicWait", "Layer"));
        const int64_t flag =
            integerArgument(namedArgument(args, count, "GraphicWait", "Flag")).value_or(0);
        script::InputWaiter* input = interpreter.inputWaiter();
        GraphicWaitHooks hooks;
        // Registered once: the conditions stay until the next wait clears them.
        hooks.registerWakeKeys = [input, registered = false]() mutable {
            if (input == nullptr || registered) return;
            registered = true;
            input->addTrigger(script::TriggerKind::Key, script::key::kEnter, 0);
            input->addTrigger(script::TriggerKind::Key, script::key::kControl, 0);
        };
        hooks.wait = waitOnInput(input);
        runGraphicWait(path, flag, queue::mainCommandQueue(), hooks);
    });
}

}  // namespace vaxo2::graphics
