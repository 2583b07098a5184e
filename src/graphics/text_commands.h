#pragma once
// The message-text script commands: GraphicTextOut, PageFeed, SystemTextSpeed,
// SystemTextColor, GraphicCharactorSet and OrignalCharactorSet.
#include <cstdint>
#include <vector>

#include "core/app_context.h"
#include "graphics/text_engine.h"
#include "queue/command_queue.h"
#include "script/script_value.h"

namespace vaxo2::graphics {

// Registers the handlers; they use the installed TextEngine (for fonts and the history).
void registerTextCommands();

// GraphicTextOut's work for a statement's bound arguments: queues the text (the skip form when
// `skipping`) and records it in the history (opening an entry when none is open).
void queueTextOut(const std::vector<script::ScriptValue>& args, int32_t count, bool skipping,
                  queue::CommandQueue& queue, core::AppContext* app, MessageHistory* history);

}  // namespace vaxo2::graphics
