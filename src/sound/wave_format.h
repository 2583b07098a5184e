#pragma once
// The PCM wave format of a sound: the 16 bytes of a Windows PCMWAVEFORMAT, as the WAV files the
// games ship carry it.
#include <cstdint>

namespace vaxo2::sound {

struct WaveFormat {
    uint16_t formatTag = 0;  // 1: PCM
    uint16_t channels = 0;
    uint32_t samplesPerSec = 0;
    uint32_t avgBytesPerSec = 0;
    uint16_t blockAlign = 0;
    uint16_t bitsPerSample = 0;

    bool operator==(const WaveFormat&) const = default;
    bool isZero() const { return *this == WaveFormat{}; }

    // 16-bit PCM with the given layout, every derived field filled in.
    static WaveFormat pcm16(uint16_t channels, uint32_t rate) {
        return {1, channels, rate, rate * channels * 2u, static_cast<uint16_t>(channels * 2u), 16};
    }
};

// Rates a sound buffer accepts, in Hz.
constexpr uint32_t kMinBufferRate = 100;
constexpr uint32_t kMaxBufferRate = 200000;

// True when a buffer can play this format: PCM, one or two channels, 8 or 16 bits, a block
// alignment that matches them and a rate in the accepted range.
inline bool isPlayableFormat(const WaveFormat& f) {
    return f.formatTag == 1 && (f.channels == 1 || f.channels == 2) &&
           (f.bitsPerSample == 8 || f.bitsPerSample == 16) &&
           f.blockAlign == f.channels * f.bitsPerSample / 8 && f.samplesPerSec >= kMinBufferRate &&
           f.samplesPerSec <= kMaxBufferRate;
}

}  // namespace vaxo2::sound
