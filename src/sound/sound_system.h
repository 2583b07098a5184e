#pragma once
// The sound subsystem as the application builds it: the mixer, the sound manager that the sound
// commands drive, the audio device that pulls the mix, and the optional capture of everything
// sent to the device (--audio-out).
//
// Device choice: on the real clock the system's device through SDL; when none opens (no sound
// card, a headless server) a device without hardware that consumes the mix in real time, so
// playback still advances and ends: pump() catches it up with the clock before commands run
// and before the layers update, so nothing wakes for it at a still page. On the stepped clock
// always the device without hardware, advanced by pump() once per frame from the clock's
// driver: the mix then follows the clock exactly and the same run gives the same samples.
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/audio_device.h"
#include "sound/mixer.h"
#include "sound/sound_manager.h"
#include "sound/wav_writer.h"

namespace vaxo2::sound {

class SoundSystem final : public platform::AudioSource {
  public:
    SoundSystem();
    ~SoundSystem() override;
    SoundSystem(const SoundSystem&) = delete;
    SoundSystem& operator=(const SoundSystem&) = delete;

    Mixer& mixer() { return mixer_; }
    SoundManager& manager() { return manager_; }

    // Starts writing everything the device is sent into `path` (a WAV file). Before openDevice.
    bool openCapture(const std::string& path, std::string& error);

    // Opens the output. Never fails: without a device the mix goes to one without hardware.
    // May run on its own thread while another plays: the commands only drive the manager and
    // the mixer, and pump() leaves the device alone until it is open.
    void openDevice(bool stepped);
    bool deviceOpen() const { return deviceReady_.load(std::memory_order_acquire) != 0; }
    // Stops pulling, then finishes the capture file.
    void closeDevice();
    // A device without hardware: renders every frame due up to clock time `nowMs` (nothing
    // for the system's device, which pulls by itself).
    void pump(uint32_t nowMs);

    std::string deviceDescription() const;
    // Why the system device did not open (empty when it did or was not tried).
    const std::string& deviceError() const { return deviceError_; }
    uint64_t framesCaptured() const;

    void renderAudio(int16_t* interleaved, uint32_t frames) noexcept override;

  private:
    Mixer mixer_;
    SoundManager manager_;
    std::unique_ptr<WavWriter> capture_;
    std::unique_ptr<platform::AudioDevice> device_;
    platform::ClockedAudioDevice* pumped_ = nullptr;  // the device when the caller drives it
    // Set once device_ and pumped_ are in place (the opening thread writes them).
    std::atomic<uint8_t> deviceReady_{0};
    std::string deviceError_;
};

}  // namespace vaxo2::sound
