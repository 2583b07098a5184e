#include "sound/sound_system.h"

namespace vaxo2::sound {

SoundSystem::SoundSystem() : manager_(mixer_) {}

SoundSystem::~SoundSystem() {
    closeDevice();
}

bool SoundSystem::openCapture(const std::string& path, std::string& error) {
    auto writer = std::make_unique<WavWriter>();
    if (!writer->open(path, error)) return false;
    capture_ = std::move(writer);
    return true;
}

void SoundSystem::openDevice(bool stepped) {
    if (device_) return;
    deviceError_.clear();
    if (stepped) {
        auto device = std::make_unique<platform::ClockedAudioDevice>(*this, false);
        pumped_ = device.get();
        device_ = std::move(device);
        deviceReady_.store(1, std::memory_order_release);
        return;
    }
    device_ = platform::openSdlAudioDevice(*this, deviceError_);
    if (!device_) {
        auto device = std::make_unique<platform::ClockedAudioDevice>(*this, true);
        pumped_ = device.get();
        device_ = std::move(device);
    }
    deviceReady_.store(1, std::memory_order_release);
}

void SoundSystem::closeDevice() {
    deviceReady_.store(0, std::memory_order_release);
    pumped_ = nullptr;
    device_.reset();
    if (capture_) capture_->close();
}

void SoundSystem::pump(uint32_t nowMs) {
    if (deviceOpen() && pumped_) pumped_->advanceTo(nowMs);
}

std::string SoundSystem::deviceDescription() const {
    return deviceOpen() && device_ ? device_->description() : "closed";
}

uint64_t SoundSystem::framesCaptured() const {
    return capture_ ? capture_->framesWritten() : 0;
}

void SoundSystem::renderAudio(int16_t* interleaved, uint32_t frames) noexcept {
    mixer_.render(interleaved, frames);
    if (capture_) capture_->write(interleaved, frames);
}

}  // namespace vaxo2::sound
