// The WAV reader on arbitrary bytes: whatever it accepts lies inside the input, and a source over
// it delivers exactly that PCM, whole and in pieces, into a mixer buffer that then plays.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "sound/mixer.h"
#include "sound/pcm_converter.h"
#include "sound/sound_source.h"
#include "sound/wav_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace vaxo2::sound;
    const std::optional<WavData> wav = parseWav(data, size);
    if (wav && (wav->pcmOffset > size || wav->pcmSize > size - wav->pcmOffset)) std::abort();

    SoundSource source("fuzz.wav");
    source.setImage(std::vector<uint8_t>(data, data + size));
    const WaveFormat format = source.format();
    const uint8_t* pcm = nullptr;
    size_t pcmSize = 0;
    const bool whole = source.wholePcm(pcm, pcmSize);
    if (whole && (!wav || pcmSize > wav->pcmSize)) std::abort();
    std::vector<uint8_t> piece(997);
    size_t streamed = 0;
    for (long n; (n = source.read(piece.data(), piece.size())) > 0;)
        streamed += static_cast<size_t>(n);
    if (streamed != (whole ? pcmSize : 0)) std::abort();

    if (whole && isPlayableFormat(format)) {
        Mixer mixer;
        std::unique_ptr<MixerBuffer> buffer =
            mixer.createBuffer(format, static_cast<uint32_t>(std::min<size_t>(pcmSize, 1 << 20)));
        if (buffer) {
            buffer->write(0, pcm, buffer->size());
            buffer->play(false);
            std::vector<int16_t> out(2048 * 2);
            mixer.render(out.data(), 2048);
        }
        PcmConverter converter(format, WaveFormat::pcm16(2, 44100));
        std::vector<uint8_t> converted;
        converter.convert(pcm, std::min<size_t>(pcmSize, 1 << 16), converted);
        converter.finish(converted);
    }
    return 0;
}
