#pragma once
// Cursor data (.cur / .ico containers with BMP images) decoded from memory into a BGRA image
// and a hotspot, ready for the platform to turn into a colour cursor.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vaxo2::io {

struct CursorImage {
    int width = 0;
    int height = 0;
    int hotspotX = 0;
    int hotspotY = 0;
    std::vector<uint8_t> bgra;  // width * height * 4, top row first, straight alpha
};

// Picks the image closest to 32 x 32 (then the deepest colour) and decodes it. False, with a
// reason in `error` when given, for anything that is not a readable cursor; images stored as
// PNG inside the container are reported as unsupported.
bool parseCursor(const uint8_t* data, size_t size, CursorImage& out, std::string* error = nullptr);

// Loads the named resource (no error dialog) and parses it. False when missing or broken: the
// caller keeps the arrow cursor.
bool loadCursorImage(const std::string& resourceName, CursorImage& out,
                     std::string* error = nullptr);

}  // namespace vaxo2::io
