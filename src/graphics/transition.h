#pragma once
// The crossfade: a transition command snapshots the screen tree into a tree that renders into a
// texture and fades out over the new scene. Also the per-frame glue around the queues and trees
// that the render thread's frame step calls.
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "core/app_context.h"
#include "graphics/graphic_object.h"
#include "queue/command_queue.h"

namespace vaxo2::graphics {

// The one built-in program: colour from the texture, alpha from the vertex.
inline constexpr const char* kAlphaIgnoreShader = ":AlphaIgnore";

class classQue_Transition : public queue::classQueBase {
  public:
    void execute(queue::QueExecuteContext& context) override;
    int64_t Time = 0;
    std::string File;    // carried; the crossfade does not use it
    std::string Shader;  // carried; the crossfade does not use it
    queue::OptionalInt startDelay;
};

// Held by the render thread while it drains and updates the trees, and by the scenario thread
// while GraphicWait inspects them, so a wait never walks a map that is being changed.
std::recursive_mutex& treeMutex();

// Frame step, part 1: drains the main, system and spare queues in that order. A transition
// executed in a drain replaces `transitionTree` (the previous one is deleted) and is published
// as app.transitionRoot under the tree lock. Returns the number of commands executed (0:
// nothing changed through the queues).
size_t drainCommandQueues(core::AppContext& app, std::unique_ptr<GraphicObject>& transitionTree);

// Frame step, part 2: advances the screen tree, then the transition tree, to `now`. Returns
// whether any object of either tree changed (false: the picture on screen is still right).
bool updateTrees(uint32_t now, core::AppContext& app);

// Whether a later frame could show something the last one did not without any command or
// repaint: a slot still runs (on an object whose time runs), text waits to be laid out, a movie
// plays, or a transition fades. False: the render thread may sleep until asked for a frame.
bool treesAnimating(core::AppContext& app);

// A transition tree whose fade has reached its end is deleted instead of drawn.
inline bool transitionFinished(const GraphicObject& transitionRoot) {
    return !(transitionRoot.transmittance < 1.0f);
}
// Frame step, before drawing: deletes a finished transition tree (and clears
// app.transitionRoot). Returns true when it deleted one (the frame then changed).
bool retireFinishedTransition(core::AppContext& app,
                              std::unique_ptr<GraphicObject>& transitionTree);

// What the Transition script command needs from the script and input side while it waits.
struct TransitionWaiter {
    // Clears the script's wait conditions and registers Enter, Control and the left button.
    std::function<void()> registerWakeups;
    // Waits on the script's wait object for at most ms milliseconds.
    std::function<void(uint32_t ms)> wait;
    // The skip test: Control held or skip mode on.
    std::function<bool()> skipping;
};

struct TransitionArguments {
    queue::OptionalInt Time;
    std::string File;
    std::string Shader;
    queue::OptionalInt Async;
    queue::OptionalInt IsQue;
};

// The Transition command on the scenario thread: queues the snapshot with priority, then,
// unless asynchronous, waits out the fade (re-releasing the queue at each wake-up) until it
// ends or a stop flag is raised.
void runTransition(const TransitionArguments& args, queue::CommandQueue& queue,
                   const TransitionWaiter& waiter);

}  // namespace vaxo2::graphics
