#pragma once
// The input manager's view of the running game: the viewport from the window (or the back
// buffer in full screen), the screen tree under the display device's lock and the tree lock
// (the render thread neither realizes pictures nor changes the tree meanwhile), and the script
// runner's system-script state.
#include "core/app_context.h"
#include "graphics/display_device.h"
#include "input/input_scene.h"
#include "platform/window.h"

namespace vaxo2::app {

class RuntimeInputScene final : public input::InputScene {
  public:
    RuntimeInputScene(core::AppContext& context, graphics::DisplayDevice& device)
        : context_(context), device_(device) {}

    bool viewportSize(int32_t& width, int32_t& height) override;
    void withScreenTree(const std::function<void(graphics::GraphicObject*)>& visit) override;
    bool systemScriptActive() override;

  private:
    core::AppContext& context_;
    graphics::DisplayDevice& device_;
};

}  // namespace vaxo2::app
