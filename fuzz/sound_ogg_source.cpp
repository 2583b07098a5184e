// Ogg Vorbis sources on arbitrary bytes: opening, streaming reads, rewinding and the whole-sound
// decode end, deliver whole frames, and never decode more than the stream holds.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "sound/sound_source.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace vaxo2::sound;
    SoundSource source("fuzz.ogg");
    source.setImage(std::vector<uint8_t>(data, data + size));
    const WaveFormat format = source.format();
    (void)source.totalBytes();
    std::vector<uint8_t> piece(4096);
    for (int pass = 0; pass < 2; ++pass) {
        // Bounded: a damaged stream may keep reporting holes.
        for (int reads = 0; reads < 4096; ++reads) {
            const long n = source.read(piece.data(), piece.size());
            if (n == 0) break;
            if (n > 0 && (format.blockAlign == 0 || n % format.blockAlign != 0)) std::abort();
        }
        source.rewind();
    }
    const uint8_t* pcm = nullptr;
    size_t pcmSize = 0;
    if (source.wholePcm(pcm, pcmSize)) {
        if (pcmSize == 0 || pcmSize > SoundSource::kMaxWholeBytes) std::abort();
        volatile uint8_t last = pcm[pcmSize - 1];
        (void)last;
    }
    source.release();
    return 0;
}
