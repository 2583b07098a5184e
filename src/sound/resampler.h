#pragma once
// Sample-rate conversion of stereo float frames: a polyphase windowed-sinc filter (Kaiser window,
// beta 9, 32 taps at unit ratio and proportionally more when reducing the rate, cutoff at 97 %
// of the lower Nyquist frequency, 1024 phases with linear interpolation between them). Equal
// rates pass samples through unchanged. Positions are kept as exact integer fractions, so the
// same input always gives the same output.
//
// Allocation happens only in the constructor; push, produce and reset never allocate, so a
// resampler may run inside the audio callback.
#include <cstdint>
#include <memory>
#include <vector>

namespace vaxo2::sound {

class Resampler {
  public:
    // Most output frames one produce() may ask for.
    static constexpr uint32_t kMaxChunk = 256;

    Resampler(uint32_t inRate, uint32_t outRate);
    ~Resampler();
    Resampler(Resampler&&) noexcept;
    Resampler& operator=(Resampler&&) noexcept;

    bool passthrough() const { return inRate_ == outRate_; }
    uint32_t inRate() const { return inRate_; }
    uint32_t outRate() const { return outRate_; }

    // Forgets every pushed frame; the next pushed frame is input frame 0 again.
    void reset() noexcept;

    // Input frames still to push before `outFrames` (<= kMaxChunk) outputs can be produced.
    uint32_t inputNeeded(uint32_t outFrames) const noexcept;
    // How many outputs (at most `limit`) the frames pushed so far allow.
    uint32_t outputsAvailable(uint32_t limit) const noexcept;
    // Room for input frames right now (at least what inputNeeded(kMaxChunk) asks after a
    // produce).
    uint32_t room() const noexcept;
    // Appends `frames` interleaved stereo frames (no more than room()).
    void push(const float* stereo, uint32_t frames) noexcept;
    // Writes `outFrames` interleaved stereo frames; needs outputsAvailable(outFrames) ==
    // outFrames.
    void produce(float* stereo, uint32_t outFrames) noexcept;

    // Input frame (counted from the last reset) at which the next output is centred: what the
    // listener hears now.
    uint64_t inputPosition() const noexcept { return dropped_ + pos_ - (half_ - 1); }
    // Input frames pushed since the last reset.
    uint64_t inputPushed() const noexcept { return dropped_ + count_ - (half_ - 1); }

    struct Table;

  private:
    uint32_t inRate_ = 0;
    uint32_t outRate_ = 0;
    uint32_t half_ = 1;  // taps on each side of the centre
    std::shared_ptr<const Table> table_;
    std::vector<float> frames_;  // interleaved stereo history and look-ahead
    uint32_t capacity_ = 0;      // in frames
    uint32_t count_ = 0;         // frames held
    uint32_t pos_ = 0;           // index of the next output's integer input position
    uint64_t frac_ = 0;          // its fractional part, in units of 1/outRate
    uint64_t dropped_ = 0;       // frames discarded from the front since the reset
};

}  // namespace vaxo2::sound
