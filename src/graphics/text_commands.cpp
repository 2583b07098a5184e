#include "graphics/text_commands.h"

#include <memory>
#include <optional>
#include <string>

#include "graphics/graphic_commands.h"
#include "queue/command_arguments.h"
#include "queue/layer_path.h"
#include "script/command_table.h"
#include "script/flow_commands.h"
#include "script/input_waiter.h"
#include "script/interpreter.h"

namespace vaxo2::graphics {

namespace {

using script::ScriptValue;
using Args = std::vector<ScriptValue>;
using queue::addressed;
using queue::integerArgument;
using queue::namedArgument;
using queue::stringArgument;

void characterSet(const Args& args, int32_t count, const char* command, CharacterSetKind kind) {
    TextEngine* engine = TextEngine::current();
    const std::optional<int64_t> font =
        integerArgument(namedArgument(args, count, command, "Font"));
    if (engine == nullptr || !font) return;
    engine->glyphs().loadCharacterSet(
        *font, stringArgument(namedArgument(args, count, command, "List")),
        integerArgument(namedArgument(args, count, command, "DefaultWidth")).value_or(0),
        integerArgument(namedArgument(args, count, command, "DefaultHigth")).value_or(0), kind,
        engine->fileReader(), engine->pictureReader());
}

}  // namespace

void queueTextOut(const Args& args, int32_t count, bool skipping, queue::CommandQueue& queue,
                  core::AppContext* app, MessageHistory* history) {
    constexpr const char* kName = "GraphicTextOut";
    const std::string text = stringArgument(namedArgument(args, count, kName, "Text"));
    if (skipping) {
        auto command = addressed<classQue_GraphicStdOutTextX>(args, count, kName);
        command->settings = TextSettings::current();
        command->text = text;
        command->fontNo.set(0);
        command->charInterval.set(0);
        command->appearMode.set(0);
        command->appearStart.set(0);
        queue.push(std::move(command));
    } else {
        auto command = addressed<classQue_GraphicStdOutText>(args, count, kName);
        command->settings = TextSettings::current();
        command->text = text;
        if (auto color = integerArgument(namedArgument(args, count, kName, "Color")))
            command->color.set(*color);
        if (auto font = integerArgument(namedArgument(args, count, kName, "FontNo")))
            command->fontNo.set(*font);
        command->noWait.set(
            integerArgument(namedArgument(args, count, kName, "NoWait")).value_or(1));
        queue.push(std::move(command));
    }
    if (app != nullptr && app->historyEntryOpen.exchange(1) == 0) {
        if (history != nullptr) history->openEntry();
    }
    if (history != nullptr) history->appendText(text);
}

void registerTextCommands() {
    using script::setCommandHandler;
    setCommandHandler("GraphicTextOut", [](script::ScriptInterpreter& interpreter, const Args& args,
                                           int32_t count, ScriptValue*) {
        core::AppContext* app = core::appContext();
        script::InputWaiter* input = interpreter.inputWaiter();
        const bool skipping = (app != nullptr && app->skipMode.load() == 1) ||
                              (input != nullptr && input->keyHeld(script::key::kControl));
        TextEngine* engine = TextEngine::current();
        queueTextOut(args, count, skipping, queue::mainCommandQueue(), app,
                     engine ? engine->history() : nullptr);
    });
    setCommandHandler(
        "PageFeed", [](script::ScriptInterpreter&, const Args& args, int32_t count, ScriptValue*) {
            queue::mainCommandQueue().push(addressed<classQue_PageFeed>(args, count, "PageFeed"));
            if (core::AppContext* app = core::appContext()) app->historyEntryOpen = 0;
        });
    setCommandHandler("SystemTextSpeed", [](script::ScriptInterpreter&, const Args& args,
                                            int32_t count, ScriptValue*) {
        if (core::AppContext* app = core::appContext()) {
            app->textSpeed =
                integerArgument(namedArgument(args, count, "SystemTextSpeed", "Speed")).value_or(0);
        }
    });
    setCommandHandler("SystemTextColor", [](script::ScriptInterpreter&, const Args& args,
                                            int32_t count, ScriptValue*) {
        if (core::AppContext* app = core::appContext()) {
            app->textColor =
                integerArgument(namedArgument(args, count, "SystemTextColor", "Color")).value_or(0);
        }
    });
    setCommandHandler("GraphicCharactorSet", [](script::ScriptInterpreter&, const Args& args,
                                                int32_t count, ScriptValue*) {
        characterSet(args, count, "GraphicCharactorSet", CharacterSetKind::Colour);
    });
    setCommandHandler("OrignalCharactorSet", [](script::ScriptInterpreter&, const Args& args,
                                                int32_t count, ScriptValue*) {
        characterSet(args, count, "OrignalCharactorSet", CharacterSetKind::Mask);
    });
}

}  // namespace vaxo2::graphics
