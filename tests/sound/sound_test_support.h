#pragma once
// Test sounds made in memory, and measurements of rendered audio.
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "../io/io_test_support.h"
#include "sound/mixer.h"
#include "sound/wave_format.h"

namespace vaxo2::sound::testing {

using io::testing::readFile;
using io::testing::TempDir;
using io::testing::writeFile;

constexpr double kPi = 3.14159265358979323846;

inline WaveFormat pcmFormat(uint16_t channels, uint32_t rate, uint16_t bits) {
    const uint16_t block = static_cast<uint16_t>(channels * bits / 8);
    return {1, channels, rate, rate * block, block, bits};
}

// A sine of `amplitude` (of full scale) in every channel.
inline std::vector<uint8_t> sinePcm(const WaveFormat& f, double seconds, double hz,
                                    double amplitude) {
    std::vector<uint8_t> pcm;
    const auto frames = static_cast<size_t>(seconds * f.samplesPerSec);
    for (size_t i = 0; i < frames; ++i) {
        const double v =
            amplitude * std::sin(2 * kPi * hz * static_cast<double>(i) / f.samplesPerSec);
        for (int c = 0; c < f.channels; ++c) {
            if (f.bitsPerSample == 8) {
                pcm.push_back(static_cast<uint8_t>(std::lround(v * 127.0) + 128));
            } else {
                const auto s =
                    static_cast<uint16_t>(static_cast<int16_t>(std::lround(v * 32767.0)));
                pcm.push_back(static_cast<uint8_t>(s & 0xFF));
                pcm.push_back(static_cast<uint8_t>(s >> 8));
            }
        }
    }
    return pcm;
}

inline void put32(std::vector<uint8_t>& out, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
inline void put16(std::vector<uint8_t>& out, uint16_t v) {
    out.push_back(static_cast<uint8_t>(v & 0xFF));
    out.push_back(static_cast<uint8_t>(v >> 8));
}
inline void putChunk(std::vector<uint8_t>& out, const char* id, const std::vector<uint8_t>& body) {
    out.insert(out.end(), id, id + 4);
    put32(out, static_cast<uint32_t>(body.size()));
    out.insert(out.end(), body.begin(), body.end());
    if (body.size() & 1) out.push_back(0);
}
inline std::vector<uint8_t> fmtBody(const WaveFormat& f, bool withSize = false) {
    std::vector<uint8_t> b;
    put16(b, f.formatTag);
    put16(b, f.channels);
    put32(b, f.samplesPerSec);
    put32(b, f.avgBytesPerSec);
    put16(b, f.blockAlign);
    put16(b, f.bitsPerSample);
    if (withSize) put16(b, 0);
    return b;
}
// RIFF "WAVE" around the given chunks (already encoded).
inline std::vector<uint8_t> riffWave(const std::vector<uint8_t>& chunks) {
    std::vector<uint8_t> out{'R', 'I', 'F', 'F'};
    put32(out, static_cast<uint32_t>(4 + chunks.size()));
    out.insert(out.end(), {'W', 'A', 'V', 'E'});
    out.insert(out.end(), chunks.begin(), chunks.end());
    return out;
}
inline std::vector<uint8_t> wavFile(const WaveFormat& f, const std::vector<uint8_t>& pcm) {
    std::vector<uint8_t> chunks;
    putChunk(chunks, "fmt ", fmtBody(f));
    putChunk(chunks, "data", pcm);
    return riffWave(chunks);
}

inline std::vector<int16_t> render(Mixer& mixer, uint32_t frames) {
    std::vector<int16_t> out(static_cast<size_t>(frames) * 2);
    for (uint32_t done = 0; done < frames;) {
        const uint32_t n = std::min<uint32_t>(frames - done, 512);  // device-sized periods
        mixer.render(out.data() + static_cast<size_t>(done) * 2, n);
        done += n;
    }
    return out;
}

// RMS of channel `channel` over frames [from, to), as a fraction of full scale.
inline double rms(const std::vector<int16_t>& s, size_t from, size_t to, int channel = 0) {
    double sum = 0;
    size_t n = 0;
    for (size_t i = from; i < to && 2 * i + 1 < s.size(); ++i, ++n) {
        const double v = s[2 * i + channel] / 32768.0;
        sum += v * v;
    }
    return n ? std::sqrt(sum / static_cast<double>(n)) : 0.0;
}

// Frequency of a steady tone from its rising zero crossings over frames [from, to).
inline double dominantHz(const std::vector<int16_t>& s, size_t from, size_t to) {
    size_t first = 0, last = 0, crossings = 0;
    for (size_t i = from + 1; i < to && 2 * i < s.size(); ++i) {
        if (s[2 * (i - 1)] < 0 && s[2 * i] >= 0) {
            if (crossings == 0) first = i;
            last = i;
            ++crossings;
        }
    }
    if (crossings < 2) return 0.0;
    return (crossings - 1) * 44100.0 / static_cast<double>(last - first);
}

inline std::string testData(const std::string& name) {
    return std::string(VAXO2_TEST_DATA) + "/sound/data/" + name;
}

}  // namespace vaxo2::sound::testing
