#pragma once
// Ogg Vorbis decoding from memory (libvorbisfile), one stream per object.
#include <cstddef>
#include <cstdint>
#include <memory>

namespace vaxo2::platform {

class OggDecoder {
  public:
    virtual ~OggDecoder() = default;

    // Opens a decoder over `size` bytes at `data`, which must stay valid and unchanged for the
    // decoder's lifetime (they are not copied). Null when the bytes are not an Ogg Vorbis stream.
    static std::unique_ptr<OggDecoder> open(const uint8_t* data, size_t size);

    virtual int channels() const = 0;
    virtual int32_t rate() const = 0;
    // Seconds of the whole stream as the stream declares it; a negative value when unknown.
    virtual double timeTotal() const = 0;
    // Decodes up to `bytes` bytes of little-endian signed 16-bit interleaved PCM. Returns the
    // bytes written, 0 at the end of the stream, a negative value on a decoding error (a hole or
    // a damaged packet; decoding may go on after it).
    virtual long read(uint8_t* buffer, int bytes) = 0;
    // Back to the first sample. False when the stream cannot seek.
    virtual bool rewind() = 0;
};

}  // namespace vaxo2::platform
