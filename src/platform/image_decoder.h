#pragma once
// Decoding pictures (PNG, JPEG, BMP and what else the image library reads) from memory into
// 8-bit BGRA rows, top row first.
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

// Largest side and pixel count accepted; a header that claims more is refused before any
// pixel memory is taken.
constexpr int32_t kMaxImageSide = 16384;
constexpr int64_t kMaxImagePixels = int64_t{1} << 26;

// False with `error` set (and `out` emptied) for anything that is not a complete, readable
// picture within the limits.
bool decodeImage(const uint8_t* data, size_t size, BgraImage& out, std::string& error);

}  // namespace vaxo2::platform
