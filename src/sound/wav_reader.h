#pragma once
// RIFF/WAVE files read from memory with the rules of the multimedia I/O functions the games
// were made for: the RIFF chunk of form "WAVE" is found among the top-level chunks, the form's
// first chunk must be "fmt " and is read as an 18-byte WAVEFORMATEX (a 16-byte chunk is fine:
// the read runs into the next chunk header and only the format tag is checked), the format must
// be PCM, and the "data" chunk is searched after it and must be complete. Every offset is
// checked against the image: nothing is read outside it, whatever the headers claim.
#include <cstddef>
#include <cstdint>
#include <optional>

#include "sound/wave_format.h"

namespace vaxo2::sound {

struct WavData {
    WaveFormat format;
    size_t pcmOffset = 0;  // into the image
    size_t pcmSize = 0;
};

// Nothing when the image is not an acceptable PCM WAV file.
std::optional<WavData> parseWav(const uint8_t* image, size_t size);

}  // namespace vaxo2::sound
