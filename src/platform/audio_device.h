#pragma once
// The audio output: a device that pulls 44100 Hz stereo signed 16-bit frames from one
// AudioSource. The real device is SDL's; when no device can be opened (no sound card, a
// headless server) or the clock is stepped, a device without hardware consumes the frames at the
// clock's pace instead, so everything that depends on playback still advances.
#include <cstdint>
#include <memory>
#include <string>

namespace vaxo2::platform {

constexpr uint32_t kAudioRate = 44100;
constexpr uint32_t kAudioChannels = 2;

class AudioSource {
  public:
    virtual ~AudioSource() = default;
    // Fills `frames` interleaved stereo frames. Called from the device's own thread (SDL's
    // audio callback) or from whoever drives a clocked device: must not block for long.
    virtual void renderAudio(int16_t* interleaved, uint32_t frames) noexcept = 0;
};

class AudioDevice {
  public:
    virtual ~AudioDevice() = default;
    // For messages: "SDL <driver>", "none (real time)", "none (stepped)".
    virtual std::string description() const = 0;
    // Frames that sit in the device between the source and the speaker at most (0 without
    // hardware).
    virtual uint32_t bufferedFrames() const = 0;
};

// Opens the system's default output through SDL and starts pulling at once. Null with `error`
// set when no device opens.
std::unique_ptr<AudioDevice> openSdlAudioDevice(AudioSource& source, std::string& error);

// A device without hardware. Every frame the source renders is discarded; the number of frames
// pulled follows the platform clock: frames(t) = (t - start) * 44100 / 1000. It has no thread:
// whoever needs the mix to have caught up with the clock calls advanceTo (the stepped clock's
// driver once per frame; on the real clock the render thread before it runs commands and the
// ticker before it updates the sound layers), so a still page without sound wakes nobody.
class ClockedAudioDevice final : public AudioDevice {
  public:
    // `realTime` only names the device in messages.
    ClockedAudioDevice(AudioSource& source, bool realTime);
    ~ClockedAudioDevice() override;
    ClockedAudioDevice(const ClockedAudioDevice&) = delete;
    ClockedAudioDevice& operator=(const ClockedAudioDevice&) = delete;

    std::string description() const override;
    uint32_t bufferedFrames() const override { return 0; }

    // Renders every frame due up to clock time `nowMs`.
    void advanceTo(uint32_t nowMs);
    uint64_t framesPulled() const;

  private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace vaxo2::platform
