#pragma once
// Decoding pictures (PNG, JPEG, BMP and GIF) from memory into 8-bit BGRA rows, top row first.
// Bytes in, a bounded pixel buffer or a reason out: no state is kept between calls, so decoders
// may run on any thread.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vaxo2::platform {

struct BgraImage {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint8_t> pixels;  // width * height * 4
};

// Largest side and pixel count accepted (32 M pixels, 128 MB of BGRA; far above any picture a
// 1280 x 720 game shows); a header that claims more is refused before any pixel memory is
// taken. A decode holds at most the library's own picture and the result at once.
constexpr int32_t kMaxImageSide = 16384;
constexpr int64_t kMaxImagePixels = int64_t{1} << 25;

// False with `error` set (and `out` emptied) for anything that is not a complete, readable
// picture within the limits. The format is decided once, from the signature, and only that
// format's decoder sees the bytes.
bool decodeImage(const uint8_t* data, size_t size, BgraImage& out, std::string& error);

}  // namespace vaxo2::platform
