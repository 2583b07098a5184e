#pragma once
// Converts PCM from one wave format to another (rate, channels, 8/16 bits) so that files of
// different formats can share one sound buffer. Rates go through the Resampler; two channels
// become one by their mean, one becomes two by copying; samples are rounded and clipped.
#include <cstdint>
#include <vector>

#include "sound/resampler.h"
#include "sound/wave_format.h"

namespace vaxo2::sound {

class PcmConverter {
  public:
    // Both formats must be playable (isPlayableFormat).
    PcmConverter(const WaveFormat& from, const WaveFormat& to);

    // Converts whole frames of `bytes` (a trailing partial frame is ignored) and appends the
    // result to `out`.
    void convert(const uint8_t* in, size_t bytes, std::vector<uint8_t>& out);
    // Appends what is still held back (the resampler's last frames); the total output then
    // matches the input's duration.
    void finish(std::vector<uint8_t>& out);
    // Forgets everything converted so far.
    void reset();

    // Bytes of `to` that `bytes` of `from` become, as convert + finish produce them.
    static uint64_t convertedSize(const WaveFormat& from, const WaveFormat& to, uint64_t bytes);

  private:
    void drain(std::vector<uint8_t>& out, uint64_t limitOutputs);
    void encode(const float* stereo, uint32_t frames, std::vector<uint8_t>& out) const;

    WaveFormat from_;
    WaveFormat to_;
    Resampler resampler_;
    uint64_t inputFrames_ = 0;
    uint64_t outputFrames_ = 0;
};

}  // namespace vaxo2::sound
