#include "platform/clock.h"

#include <algorithm>
#include <cstdio>
#include <thread>
#include <vector>

namespace vaxo2::platform {
namespace {

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
// One participant thread as the driver sees it.
struct ParticipantState {
    WaitRecord* waiting = nullptr;  // the wait it is blocked in; null while it runs
    // Stayed busy past the stall limit: not waited for until it next blocks in a wait, so a
    // thread that never waits (a script looping without a wait) costs one stall, not one per
    // step.
    bool passedOver = false;
};
// Guarded by Clock::mutex_: every participant, and the places reserved for threads that have
// not started yet (they count as busy until they adopt theirs).
std::vector<ParticipantState*> gParticipants;
std::vector<ParticipantState*> gUnadopted;
thread_local ParticipantState* tlsState = nullptr;

void removeParticipant(ParticipantState* state) {
    gParticipants.erase(std::remove(gParticipants.begin(), gParticipants.end(), state),
                        gParticipants.end());
}

// Marks the calling participant blocked in `record` (or running again, with null).
void setWaiting(WaitRecord* record) {
    if (tlsState == nullptr) return;
    tlsState->waiting = record;
    if (record != nullptr) tlsState->passedOver = false;
}

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
    for (const ParticipantState* p : gParticipants) {
        if (p->passedOver) continue;
        const WaitRecord* r = p->waiting;
        if (r == nullptr) return false;
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
        if (cv_.wait_until(lock, limit) != std::cv_status::timeout) continue;
        if (quiescentLocked()) return;
        // Whoever still holds the step up is passed over until it waits again.
        for (ParticipantState* p : gParticipants) {
            if (p->passedOver) continue;
            const WaitRecord* r = p->waiting;
            const bool ready = r == nullptr || (r->yield && r->generation != generation_) ||
                               (r->timed && timeReached(steppedNow_, r->deadline)) ||
                               (r->pred && (*r->pred)());
            if (ready) p->passedOver = true;
        }
        ++stalls_;
        std::fprintf(stderr,
                     "vaxo2: stepped clock: a thread stayed busy for %lld ms; time goes on "
                     "without waiting for it until it waits again\n",
                     static_cast<long long>(stallLimit.count()));
        return;
    }
}

int Clock::stalls() const {
    std::lock_guard lock(mutex_);
    return stalls_;
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
    setWaiting(&rec);
    cv_.notify_all();
    cv_.wait(lock, [&] {
        return (rec.yield && rec.generation != generation_) ||
               (rec.timed && timeReached(steppedNow_, rec.deadline)) || !stepped_;
    });
    setWaiting(nullptr);
    cv_.notify_all();
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
    setWaiting(&rec);
    cv_.notify_all();
    cv_.wait(lock, [&] {
        return pred() || (rec.timed && timeReached(steppedNow_, rec.deadline)) || !stepped_;
    });
    const bool result = pred();
    setWaiting(nullptr);
    cv_.notify_all();
    return result;
}

void Clock::notify(const std::function<void()>& change) {
    std::lock_guard lock(mutex_);
    if (change) change();
    cv_.notify_all();
}

Clock::Participant::Participant() : registered_(tlsState == nullptr && !tlsDriver) {
    if (!registered_) return;
    Clock& c = instance();
    std::lock_guard lock(c.mutex_);
    tlsState = new ParticipantState;
    gParticipants.push_back(tlsState);
}

void Clock::reserveParticipant() {
    std::lock_guard lock(mutex_);
    auto* state = new ParticipantState;
    gParticipants.push_back(state);
    gUnadopted.push_back(state);
}

Clock::Participant::Participant(Adopt) : registered_(true) {
    Clock& c = instance();
    std::lock_guard lock(c.mutex_);
    if (gUnadopted.empty()) {
        tlsState = new ParticipantState;
        gParticipants.push_back(tlsState);
    } else {
        tlsState = gUnadopted.front();
        gUnadopted.erase(gUnadopted.begin());
    }
}

Clock::Participant::~Participant() {
    if (!registered_) return;
    Clock& c = instance();
    std::lock_guard lock(c.mutex_);
    removeParticipant(tlsState);
    delete tlsState;
    tlsState = nullptr;
    c.cv_.notify_all();
}

Clock::Excused::Excused() : state_(tlsState) {
    if (state_ == nullptr) return;
    Clock& c = instance();
    std::lock_guard lock(c.mutex_);
    removeParticipant(tlsState);
    tlsState = nullptr;
    c.cv_.notify_all();
}

Clock::Excused::~Excused() {
    if (state_ == nullptr) return;
    Clock& c = instance();
    std::lock_guard lock(c.mutex_);
    tlsState = static_cast<ParticipantState*>(state_);
    tlsState->waiting = nullptr;
    tlsState->passedOver = false;
    gParticipants.push_back(tlsState);
}

}  // namespace vaxo2::platform
