#include "platform/clock.h"

#include <algorithm>
#include <cstdio>
#include <thread>
#include <vector>

namespace vaxo2::platform {
namespace {

thread_local bool tlsParticipant = false;
thread_local bool tlsDriver = false;

// One participant's wait, visible to the driver so that it can tell whether the wait could end
// by itself (condition true, deadline reached, or a yield that has seen an advance).
struct WaitRecord {
    const std::function<bool()>* pred;
    bool timed;
    uint32_t deadline;
    bool yield;
    uint64_t generation;
};
std::vector<WaitRecord*> gRecords;  // guarded by Clock::mutex_

}  // namespace

Clock& Clock::instance() {
    static Clock clock;
    return clock;
}

Clock::Clock() : realStart_(std::chrono::steady_clock::now()) {}

void Clock::useStepped(uint32_t start) {
    std::lock_guard lock(mutex_);
    stepped_ = true;
    steppedNow_ = start;
}

void Clock::useReal() {
    std::lock_guard lock(mutex_);
    stepped_ = false;
    cv_.notify_all();
}

uint32_t Clock::now() const {
    if (stepped_) {
        std::lock_guard lock(mutex_);
        return steppedNow_;
    }
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now().time_since_epoch());
    return static_cast<uint32_t>(ms.count());
}

void Clock::becomeDriver() {
    tlsDriver = true;
}
void Clock::resignDriver() {
    tlsDriver = false;
}
bool Clock::isDriver() const {
    return tlsDriver;
}

bool Clock::quiescentLocked() const {
    if (static_cast<int>(gRecords.size()) < participants_) return false;
    for (const WaitRecord* r : gRecords) {
        if (r->yield && r->generation != generation_) return false;
        if (r->timed && timeReached(steppedNow_, r->deadline)) return false;
        if (r->pred && (*r->pred)()) return false;
    }
    return true;
}

void Clock::advance(uint32_t ms) {
    std::unique_lock lock(mutex_);
    // First let everything the driver set in motion since the last step settle at the current
    // time (an event set between steps is seen before time moves), then step, then settle again.
    waitQuiescentLocked(lock);
    steppedNow_ += ms;
    ++generation_;
    cv_.notify_all();
    waitQuiescentLocked(lock);
}

void Clock::waitQuiescentLocked(std::unique_lock<std::mutex>& lock) {
    const auto limit = std::chrono::steady_clock::now() + stallLimit;
    while (!quiescentLocked()) {
        if (cv_.wait_until(lock, limit) == std::cv_status::timeout) {
            if (!quiescentLocked()) {
                std::fprintf(stderr,
                             "vaxo2: stepped clock: a thread stayed busy for %lld ms; "
                             "advancing without it\n",
                             static_cast<long long>(stallLimit.count()));
            }
            return;
        }
    }
}

void Clock::sleep(uint32_t ms) {
    if (!stepped_) {
        if (ms == 0) {
            std::this_thread::yield();
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        }
        return;
    }
    if (tlsDriver) {
        // The driver never waits on the others' time: its sleeps are the steps.
        advance(ms == 0 ? 1 : ms);
        return;
    }
    std::unique_lock lock(mutex_);
    WaitRecord rec{nullptr, ms != 0, steppedNow_ + ms, ms == 0, generation_};
    if (tlsParticipant) {
        gRecords.push_back(&rec);
        cv_.notify_all();
    }
    cv_.wait(lock, [&] {
        return (rec.yield && rec.generation != generation_) ||
               (rec.timed && timeReached(steppedNow_, rec.deadline)) || !stepped_;
    });
    if (tlsParticipant) {
        gRecords.erase(std::find(gRecords.begin(), gRecords.end(), &rec));
        cv_.notify_all();
    }
}

bool Clock::waitUntil(const std::function<bool()>& pred, uint32_t timeoutMs) {
    std::unique_lock lock(mutex_);
    if (pred()) return true;
    if (timeoutMs == 0) return false;
    if (!stepped_) {
        if (timeoutMs == kInfinite) {
            cv_.wait(lock, pred);
            return true;
        }
        return cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs), pred);
    }
    WaitRecord rec{&pred, timeoutMs != kInfinite, steppedNow_ + timeoutMs, false, generation_};
    if (tlsParticipant) {
        gRecords.push_back(&rec);
        cv_.notify_all();
    }
    cv_.wait(lock, [&] {
        return pred() || (rec.timed && timeReached(steppedNow_, rec.deadline)) || !stepped_;
    });
    const bool result = pred();
    if (tlsParticipant) {
        gRecords.erase(std::find(gRecords.begin(), gRecords.end(), &rec));
        cv_.notify_all();
    }
    return result;
}

void Clock::notify(const std::function<void()>& change) {
    std::lock_guard lock(mutex_);
    if (change) change();
    cv_.notify_all();
}

Clock::Participant::Participant() : registered_(!tlsParticipant && !tlsDriver) {
    if (!registered_) return;
    Clock& c = instance();
    std::lock_guard lock(c.mutex_);
    tlsParticipant = true;
    ++c.participants_;
}

void Clock::reserveParticipant() {
    std::lock_guard lock(mutex_);
    ++participants_;
}

Clock::Participant::Participant(Adopt) : registered_(true) {
    tlsParticipant = true;
}

Clock::Participant::~Participant() {
    if (!registered_) return;
    Clock& c = instance();
    std::lock_guard lock(c.mutex_);
    tlsParticipant = false;
    --c.participants_;
    c.cv_.notify_all();
}

Clock::Excused::Excused() : was_(tlsParticipant) {
    if (!was_) return;
    Clock& c = instance();
    std::lock_guard lock(c.mutex_);
    tlsParticipant = false;
    --c.participants_;
    c.cv_.notify_all();
}

Clock::Excused::~Excused() {
    if (!was_) return;
    Clock& c = instance();
    std::lock_guard lock(c.mutex_);
    tlsParticipant = true;
    ++c.participants_;
}

}  // namespace vaxo2::platform
