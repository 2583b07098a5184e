#pragma once
// GraphicWait on the scenario thread: applies what is queued, lets one whole frame pass, then
// polls the addressed object every 100 ms until it is no longer busy.
#include <cstdint>
#include <functional>

#include "graphics/graphic_object.h"
#include "queue/command_queue.h"

namespace vaxo2::graphics {

struct GraphicWaitHooks {
    // Registers Enter and Control as wake-up conditions of the script wait (Flag not 0).
    std::function<void()> registerWakeKeys;
    // Waits on the script's wait object for at most ms milliseconds.
    std::function<void(uint32_t ms)> wait;
};

// Returns when the object is missing or idle, or when a stop flag is raised.
void runGraphicWait(const LayerPath& path, int64_t flag, queue::CommandQueue& queue,
                    const GraphicWaitHooks& hooks);

// The busy test as GraphicWait sees it: the transition tree first, then the screen tree.
// Returns false when neither holds the path.
bool graphicBusy(const LayerPath& path, GraphicObject* screenRoot, GraphicObject* transitionRoot);

}  // namespace vaxo2::graphics
