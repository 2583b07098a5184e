#include "graphics/graphic_wait.h"

#include <algorithm>

#include "core/app_context.h"
#include "core/frame_sync.h"
#include "graphics/transition.h"
#include "platform/clock.h"

namespace vaxo2::graphics {

namespace {
constexpr uint32_t kBusyPollMs = 100;
}  // namespace

bool graphicBusy(const LayerPath& path, GraphicObject* screenRoot, GraphicObject* transitionRoot) {
    std::lock_guard lock(treeMutex());
    GraphicObject* object = GraphicObject::find(transitionRoot, path);
    if (object == nullptr) {
        object = GraphicObject::find(screenRoot, path);
    }
    return object != nullptr && object->busy();
}

void runGraphicWait(const LayerPath& path, int64_t flag, queue::CommandQueue& queue,
                    const GraphicWaitHooks& hooks) {
    queue.release();
    core::AppContext* app = core::appContext();
    auto& clock = platform::Clock::instance();
    if (app == nullptr) {
        return;
    }
    // One whole frame: the released commands have run and the tree is updated.
    core::waitForFrameAfter(*app, app->frameStarted.load(),
                            [app] { return app->stopRequested() != 0; });
    // A closing window or a load must not sit out a 100-second movie wait.
    while (!app->stopRequested()) {
        if (!graphicBusy(path, app->screenRoot, app->transitionRoot)) {
            return;
        }
        if (flag != 0 && hooks.registerWakeKeys) {
            hooks.registerWakeKeys();
        }
        // The object is looked at every 100 ms, or at once when the waiter was woken early;
        // the stop flags every frame, whatever the waiter does.
        const uint32_t start = clock.now();
        for (uint32_t waited = 0; waited < kBusyPollMs && !app->stopRequested();) {
            const uint32_t slice = std::min(kBusyPollMs - waited, core::kStopCheckIntervalMs);
            if (hooks.wait) {
                hooks.wait(slice);
            } else {
                clock.sleep(slice);
            }
            const uint32_t now = clock.now() - start;
            if (now - waited < slice) {
                break;
            }
            waited = now;
        }
    }
}

}  // namespace vaxo2::graphics
