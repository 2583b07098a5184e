#pragma once
// The one source of time. Milliseconds in a 32-bit value that wraps, like the Windows
// multimedia timer the runtime was designed around; compare times by unsigned difference.
//
// Two modes:
//  - real: the monotonic system clock; waits are ordinary timed waits.
//  - stepped: time stands still until the driver thread (the render thread) advances it by a
//    whole frame. The driver advances only when every participant thread (scenario, toolbar,
//    ticker, main) is blocked in a clock wait whose condition is false. Same inputs then give the
//    same frames, and a run is as fast as the machine allows.
// Every timed wait in the engine goes through this class (Event, sleep, waitUntil), so stepping
// covers them all.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>

namespace vaxo2::platform {

constexpr uint32_t kInfinite = 0xFFFFFFFFu;

class Clock {
  public:
    static Clock& instance();

    // Switches to stepped mode starting at `start`. Call before any worker thread starts.
    void useStepped(uint32_t start = 0);
    void useReal();
    bool stepped() const { return stepped_; }

    uint32_t now() const;

    // Sleep(ms). 0 yields: in stepped mode a yield blocks until the next advance, so polling
    // loops run once per frame and deterministically. On the driver thread a sleep advances
    // the clock instead (see advance()).
    void sleep(uint32_t ms);

    // Waits until pred() holds or timeoutMs passed; returns pred()'s last value. pred is
    // evaluated under the clock's lock, so it must read only state changed through notify()
    // or atomics that are written while participants are quiescent (the frame counters).
    bool waitUntil(const std::function<bool()>& pred, uint32_t timeoutMs);

    // Runs `change` under the clock's lock and wakes every waiter to re-test its condition.
    void notify(const std::function<void()>& change);

    // Stepped mode, driver only: advances time by ms, then returns once every participant is
    // blocked again. A participant that stays busy for longer than `stallLimit` of real time
    // is passed over, and stays passed over until it next blocks in a wait: a runaway script
    // costs one stall, not one per step.
    void advance(uint32_t ms);
    // How often a participant was passed over.
    int stalls() const;

    // Registers the calling thread as a participant for its lifetime (stepped mode only;
    // harmless in real mode).
    class Participant {
      public:
        struct Adopt {};
        Participant();
        // Takes over a place reserved by reserveParticipant() on the thread that started us, so
        // the driver counts the thread from the moment it was created.
        explicit Participant(Adopt);
        ~Participant();
        Participant(const Participant&) = delete;
        Participant& operator=(const Participant&) = delete;

      private:
        bool registered_;
    };
    // Takes the calling participant out of the stepping for a scope, for waits that are not
    // clock waits (joining a thread, blocking I/O).
    class Excused {
      public:
        Excused();
        ~Excused();
        Excused(const Excused&) = delete;
        Excused& operator=(const Excused&) = delete;

      private:
        void* state_;  // the caller's place among the participants, or null
    };
    void reserveParticipant();
    // Marks the calling thread as the one that advances the stepped clock.
    void becomeDriver();
    void resignDriver();
    bool isDriver() const;

    std::chrono::milliseconds stallLimit{5000};

  private:
    Clock();
    bool quiescentLocked() const;
    void waitQuiescentLocked(std::unique_lock<std::mutex>& lock);

    mutable std::mutex mutex_;
    std::condition_variable cv_;
    std::atomic<bool> stepped_{false};
    uint32_t steppedNow_ = 0;
    uint64_t generation_ = 0;  // counts advances, for yields
    int stalls_ = 0;
    std::chrono::steady_clock::time_point realStart_;
};

// Millisecond time like timeGetTime().
inline uint32_t timeNow() {
    return Clock::instance().now();
}
// True when `time` has been reached at `now`, allowing for the 32-bit wrap.
inline bool timeReached(uint32_t now, uint32_t time) {
    return static_cast<int32_t>(now - time) >= 0;
}

}  // namespace vaxo2::platform
