#pragma once
// What the waiting script commands need from the input subsystem: a set of triggers to wait on,
// the held state of keys, and the latch of left-button clicks. The input subsystem installs
// an implementation in the interpreter; without one the waits still end on time and on the
// stop flags.
#include <cstdint>

namespace vaxo2::script {

enum class TriggerKind : int32_t {
    MouseButton = 1,  // code 1 left, 2 right, 4 middle
    WheelAway = 2,    // wheel turned away from the user
    WheelToward = 3,  // wheel turned toward the user
    Key = 4,          // code: virtual-key code
};

class InputWaiter {
  public:
    virtual ~InputWaiter() = default;

    // Removes every registered trigger (and forgets the last fired one).
    virtual void clearTriggers() = 0;
    // Registers a trigger; returns its id (unique until the next clearTriggers).
    virtual int addTrigger(TriggerKind kind, int32_t code, int32_t flag) = 0;
    virtual void setDisabled(int triggerId, bool disabled) = 0;
    // Blocks for at most timeoutMs (through the platform clock) until a trigger fires or the
    // waiter is woken. Returns the fired trigger's id, or -1 on timeout or a plain wake. A
    // raised stop flag (quit, restart, load, closed window) must wake it within a frame:
    // Wait and KeyWait hand it their whole remaining time.
    virtual int wait(uint32_t timeoutMs) = 0;
    // True while the virtual key (or mouse button 1/2/4) is held.
    virtual bool keyHeld(int32_t virtualKey) const = 0;
    // Remembers the left button's press count in the application context, so clicks made so
    // far are not taken later as new clicks.
    virtual void latchLeftClicks() = 0;
};

}  // namespace vaxo2::script
