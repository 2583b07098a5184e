// Movies come from game data that may be damaged: the demuxer and decoders behind the movie
// decoder must refuse or end a broken or hostile file, never crash, over-read or hand out a
// picture or sound of the wrong size. Short inputs keep each run quick; the seeds are tiny clips
// of every format.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/movie_decoder.h"

namespace {

void check(bool ok) {
    if (!ok) __builtin_trap();
}

void decodeSome(vaxo2::platform::MovieDecoder& decoder, int steps) {
    using vaxo2::platform::MovieOutput;
    const vaxo2::platform::MovieInfo& info = decoder.info();
    std::vector<uint8_t> picture;
    std::vector<int16_t> samples;
    for (int i = 0; i < steps; ++i) {
        int64_t t = 0;
        const MovieOutput out = decoder.decode(picture, samples, t);
        if (out == MovieOutput::End) return;
        if (out == MovieOutput::Picture) {
            check(picture.size() >= static_cast<size_t>(info.width) * info.height * 4);
        } else if (out == MovieOutput::Audio) {
            check(info.hasAudio && !samples.empty() && samples.size() % info.audioChannels == 0);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 16384) return 0;
    auto bytes = std::make_shared<const std::vector<uint8_t>>(data, data + size);
    std::string error;
    auto decoder = vaxo2::platform::MovieDecoder::open(bytes, error);
    if (!decoder) {
        check(!error.empty());
        return 0;
    }
    const vaxo2::platform::MovieInfo& info = decoder->info();
    check(info.width > 0 && info.height > 0 && info.width <= vaxo2::platform::kMaxMovieSide &&
          info.height <= vaxo2::platform::kMaxMovieSide);
    check(!info.hasAudio || info.audioChannels == 1 || info.audioChannels == 2);
    decodeSome(*decoder, 64);
    decoder->seek(size > 0 ? data[0] * 10000 : 0);
    decodeSome(*decoder, 32);
    decoder->seek(0);
    decodeSome(*decoder, 32);
    return 0;
}
