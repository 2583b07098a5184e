#pragma once
// Movie decoding from memory (FFmpeg): the file image of a .mpg, .wmv or .avi movie is demuxed
// through an I/O context over the bytes (never a file path); its first picture stream is decoded
// into BGRA pictures and its first sound stream into signed 16-bit PCM.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vaxo2::platform {

struct MovieInfo {
    int32_t width = 0;
    int32_t height = 0;
    // Nominal time of one picture (from the stream's frame rate), 0 when unknown.
    int64_t frameDurationUs = 0;
    // Length the container declares, -1 when unknown.
    int64_t durationUs = -1;
    bool hasAudio = false;
    uint32_t audioRate = 0;      // Hz, as the stream has it
    uint32_t audioChannels = 0;  // 1 or 2: what decode() delivers (more are mixed down to two)
};

// Largest picture accepted; a stream that claims more is refused before any picture memory.
constexpr int32_t kMaxMovieSide = 4096;
constexpr int64_t kMaxMoviePixels = int64_t{1} << 23;  // 4096 x 2048: 32 MB of BGRA

enum class MovieOutput {
    Picture,  // `picture` begins with width * height * 4 bytes of BGRA, top row first, alpha
              // 255 (a few bytes of slack may follow)
    Audio,    // `samples` holds whole interleaved frames of audioChannels channels
    Nothing,  // a packet went in and nothing came out yet: call again
    End,      // nothing more will come (the end of the data, or the data broke off)
};

class MovieDecoder {
  public:
    virtual ~MovieDecoder() = default;

    // Opens the movie in `bytes` (kept alive by the decoder). Null with `error` set when the
    // bytes are no movie the decoder plays (an unknown container or codec, no picture stream, a
    // picture size outside the limits).
    static std::unique_ptr<MovieDecoder> open(std::shared_ptr<const std::vector<uint8_t>> bytes,
                                              std::string& error);
    // The decoder is a module loaded on first use (a hundred-odd libraries: tens of ms). This
    // loads it now, so that the thread that opens the first movie does not pay for it. Any
    // thread, any number of times.
    static void prepare();

    virtual const MovieInfo& info() const = 0;

    // Decodes until one picture or one piece of sound comes out. `timeUs` is its time from the
    // start of the movie (the earliest stream start is 0). Buffers are reused across calls.
    virtual MovieOutput decode(std::vector<uint8_t>& picture, std::vector<int16_t>& samples,
                               int64_t& timeUs) = 0;

    // Goes to the key picture at or before `timeUs` (the start for 0 or less); the next outputs
    // begin there. False when the movie cannot be positioned; it then starts over from the
    // beginning.
    virtual bool seek(int64_t timeUs) = 0;
};

}  // namespace vaxo2::platform
