#pragma once
// The one application context, reached from every thread through appContext(). It sits below
// every subsystem: they all read it, none owns it. It is plain data: the objects it points at
// are owned by the runtime object that builds the subsystems (app/runtime.h), which also
// publishes and withdraws the context. Single-byte flags are written by one thread and polled
// by others without a lock.
#include <atomic>
#include <cstdint>
#include <string>

namespace vaxo2::platform {
class Window;
class Cursor;
}  // namespace vaxo2::platform
namespace vaxo2::graphics {
class GraphicObject;
class DisplayDevice;
}  // namespace vaxo2::graphics
namespace vaxo2::sound {
class SoundManager;
}
namespace vaxo2::script {
class ScriptRunner;
}
namespace vaxo2::input {
class InputManager;
}

namespace vaxo2::core {

// The longest any wait sleeps between two looks at the stop flags: one frame. The flags are
// raised without waking anyone, so a wait that sleeps its whole time in one piece (or trusts a
// waiter to wake it) would hold a closing window past the threads' stop time.
inline constexpr uint32_t kStopCheckIntervalMs = 16;

struct AppContext {
    platform::Window* window = nullptr;
    int32_t clientWidth = 800;
    int32_t clientHeight = 600;
    graphics::GraphicObject* transitionRoot = nullptr;
    graphics::GraphicObject* screenRoot = nullptr;
    uint32_t exStyle = 0x40000;  // WS_EX_APPWINDOW
    uint32_t style = 0xCF0000;   // WS_OVERLAPPEDWINDOW
    std::atomic<uint8_t> windowClosed{0};
    sound::SoundManager* soundManager = nullptr;
    std::atomic<uint8_t> quitRequested{0};
    std::atomic<uint8_t> restartRequested{0};
    std::atomic<uint8_t> dataLoadRequested{0};
    std::atomic<int32_t> sizeState{0};
    std::atomic<int32_t> frameStarted{0};
    std::atomic<int32_t> frameDone{0};
    // Not fields of the original context, whose render thread ran every frame interval: the
    // render thread sleeps at a still page until something sets frameWanted (core/frame_sync.h);
    // frameWaiters counts the threads blocked on the frame counters.
    std::atomic<uint8_t> frameWanted{0};
    std::atomic<int32_t> frameWaiters{0};
    float frameInterval = 16.666666f;
    int64_t textColor = 0xFFFFFF;
    int64_t textSpeed = 100;
    int64_t appearStartDelay = 300;
    uint8_t textFlag = 1;
    uint8_t configSwitch2 = 0;
    uint8_t configSwitch3 = 1;
    int64_t configValue = 0;
    std::string saveFolder = "save\\";
    std::atomic<uint8_t> voiceStarted{0};
    const platform::Cursor* cursor = nullptr;  // null: the arrow cursor
    std::atomic<uint8_t> skipMode{0};
    std::atomic<uint8_t> autoMode{0};
    std::atomic<uint64_t> latchedLeftPresses{0};
    std::atomic<uint8_t> historyEntryOpen{0};
    int64_t autoWait = 1000;
    std::string title;
    graphics::DisplayDevice* device = nullptr;
    std::string lastVoiceFile;
    int64_t lastVoiceLayer = 0;
    script::ScriptRunner* scriptRunner = nullptr;
    // Not a field of the original context, which reached the one input manager globally: the
    // input manager, for the code that wakes the input waiters (a data load, the toolbar).
    input::InputManager* inputManager = nullptr;

    // Not a field of the original context: the folder the game's data is read from (the
    // working folder unless the command line names another). Ends without a separator.
    std::string gameFolder = ".";

    // True when any of the flags that end a script run is set.
    bool stopRequested() const {
        return windowClosed.load() || quitRequested.load() || restartRequested.load() ||
               dataLoadRequested.load();
    }
};

namespace detail {
inline AppContext*& appContextSlot() {
    static AppContext* context = nullptr;
    return context;
}
}  // namespace detail

// The context, or null before start-up created it and after tear-down.
inline AppContext* appContext() {
    return detail::appContextSlot();
}

// Publishes a context for the lifetime of this object (start-up, and tests).
class ScopedAppContext {
  public:
    explicit ScopedAppContext(AppContext& context) : previous_(detail::appContextSlot()) {
        detail::appContextSlot() = &context;
    }
    ~ScopedAppContext() { detail::appContextSlot() = previous_; }
    ScopedAppContext(const ScopedAppContext&) = delete;
    ScopedAppContext& operator=(const ScopedAppContext&) = delete;

  private:
    AppContext* previous_;
};

}  // namespace vaxo2::core
