#pragma once
// Calls up to ten registered objects every 100 ms on its own thread (sound fades and stream
// refills use it).
#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>

#include "platform/threads.h"

namespace vaxo2::app {

class TickTarget {
  public:
    virtual ~TickTarget() = default;
    virtual void tick(uint32_t elapsedMs) = 0;
    // Whether the next tick has work (a fade runs, a stream needs refilling). On the real clock
    // the ticker sleeps while no target has any, until Ticker::wake; stepped runs tick on.
    virtual bool wantsTicks() const { return true; }
};

class Ticker : public platform::WorkerThread {
  public:
    static constexpr int kSlots = 10;
    static constexpr uint32_t kIntervalMs = 100;

    static Ticker& instance();
    Ticker();
    ~Ticker() override;

    // Takes the first empty slot; nothing happens when the object is already registered or
    // every slot is taken.
    void add(TickTarget* object, int32_t enabled);
    void remove(TickTarget* object);
    bool startTicking();
    uint32_t stopTicking();  // waits 1000 ms
    int registeredCount() const;
    // A target may have work again: a sleeping ticker looks. Any thread.
    void wake();

    // One pass of the loop's work, without the sleep: calls every enabled object.
    void tickAll(uint32_t elapsedMs);

  private:
    struct Slot {
        TickTarget* object = nullptr;
        int32_t enabled = 0;
    };
    uint32_t loop(platform::WorkerThread& self);
    bool anyWantsTicks() const;

    mutable std::mutex mutex_;
    std::array<Slot, kSlots> slots_{};
    std::atomic<uint8_t> wakeRequested_{0};
    std::atomic<uint8_t> stopping_{0};
};

}  // namespace vaxo2::app
