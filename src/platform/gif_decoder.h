#pragma once
// Our own GIF reader: the first frame of a GIF, placed on its logical screen, as BGRA. Game data
// is untrusted and the image library's GIF loader has crashed on damaged block structure, so
// GIFs never reach it. Every length, code and size is checked against the bytes and the limits
// before it is used; nothing here keeps state between calls, so any thread may call it.
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/image_decoder.h"

namespace vaxo2::platform {

// True when the bytes start with a GIF signature.
bool isGif(const uint8_t* data, size_t size);

// Decodes the first frame. Pixels the frame does not cover, pixels of its transparent colour
// and colour indices beyond its palette are transparent black. A frame whose data stops early
// shows what was decoded. False with `error` set (and `out` emptied) for a damaged or
// truncated block structure, a damaged code stream, or a screen or frame size beyond
// kMaxImageSide / kMaxImagePixels (refused before any pixel memory is taken).
bool decodeGif(const uint8_t* data, size_t size, BgraImage& out, std::string& error);

}  // namespace vaxo2::platform
