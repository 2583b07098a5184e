#pragma once
// What the input manager needs to see of the running game: the size the picture is shown at,
// the screen tree (to find the objects that trigger areas and context owners name), and whether
// a system script runs. The application implements it over the display device, the layer tree
// and the script runner; tests implement it over a scene they build.
#include <cstdint>
#include <functional>

namespace vaxo2::graphics {
class GraphicObject;
}

namespace vaxo2::input {

class InputScene {
  public:
    virtual ~InputScene() = default;

    // The size of what shows the picture: the window's client area when windowed, the back
    // buffer in use in full screen. False when it is not known (no window yet).
    virtual bool viewportSize(int32_t& width, int32_t& height) = 0;

    // Runs `visit` with the screen tree's root (null when there is none) while the render
    // thread can neither change the tree nor realize its pictures. Called on the window's
    // thread with the input manager's lock held; the implementation must not call back into
    // the input manager.
    virtual void withScreenTree(
        const std::function<void(graphics::GraphicObject* root)>& visit) = 0;

    // True while the script runner runs a system script (contexts that ask to be passed over
    // then receive nothing).
    virtual bool systemScriptActive() = 0;
};

}  // namespace vaxo2::input
