// Pictures come from game data that may be damaged: a broken or hostile file must give an
// error, never a crash, an over-read or a huge allocation.
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/image_decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    vaxo2::platform::BgraImage image;
    std::string error;
    if (vaxo2::platform::decodeImage(data, size, image, error)) {
        const size_t expected = static_cast<size_t>(image.width) * image.height * 4;
        if (image.width <= 0 || image.height <= 0 || image.pixels.size() != expected ||
            image.width > vaxo2::platform::kMaxImageSide ||
            image.height > vaxo2::platform::kMaxImageSide) {
            __builtin_trap();
        }
    }
    return 0;
}
