#pragma once
// The graphic script commands: each handler reads its arguments, builds queued commands and
// pushes them into the main queue (Transition and GraphicWait also wait on the scenario
// thread).
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "graphics/graphic_commands.h"
#include "queue/command_queue.h"
#include "script/script_value.h"

namespace vaxo2::script {
struct ScriptContext;
}

namespace vaxo2::graphics {

// Registers Graphic, GraphicAlter, GraphicDelete, GraphicChildDelete, GraphicPlay,
// GraphicStop, GraphicPouse, GraphicSlot, GraphicSlotDelete, Transition and GraphicWait.
void registerGraphicCommands();

// The command builders behind the handlers, for a statement's bound arguments (`count` of
// them, in table order). They push into `queue` and return nothing.
void queueGraphic(const std::vector<script::ScriptValue>& args, int32_t count,
                  queue::CommandQueue& queue);
void queueGraphicAlter(const std::vector<script::ScriptValue>& args, int32_t count,
                       queue::CommandQueue& queue);
void queueGraphicSlot(const std::vector<script::ScriptValue>& args, int32_t count,
                      queue::CommandQueue& queue);

// Argument conversions of GraphicSlot: up to three reals from a value or list; missing
// components take `fill` (0, or 1 for the y and z of Scale). Nothing for an empty list.
std::optional<Float3> vectorArgument(const script::ScriptValue* value, float fillY, float fillZ);

// Starts reading and decoding the pictures that the first statements of `script` name
// (Graphic and GraphicAlter with a plain file name), before it runs: the first script's, while
// the window comes up. Its commands then find them decoded.
void prefetchLeadingPictures(const script::ScriptContext& script);

// True for the movie extensions ".avi", ".wmv" and ".mpg" in any case.
bool isMovieFile(const std::string& file);

}  // namespace vaxo2::graphics
