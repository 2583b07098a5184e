#include "sound/pcm_converter.h"

#include <algorithm>
#include <cmath>

namespace vaxo2::sound {

namespace {

float sampleAt(const uint8_t* p, uint16_t bits) {
    if (bits == 8) return (static_cast<float>(p[0]) - 128.0f) / 128.0f;
    return static_cast<float>(static_cast<int16_t>(static_cast<uint16_t>(p[0] | (p[1] << 8)))) /
           32768.0f;
}

// Output frames that `frames` input frames become: the outputs whose time lies inside the input.
uint64_t outputsFor(uint64_t frames, uint32_t inRate, uint32_t outRate) {
    return (frames * outRate + inRate - 1) / inRate;
}

}  // namespace

PcmConverter::PcmConverter(const WaveFormat& from, const WaveFormat& to)
    : from_(from), to_(to), resampler_(from.samplesPerSec, to.samplesPerSec) {}

void PcmConverter::reset() {
    resampler_.reset();
    inputFrames_ = 0;
    outputFrames_ = 0;
}

uint64_t PcmConverter::convertedSize(const WaveFormat& from, const WaveFormat& to, uint64_t bytes) {
    if (from.blockAlign == 0) return 0;
    return outputsFor(bytes / from.blockAlign, from.samplesPerSec, to.samplesPerSec) *
           to.blockAlign;
}

void PcmConverter::encode(const float* stereo, uint32_t frames, std::vector<uint8_t>& out) const {
    for (uint32_t i = 0; i < frames; ++i) {
        float values[2] = {stereo[2 * i], stereo[2 * i + 1]};
        uint32_t channels = to_.channels;
        if (channels == 1) values[0] = (values[0] + values[1]) * 0.5f;
        for (uint32_t c = 0; c < channels; ++c) {
            if (to_.bitsPerSample == 8) {
                const float v = std::clamp(std::nearbyint(values[c] * 128.0f), -128.0f, 127.0f);
                out.push_back(static_cast<uint8_t>(static_cast<int>(v) + 128));
            } else {
                const float v =
                    std::clamp(std::nearbyint(values[c] * 32768.0f), -32768.0f, 32767.0f);
                const auto s = static_cast<uint16_t>(static_cast<int16_t>(v));
                out.push_back(static_cast<uint8_t>(s & 0xFF));
                out.push_back(static_cast<uint8_t>(s >> 8));
            }
        }
    }
}

void PcmConverter::drain(std::vector<uint8_t>& out, uint64_t limitOutputs) {
    float produced[Resampler::kMaxChunk * 2];
    while (outputFrames_ < limitOutputs) {
        const uint32_t want = static_cast<uint32_t>(
            std::min<uint64_t>(limitOutputs - outputFrames_, Resampler::kMaxChunk));
        const uint32_t n = resampler_.outputsAvailable(want);
        if (n == 0) break;
        resampler_.produce(produced, n);
        encode(produced, n, out);
        outputFrames_ += n;
    }
}

void PcmConverter::convert(const uint8_t* in, size_t bytes, std::vector<uint8_t>& out) {
    if (from_.blockAlign == 0) return;
    const size_t frames = bytes / from_.blockAlign;
    const bool stereo = from_.channels == 2;
    const uint16_t width = from_.bitsPerSample / 8;
    float chunk[512 * 2];
    for (size_t done = 0; done < frames;) {
        const uint32_t room = std::min<uint32_t>(resampler_.room(), 512);
        const uint32_t n = static_cast<uint32_t>(std::min<size_t>(frames - done, room));
        if (n == 0) break;
        for (uint32_t i = 0; i < n; ++i) {
            const uint8_t* p = in + (done + i) * from_.blockAlign;
            const float left = sampleAt(p, from_.bitsPerSample);
            chunk[2 * i] = left;
            chunk[2 * i + 1] = stereo ? sampleAt(p + width, from_.bitsPerSample) : left;
        }
        resampler_.push(chunk, n);
        done += n;
        inputFrames_ += n;
        // Every output whose input is complete, so the resampler has room for more.
        drain(out, UINT64_MAX);
    }
}

void PcmConverter::finish(std::vector<uint8_t>& out) {
    const uint64_t total = outputsFor(inputFrames_, from_.samplesPerSec, to_.samplesPerSec);
    const float silence[64 * 2] = {};
    while (outputFrames_ < total) {
        drain(out, total);
        if (outputFrames_ >= total) break;
        const uint32_t n = std::min<uint32_t>(resampler_.room(), 64);
        if (n == 0) break;
        resampler_.push(silence, n);
    }
}

}  // namespace vaxo2::sound
