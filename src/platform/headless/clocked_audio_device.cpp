#include <algorithm>
#include <array>
#include <mutex>

#include "platform/audio_device.h"
#include "platform/clock.h"
#include "platform/threads.h"

namespace vaxo2::platform {

struct ClockedAudioDevice::State {
    explicit State(AudioSource& s) : source(s) {}
    AudioSource& source;
    std::mutex mutex;  // one advance at a time
    uint32_t lastMs = 0;
    uint64_t elapsedMs = 0;  // accumulated, so the 32-bit clock may wrap
    uint64_t pulled = 0;
    bool ownThread = false;
    WorkerThread thread;
};

ClockedAudioDevice::ClockedAudioDevice(AudioSource& source, bool ownThread)
    : state_(std::make_unique<State>(source)) {
    state_->lastMs = Clock::instance().now();
    state_->ownThread = ownThread;
    if (ownThread) {
        // Not a stepping participant: this thread only runs on the real clock.
        state_->thread.setClockParticipant(false);
        state_->thread.setName("audio-clock");
        state_->thread.start([this](WorkerThread& self) {
            Clock& clock = Clock::instance();
            while (!self.stopRequested()) {
                clock.sleep(10);
                advanceTo(clock.now());
            }
            return 0u;
        });
    }
}

ClockedAudioDevice::~ClockedAudioDevice() {
    if (state_->ownThread) state_->thread.stop(1000);
}

std::string ClockedAudioDevice::description() const {
    return state_->ownThread ? "none (real time)" : "none (stepped)";
}

uint64_t ClockedAudioDevice::framesPulled() const {
    std::lock_guard lock(state_->mutex);
    return state_->pulled;
}

void ClockedAudioDevice::advanceTo(uint32_t nowMs) {
    std::lock_guard lock(state_->mutex);
    const uint32_t step = nowMs - state_->lastMs;
    if (static_cast<int32_t>(step) <= 0) return;  // no time passed (or a stale reading)
    state_->lastMs = nowMs;
    state_->elapsedMs += step;
    const uint64_t due = state_->elapsedMs * kAudioRate / 1000;
    std::array<int16_t, 1024 * kAudioChannels> scratch;
    while (state_->pulled < due) {
        const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(due - state_->pulled, 1024));
        state_->source.renderAudio(scratch.data(), n);
        state_->pulled += n;
    }
}

}  // namespace vaxo2::platform
