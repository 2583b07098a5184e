#pragma once
// Shared by the input tests: a scene over a tree the test builds, and a waiting thread.
#include <atomic>
#include <functional>
#include <thread>

#include "graphics/graphic_object.h"
#include "input/input_manager.h"
#include "input/input_scene.h"
#include "platform/clock.h"

namespace vaxo2::input::testing {

namespace wm = platform::wm;

struct FakeScene : InputScene {
    graphics::GraphicObject* root = nullptr;
    int32_t width = 1280;
    int32_t height = 720;
    bool systemScript = false;
    int treeVisits = 0;

    bool viewportSize(int32_t& w, int32_t& h) override {
        w = width;
        h = height;
        return true;
    }
    void withScreenTree(const std::function<void(graphics::GraphicObject*)>& visit) override {
        ++treeVisits;
        visit(root);
    }
    bool systemScriptActive() override { return systemScript; }
};

// Waits on a context in a thread of its own; the constructor returns once the context takes
// messages.
class Waiting {
  public:
    Waiting(InputManager& manager, InputContext& context,
            uint32_t timeoutMs = platform::kInfinite) {
        thread_ = std::thread([&manager, &context, timeoutMs, this] {
            result_ = manager.wait(context, timeoutMs);
            done_ = true;
        });
        while (!context.waiting() && !done_)
            std::this_thread::yield();
    }
    ~Waiting() {
        if (thread_.joinable()) thread_.join();
    }
    bool done() const { return done_; }
    // Blocks until the wait ended; the trigger it returned.
    InputTrigger* result() {
        if (thread_.joinable()) thread_.join();
        return result_;
    }

  private:
    std::thread thread_;
    std::atomic<bool> done_{false};
    InputTrigger* result_ = nullptr;
};

inline platform::WindowMessage click(int x, int y, uint32_t kind = wm::kLButtonDown) {
    return {kind, wm::kMkLButton, wm::makeLParam(x, y)};
}
inline platform::WindowMessage moveTo(int x, int y) {
    return {wm::kMouseMove, 0, wm::makeLParam(x, y)};
}
inline platform::WindowMessage keyDown(uint64_t code) {
    return {wm::kKeyDown, code, wm::keyLParam(false, false, false)};
}
inline platform::WindowMessage keyUp(uint64_t code) {
    return {wm::kKeyUp, code, wm::keyLParam(false, true, true)};
}
inline platform::WindowMessage wheel(int delta, int x = 640, int y = 360) {
    return {wm::kMouseWheel, static_cast<uint64_t>(static_cast<uint16_t>(delta)) << 16,
            wm::makeLParam(x, y)};
}

}  // namespace vaxo2::input::testing
