#pragma once
// One sound file turned into 16-bit (or 8-bit) PCM for the sound buffers: a RIFF/WAVE file with
// PCM data, or an Ogg Vorbis file, told apart by their first bytes. The file is read whole on
// first use (packs first, then the loose file). A source delivers its whole PCM at once (static
// buffers) or piece by piece (streams), and can be rewound.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sound/wave_format.h"

namespace vaxo2::platform {
class OggDecoder;
}

namespace vaxo2::sound {

class SoundSource {
  public:
    // The most PCM a whole Ogg sound is decoded into (streams have no limit). A file whose
    // decoded size would pass it is not played from a static buffer.
    static constexpr size_t kMaxWholeBytes = 0x0FFFFFFF;

    explicit SoundSource(std::string name = {});
    ~SoundSource();
    SoundSource(const SoundSource&) = delete;
    SoundSource& operator=(const SoundSource&) = delete;

    const std::string& name() const { return name_; }
    // A different name forgets the file, its PCM and its format.
    void setName(std::string name);
    // Uses `image` as the file's bytes instead of reading it (tests, fuzzing).
    void setImage(std::vector<uint8_t> image);

    // The decoded format; all zero when the file cannot be read or understood.
    const WaveFormat& format();
    // The whole PCM (an Ogg file is decoded completely). False when there is none.
    bool wholePcm(const uint8_t*& data, size_t& size);
    // Up to `n` bytes of PCM from the read position: the bytes delivered, 0 at the end of the
    // data or for a file that is not understood, a negative value for a decoding error with
    // nothing delivered.
    long read(uint8_t* buffer, size_t n);
    void rewind();
    // PCM bytes of the whole sound without decoding it: the data chunk, or the length an Ogg
    // stream declares.
    uint64_t totalBytes();
    // Closes the decoder.
    void release();

  private:
    void load();
    void prepare();
    long oggRead(uint8_t* buffer, size_t n);

    std::string name_;
    std::vector<uint8_t> image_;
    bool loadTried_ = false;
    WaveFormat format_;
    bool prepared_ = false;
    // WAV: the data chunk inside image_ (referenced, not copied).
    size_t pcmOffset_ = 0;
    size_t pcmSize_ = 0;
    size_t readPosition_ = 0;
    bool isWav_ = false;
    // Ogg.
    std::unique_ptr<platform::OggDecoder> decoder_;
    std::vector<uint8_t> oggPcm_;  // filled only when the whole sound is asked for
    bool oggWhole_ = false;
    uint64_t expectedBytes_ = 0;
};

}  // namespace vaxo2::sound
