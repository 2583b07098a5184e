#include "graphics/transition.h"

#include <algorithm>

#include "core/app_context.h"
#include "platform/clock.h"

namespace vaxo2::graphics {

void classQue_Transition::execute(queue::QueExecuteContext& context) {
    if (context.transitionRoot != nullptr) {
        delete context.transitionRoot;
        context.transitionRoot = nullptr;
    }
    if (context.screenRoot == nullptr) {
        return;
    }
    std::unique_ptr<GraphicObject> snapshot = context.screenRoot->clone(nullptr);
    snapshot->makeRenderTarget();
    snapshot->hide = 0;
    StirSlot& fade = snapshot->slots[0];
    fade.No = 0;
    fade.Transmittance = 1.0f;
    fade.Time = Time;
    fade.StartDelay = startDelay.valueOr(0);
    fade.Delay = 0;
    fade.AfterDelay = 0;
    fade.TimeGainStart = 1.0f;
    fade.TimeGainEnd = 1.0f;
    fade.Loop = 1;
    snapshot->setShader(shaderCache().acquire(kShaderKindPixel, kAlphaIgnoreShader));
    context.transitionRoot = snapshot.release();
}

std::recursive_mutex& treeMutex() {
    // Recursive: a command executing inside a drain (a save-slot load) may itself update or
    // inspect the trees.
    static std::recursive_mutex mutex;
    return mutex;
}

size_t drainCommandQueues(core::AppContext& app, std::unique_ptr<GraphicObject>& transitionTree) {
    std::lock_guard lock(treeMutex());
    size_t executed = 0;
    for (queue::CommandQueue* q :
         {&queue::mainCommandQueue(), &queue::systemCommandQueue(), &queue::spareCommandQueue()}) {
        queue::QueExecuteContext context;
        context.screenRoot = app.screenRoot;
        executed += q->executeReleased(context);
        if (context.transitionRoot != nullptr) {
            transitionTree.reset(context.transitionRoot);
            app.transitionRoot = transitionTree.get();
        }
    }
    // Commands may have changed the snapshot in ways no update looks at (hide, an object
    // removed): its picture is rendered again.
    if (executed > 0 && transitionTree) {
        transitionTree->markSubtreeChanged();
    }
    return executed;
}

bool updateTrees(uint32_t now, core::AppContext& app) {
    std::lock_guard lock(treeMutex());
    bool changed = false;
    if (app.screenRoot != nullptr) {
        changed |= app.screenRoot->updateRoot(now);
    }
    if (app.transitionRoot != nullptr) {
        changed |= app.transitionRoot->updateRoot(now);
    }
    return changed;
}

namespace {
bool subtreeAnimating(const GraphicObject& object) {
    if (!object.textRequests.empty()) {
        return true;
    }
    if (object.source && object.source->kind() == SourceKind::Movie) {
        MovieStatus* movies = movieStatus();
        if (movies == nullptr || movies->animating(*object.source)) return true;
    }
    if (object.rate > 0.0f) {
        for (const auto& [number, slot] : object.slots) {
            if (!slot.finished()) {
                return true;
            }
        }
    }
    for (const GraphicObject::ChildMap* children : {&object.layerChildren, &object.glyphChildren}) {
        for (const auto& [key, child] : *children) {
            if (subtreeAnimating(*child)) {
                return true;
            }
        }
    }
    return false;
}
}  // namespace

bool treesAnimating(core::AppContext& app) {
    std::lock_guard lock(treeMutex());
    if (app.transitionRoot != nullptr) {
        return true;
    }
    return app.screenRoot != nullptr && subtreeAnimating(*app.screenRoot);
}

bool retireFinishedTransition(core::AppContext& app,
                              std::unique_ptr<GraphicObject>& transitionTree) {
    std::lock_guard lock(treeMutex());
    if (!transitionTree || !transitionFinished(*transitionTree)) {
        return false;
    }
    app.transitionRoot = nullptr;
    transitionTree.reset();
    return true;
}

void runTransition(const TransitionArguments& args, queue::CommandQueue& queue,
                   const TransitionWaiter& waiter) {
    int64_t time = args.Time.valueOr(1000);
    if (args.IsQue.valueOr(0) != 0 && queue.isEmpty()) {
        time = 0;
    }
    if (time != 0) {
        auto command = std::make_unique<classQue_Transition>();
        command->Time = time;
        command->File = args.File;
        command->Shader = args.Shader;
        queue.push(std::move(command), true);
    }
    if (args.Async.valueOr(0) == 0 && time > 0) {
        queue.release();
        if (waiter.registerWakeups) {
            waiter.registerWakeups();
        }
        auto& clock = platform::Clock::instance();
        int64_t remaining = time;
        uint32_t last = clock.now();
        while (remaining > 0) {
            // Never more than a frame at a time, whatever the waiter does: a stop flag must
            // end the wait within a frame.
            const uint32_t slice =
                static_cast<uint32_t>(std::min<int64_t>(remaining, core::kStopCheckIntervalMs));
            if (waiter.wait) {
                waiter.wait(slice);
            } else {
                clock.sleep(slice);
            }
            queue.release();
            const core::AppContext* app = core::appContext();
            if (app != nullptr &&
                (app->quitRequested.load() == 1 || app->restartRequested.load() == 1 ||
                 app->dataLoadRequested.load() == 1)) {
                break;
            }
            const uint32_t now = clock.now();
            remaining -= static_cast<int64_t>(static_cast<uint32_t>(now - last));
            last = now;
        }
    }
    bool skipping = false;
    if (waiter.skipping) {
        skipping = waiter.skipping();
    } else if (const core::AppContext* app = core::appContext()) {
        skipping = app->skipMode.load() != 0;
    }
    if (!skipping) {
        queue.release();
    }
}

}  // namespace vaxo2::graphics
