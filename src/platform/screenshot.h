#pragma once
#include <cstdint>
#include <string>

namespace vaxo2::platform {
// Writes RGBA rows (top row first) as a PNG file. False with `error` set on failure.
bool writePng(const std::string& path, const uint8_t* rgba, int width, int height,
              std::string& error);
}  // namespace vaxo2::platform
