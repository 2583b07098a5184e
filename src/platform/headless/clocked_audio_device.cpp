#include <algorithm>
#include <array>
#include <mutex>

#include "platform/audio_device.h"
#include "platform/clock.h"

namespace vaxo2::platform {

struct ClockedAudioDevice::State {
    explicit State(AudioSource& s) : source(s) {}
    AudioSource& source;
    std::mutex mutex;  // one advance at a time
    uint32_t lastMs = 0;
    uint64_t elapsedMs = 0;  // accumulated, so the 32-bit clock may wrap
    uint64_t pulled = 0;
    bool realTime = false;
};

ClockedAudioDevice::ClockedAudioDevice(AudioSource& source, bool realTime)
    : state_(std::make_unique<State>(source)) {
    state_->lastMs = Clock::instance().now();
    state_->realTime = realTime;
}

ClockedAudioDevice::~ClockedAudioDevice() = default;

std::string ClockedAudioDevice::description() const {
    return state_->realTime ? "none (real time)" : "none (stepped)";
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
