#include "sound/wav_reader.h"

#include <algorithm>
#include <cstring>

namespace vaxo2::sound {
namespace {

uint16_t le16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

uint32_t le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

bool idIs(const uint8_t* p, const char* id) {
    return std::memcmp(p, id, 4) == 0;
}

// Offset of the chunk after the one at `at` (header, data and the pad byte of odd sizes).
uint64_t nextChunk(uint64_t at, uint32_t chunkSize) {
    return at + 8 + chunkSize + (chunkSize & 1u);
}

constexpr size_t kFormatReadBytes = 18;

}  // namespace

std::optional<WavData> parseWav(const uint8_t* image, size_t size) {
    if (!image) return std::nullopt;
    // The RIFF chunk of form WAVE among the top-level chunks.
    uint64_t riff = 0;
    bool found = false;
    while (riff + 12 <= size) {
        const uint32_t chunkSize = le32(image + riff + 4);
        if (idIs(image + riff, "RIFF") && chunkSize >= 4 && idIs(image + riff + 8, "WAVE")) {
            found = true;
            break;
        }
        riff = nextChunk(riff, chunkSize);
    }
    if (!found) return std::nullopt;
    const uint64_t formEnd = std::min<uint64_t>(riff + 8 + le32(image + riff + 4), size);

    // The form's first chunk is the format.
    const uint64_t fmt = riff + 12;
    if (fmt + 8 > formEnd || !idIs(image + fmt, "fmt ")) return std::nullopt;
    const uint32_t fmtSize = le32(image + fmt + 4);
    const uint64_t fmtData = fmt + 8;
    if (fmtData + kFormatReadBytes > size) return std::nullopt;
    const uint8_t* f = image + fmtData;
    WavData out;
    out.format.formatTag = le16(f);
    if (out.format.formatTag != 1) return std::nullopt;
    out.format.channels = le16(f + 2);
    out.format.samplesPerSec = le32(f + 4);
    out.format.avgBytesPerSec = le32(f + 8);
    out.format.blockAlign = le16(f + 12);
    out.format.bitsPerSample = le16(f + 14);

    // The data chunk, searched after the format inside the form.
    for (uint64_t at = nextChunk(fmt, fmtSize); at + 8 <= formEnd;) {
        const uint32_t chunkSize = le32(image + at + 4);
        if (idIs(image + at, "data")) {
            if (at + 8 + chunkSize > size) return std::nullopt;  // truncated
            out.pcmOffset = static_cast<size_t>(at + 8);
            out.pcmSize = chunkSize;
            return out;
        }
        at = nextChunk(at, chunkSize);
    }
    return std::nullopt;
}

}  // namespace vaxo2::sound
