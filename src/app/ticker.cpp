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

Ticker::~Ticker() {
    // A sleeping ticker sees no stop flag by itself.
    if (running()) stopTicking();
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

bool Ticker::anyWantsTicks() const {
    std::lock_guard lock(mutex_);
    for (const Slot& s : slots_) {
        if (s.object && s.enabled == 1 && s.object->wantsTicks()) return true;
    }
    return false;
}

void Ticker::wake() {
    platform::Clock::instance().notify([this] { wakeRequested_ = 1; });
}

bool Ticker::startTicking() {
    stopping_ = 0;
    return start();
}

uint32_t Ticker::stopTicking() {
    // A sleeping ticker is not woken by the stop flag alone.
    platform::Clock::instance().notify([this] { stopping_ = 1; });
    return stop(1000);
}

uint32_t Ticker::loop(platform::WorkerThread& self) {
    platform::Clock& clock = platform::Clock::instance();
    uint32_t last = clock.now();
    while (!self.stopRequested() && !stopping_) {
        wakeRequested_ = 0;
        if (!clock.stepped() && !anyWantsTicks()) {
            // Nothing fades, streams or plays: sleep until a target has work again. The time
            // slept is not handed to the targets, as nothing of theirs ran meanwhile.
            clock.waitUntil([&] { return wakeRequested_ != 0 || stopping_ != 0; },
                            platform::kInfinite);
            last = clock.now();
            continue;
        }
        clock.sleep(kIntervalMs);
        const uint32_t now = clock.now();
        tickAll(now - last);
        last = now;
    }
    return 0;
}

}  // namespace vaxo2::app
