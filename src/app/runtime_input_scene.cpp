#include "app/runtime_input_scene.h"

#include <mutex>

#include "graphics/transition.h"
#include "script/interpreter.h"

namespace vaxo2::app {

bool RuntimeInputScene::viewportSize(int32_t& width, int32_t& height) {
    if (device_.fullScreen()) {
        width = device_.backBufferWidth();
        height = device_.backBufferHeight();
        return width > 0 && height > 0;
    }
    platform::Rect client;
    if (context_.window == nullptr || !context_.window->clientRect(client)) return false;
    width = client.width();
    height = client.height();
    return width > 0 && height > 0;
}

void RuntimeInputScene::withScreenTree(const std::function<void(graphics::GraphicObject*)>& visit) {
    // Device first, then tree: the order in which the render thread could nest them (a
    // picture realized while a frame draws).
    std::lock_guard device(device_.lockObject());
    std::lock_guard tree(graphics::treeMutex());
    visit(context_.screenRoot);
}

bool RuntimeInputScene::systemScriptActive() {
    return context_.scriptRunner != nullptr && context_.scriptRunner->isSystemScriptActive();
}

}  // namespace vaxo2::app
