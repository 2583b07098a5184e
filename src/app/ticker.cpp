#include "app/ticker.h"

#include "platform/clock.h"

namespace vaxo2::app {

Ticker& Ticker::instance() {
    static Ticker ticker;
    return ticker;
}

Ticker::Ticker() : WorkerThread([this](WorkerThread& self) { return loop(self); }) {
    setName("ticker");
}

void Ticker::add(TickTarget* object, int32_t enabled) {
    std::lock_guard lock(mutex_);
    for (const Slot& s : slots_) {
        if (s.object == object) return;
    }
    for (Slot& s : slots_) {
        if (!s.object) {
            s.object = object;
            s.enabled = enabled;
            return;
        }
    }
}

void Ticker::remove(TickTarget* object) {
    std::lock_guard lock(mutex_);
    for (Slot& s : slots_) {
        if (s.object == object) s = Slot{};
    }
}

int Ticker::registeredCount() const {
    std::lock_guard lock(mutex_);
    int n = 0;
    for (const Slot& s : slots_)
        n += s.object != nullptr;
    return n;
}

void Ticker::tickAll(uint32_t elapsedMs) {
    // Snapshot under the lock and call outside it: an object may remove itself while ticking.
    std::array<Slot, kSlots> slots;
    {
        std::lock_guard lock(mutex_);
        slots = slots_;
    }
    for (const Slot& s : slots) {
        if (s.object && s.enabled == 1) s.object->tick(elapsedMs);
    }
}

bool Ticker::startTicking() {
    return start();
}

uint32_t Ticker::stopTicking() {
    return stop(1000);
}

uint32_t Ticker::loop(platform::WorkerThread& self) {
    platform::Clock& clock = platform::Clock::instance();
    uint32_t last = clock.now();
    while (!self.stopRequested()) {
        clock.sleep(kIntervalMs);
        const uint32_t now = clock.now();
        tickAll(now - last);
        last = now;
    }
    return 0;
}

}  // namespace vaxo2::app
