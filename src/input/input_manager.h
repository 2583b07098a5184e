#pragma once
// The input manager turns the window's messages into two things: a table of key and mouse-button
// states that any thread may read, and triggers that wake the threads waiting for the player.
// A waiting thread (the scenario's Wait and KeyWait, the toolbar, the menus) owns an input
// context with triggers (a mouse button inside the picture of a graphic object, a wheel
// direction, a key) and waits on it; each message is offered to the waiting contexts by
// priority, and the first context with a matching trigger takes it and wakes its waiter.
// Raising a stop flag of the application context (quit, restart, data load) wakes the waiters
// too.
//
// Lock order: the manager's lock, then the scene's locks (display device, then layer tree),
// then a command queue's lock. The render thread may wake the waiters (wakeAll) while it holds
// the tree and queue locks: that path takes only the manager's separate wake lock.
#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/threads.h"
#include "platform/window.h"
#include "queue/command_queue.h"
#include "queue/queued_command.h"
#include "script/input_waiter.h"

namespace vaxo2::graphics {
class GraphicObject;
struct CameraSetup;
}  // namespace vaxo2::graphics

namespace vaxo2::input {

class InputScene;
using queue::LayerPath;
using script::TriggerKind;

// A point in game coordinates: 0 to 1280 and 0 to 720 inside the picture, y downward from the
// top-left corner; the letterbox bars lie outside that range.
struct GamePoint {
    float x = 0;
    float y = 0;
};

// Maps a client-area point to game coordinates for a picture of the design size shown in a
// viewport of the given size: scaled to fit, centred, with bars on the long side. A viewport
// without area maps points unchanged.
GamePoint mapToGame(int x, int y, int32_t viewportWidth, int32_t viewportHeight);

struct KeyState {
    std::atomic<uint64_t> pressCount{0};  // +1 on every down message, auto-repeat included
    std::atomic<uint8_t> held{0};         // 1 between a down and the next up message
};

// Bits of a context's stopMask: the stop flags that do not wake it.
namespace stop_mask {
constexpr int32_t kQuit = 1;
constexpr int32_t kRestart = 2;
constexpr int32_t kDataLoad = 4;
}  // namespace stop_mask

// Display states of a trigger's pictures.
enum class DisplayState : int32_t { Normal = 1, Hover = 2, Pressed = 3, Disabled = 4 };

// Mouse-button codes of kind MouseButton triggers (also the key-table entries of the buttons).
namespace button {
constexpr int32_t kLeft = 1;
constexpr int32_t kRight = 2;
constexpr int32_t kMiddle = 4;
}  // namespace button

class InputContext;

// One trigger of a context. Read freely by the owner; changed only through the manager, whose
// lock the offering holds.
struct InputTrigger {
    TriggerKind kind = TriggerKind::Key;
    int32_t code = 0;
    // MouseButton and wheel kinds: the point must fall inside the picture of the graphic object
    // at this path of the screen tree; empty means anywhere.
    LayerPath area;
    bool disabled = false;
    // While set and the left button is still held, a new wait returns this trigger again at
    // once (a held button repeats).
    bool repeat = false;
    // Pictures given to the area's object in the four display states; empty: no change.
    std::string normalImage, hoverImage, pressedImage, disabledImage;
    // A second object shown over the area, used only when overlayHoverImage is not empty.
    LayerPath overlayPath;
    std::string overlayNormalImage, overlayHoverImage;
    // What was last sent for the area and for the overlay.
    std::string currentImage, currentOverlayImage;
    InputContext* context = nullptr;
};

class InputContext {
  public:
    int64_t priority() const { return priority_; }
    bool waiting() const { return waiting_.load() != 0; }
    // Wait result of the last wait: platform::kWaitObject0 when woken, kWaitTimeout.
    uint32_t waitResult() const { return waitResult_; }
    // The trigger that ended the last wait it fired in (kept across wakes by stop flags).
    const InputTrigger* fired() const { return fired_; }
    const std::vector<std::unique_ptr<InputTrigger>>& triggers() const { return triggers_; }

  private:
    friend class InputManager;
    explicit InputContext(int64_t priority) : priority_(priority) {}

    int64_t priority_;
    int32_t stopMask_ = 0;
    std::atomic<uint8_t> waiting_{0};
    uint32_t waitResult_ = 0;
    InputTrigger* fired_ = nullptr;
    bool firedInThisWait_ = false;
    queue::CommandQueue* commandQueue_ = nullptr;
    bool ignoreDuringSystemScript_ = false;
    LayerPath ownerPath_;
    platform::Event event_{true};
    std::vector<std::unique_ptr<InputTrigger>> triggers_;
};

class InputManager {
  public:
    // `scene` may be null (no areas or owners can then be hit: tests of keys and timing).
    explicit InputManager(InputScene* scene = nullptr);
    ~InputManager();
    InputManager(const InputManager&) = delete;
    InputManager& operator=(const InputManager&) = delete;

    // ---- messages (the window's thread) ----
    void handleMessage(const platform::WindowMessage& message);

    // ---- state, read without lock from any thread ----
    // Null for codes outside 0 to 255.
    const KeyState* keyState(int64_t virtualKey) const;
    bool keyHeld(int64_t virtualKey) const;
    uint64_t pressCount(int64_t virtualKey) const;
    float mouseX() const { return mouseX_.load(); }
    float mouseY() const { return mouseY_.load(); }

    // ---- contexts ----
    // Placed before the first context of lower priority, so among equal priorities the older
    // comes first. Its image changes go to the system command queue unless set otherwise.
    InputContext* createContext(int64_t priority);
    // Destroys the context with its triggers. Its owner must not be waiting on it.
    void destroyContext(InputContext* context);
    void setStopMask(InputContext& context, int32_t mask);
    void setOwnerPath(InputContext& context, LayerPath path);
    void setIgnoreDuringSystemScript(InputContext& context, bool ignore);
    void setCommandQueue(InputContext& context, queue::CommandQueue* commandQueue);

    // ---- triggers ----
    InputTrigger* addTrigger(InputContext& context, TriggerKind kind, int32_t code,
                             bool repeat = false);
    // Removes every trigger of the context and forgets the one that fired.
    void clearTriggers(InputContext& context);
    void setArea(InputTrigger& trigger, LayerPath area);
    void setImages(InputTrigger& trigger, std::string normal, std::string hover,
                   std::string pressed, std::string disabled);
    void setOverlay(InputTrigger& trigger, LayerPath path, std::string normal, std::string hover);
    void setDisabled(InputTrigger& trigger, bool disabled);
    void setRepeat(InputTrigger& trigger, bool repeat);
    // Gives every trigger of the context its display state (disabled, hovered or normal),
    // queueing the picture changes on the context's command queue.
    void updateHoverStates(InputContext& context, const InputTrigger* hovered);

    // ---- waiting (the owner's thread) ----
    // Blocks for at most timeoutMs (platform::kInfinite: no limit) until a trigger of the
    // context fires or the context is woken. Returns the trigger that fired during this wait,
    // or null on a time-out or a plain wake (stop flag, wakeAll). Returns null at once when
    // there is no time limit and no trigger, or when a stop flag that wakes the context is
    // already up.
    InputTrigger* wait(InputContext& context, uint32_t timeoutMs);
    // Signals every context's event (a stop flag was raised, skip or automatic play changed).
    // Any thread; safe while the tree and queue locks are held.
    void wakeAll();

    // For tests: runs on the waiting thread after a wait has armed (the context takes messages
    // from then on) and before it blocks.
    void setArmedProbe(std::function<void()> probe) { armedProbe_ = std::move(probe); }

  private:
    struct Offer;

    void press(int64_t virtualKey);
    void release(int64_t virtualKey);
    bool stopWakes(const InputContext& context) const;
    bool activeLocked(const InputContext& context, Offer& offer);
    bool offerLocked(InputContext& context, const platform::WindowMessage& message, Offer& offer);
    // The first enabled trigger of `kind` (and `code`, unless 0) whose area holds the point;
    // triggers without an area count only when `needArea` is false.
    InputTrigger* firstHitLocked(InputContext& context, TriggerKind kind, int32_t code,
                                 bool needArea, Offer& offer);
    void fireLocked(InputContext& context, InputTrigger& trigger);
    void setDisplayStateLocked(InputTrigger& trigger, DisplayState state);
    void updateHoverStatesLocked(InputContext& context, const InputTrigger* hovered);
    bool needsSceneLocked(const platform::WindowMessage& message) const;

    InputScene* scene_;
    mutable std::mutex mutex_;  // the context list, every trigger, the wait states
    std::vector<std::unique_ptr<InputContext>> contexts_;  // by priority, highest first
    std::mutex wakeMutex_;                                 // the events wakeAll signals
    std::vector<InputContext*> wakeList_;
    std::array<KeyState, 256> keys_;
    std::atomic<float> mouseX_{0};
    std::atomic<float> mouseY_{0};
    std::function<void()> armedProbe_;
};

}  // namespace vaxo2::input
