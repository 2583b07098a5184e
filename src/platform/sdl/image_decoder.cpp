#include "platform/image_decoder.h"

#include <SDL.h>
#include <SDL_image.h>

#include <cstring>
#include <memory>

namespace vaxo2::platform {

namespace {

struct SurfaceDeleter {
    void operator()(SDL_Surface* s) const { SDL_FreeSurface(s); }
};
using SurfacePtr = std::unique_ptr<SDL_Surface, SurfaceDeleter>;

uint32_t be32(const uint8_t* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}
uint32_t le32(const uint8_t* p) {
    return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}
uint16_t le16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

enum class Format { Unknown, Png, Jpeg, Bmp, Gif };

// The size a picture's header claims, read before the decoder is allowed to allocate for it.
// False when the header is incomplete or names no size.
bool headerSize(const uint8_t* d, size_t n, Format& format, int64_t& w, int64_t& h) {
    static const uint8_t kPng[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    format = Format::Unknown;
    if (n >= 8 && std::memcmp(d, kPng, 8) == 0) {
        format = Format::Png;
        if (n < 24 || std::memcmp(d + 12, "IHDR", 4) != 0) {
            return false;
        }
        w = be32(d + 16);
        h = be32(d + 20);
        return true;
    }
    if (n >= 3 && d[0] == 0xFF && d[1] == 0xD8 && d[2] == 0xFF) {
        format = Format::Jpeg;
        // Walk the marker segments up to the first start-of-frame.
        size_t i = 2;
        while (i + 4 <= n) {
            if (d[i] != 0xFF) {
                return false;
            }
            const uint8_t marker = d[i + 1];
            if (marker == 0xFF) {
                ++i;
                continue;
            }
            if (marker == 0xD8 || marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {
                i += 2;
                continue;
            }
            const size_t segment = (size_t{d[i + 2]} << 8) | d[i + 3];
            if (segment < 2) {
                return false;
            }
            const bool sof = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 &&
                             marker != 0xCC;
            if (sof) {
                if (i + 9 > n) {
                    return false;
                }
                h = (int64_t{d[i + 5]} << 8) | d[i + 6];
                w = (int64_t{d[i + 7]} << 8) | d[i + 8];
                return true;
            }
            if (marker == 0xDA || marker == 0xD9) {
                return false;  // image data before any frame header
            }
            i += 2 + segment;
        }
        return false;
    }
    if (n >= 2 && d[0] == 'B' && d[1] == 'M') {
        format = Format::Bmp;
        if (n < 26) {
            return false;
        }
        const uint32_t infoSize = le32(d + 14);
        if (infoSize == 12) {
            w = le16(d + 18);
            h = le16(d + 20);
        } else {
            w = static_cast<int32_t>(le32(d + 18));
            h = static_cast<int32_t>(le32(d + 22));
            if (h < 0) {
                h = -h;  // top-down rows
            }
        }
        return true;
    }
    if (n >= 6 && (std::memcmp(d, "GIF87a", 6) == 0 || std::memcmp(d, "GIF89a", 6) == 0)) {
        format = Format::Gif;
        if (n < 10) {
            return false;
        }
        w = le16(d + 6);
        h = le16(d + 8);
        return true;
    }
    return false;
}

bool fail(BgraImage& out, std::string& error, std::string message) {
    out = BgraImage{};
    error = std::move(message);
    return false;
}

}  // namespace

bool decodeImage(const uint8_t* data, size_t size, BgraImage& out, std::string& error) {
    if (data == nullptr || size == 0) {
        return fail(out, error, "empty picture file");
    }
    if (size > static_cast<size_t>(INT32_MAX)) {
        return fail(out, error, "picture file too large");
    }
    Format format = Format::Unknown;
    int64_t w = 0, h = 0;
    if (!headerSize(data, size, format, w, h)) {
        return fail(out, error,
                    format == Format::Unknown ? "not a PNG, JPEG, BMP or GIF picture"
                                              : "picture header incomplete");
    }
    if (w <= 0 || h <= 0 || w > kMaxImageSide || h > kMaxImageSide || w * h > kMaxImagePixels) {
        return fail(out, error,
                    "picture size " + std::to_string(w) + "x" + std::to_string(h) + " refused");
    }
    SDL_RWops* rw = SDL_RWFromConstMem(data, static_cast<int>(size));
    if (rw == nullptr) {
        return fail(out, error, SDL_GetError());
    }
    SurfacePtr loaded(IMG_Load_RW(rw, /*freesrc=*/1));
    if (!loaded) {
        return fail(out, error, std::string("picture cannot be decoded: ") + IMG_GetError());
    }
    if (loaded->w != w || loaded->h != h) {
        return fail(out, error, "decoded size differs from the header");
    }
    // ARGB8888 is stored B, G, R, A in memory on a little-endian machine; name the byte order
    // explicitly so that it holds on any.
    const uint32_t bgraFormat =
        SDL_BYTEORDER == SDL_LIL_ENDIAN ? SDL_PIXELFORMAT_ARGB8888 : SDL_PIXELFORMAT_BGRA8888;
    SurfacePtr converted(SDL_ConvertSurfaceFormat(loaded.get(), bgraFormat, 0));
    if (!converted) {
        return fail(out, error, std::string("picture cannot be converted: ") + SDL_GetError());
    }
    loaded.reset();
    if (SDL_MUSTLOCK(converted.get()) && SDL_LockSurface(converted.get()) != 0) {
        return fail(out, error, SDL_GetError());
    }
    out.width = converted->w;
    out.height = converted->h;
    const size_t rowBytes = static_cast<size_t>(out.width) * 4;
    out.pixels.resize(rowBytes * static_cast<size_t>(out.height));
    const auto* src = static_cast<const uint8_t*>(converted->pixels);
    for (int32_t y = 0; y < out.height; ++y) {
        std::memcpy(out.pixels.data() + rowBytes * static_cast<size_t>(y),
                    src + static_cast<size_t>(converted->pitch) * static_cast<size_t>(y), rowBytes);
    }
    if (SDL_MUSTLOCK(converted.get())) {
        SDL_UnlockSurface(converted.get());
    }
    error.clear();
    return true;
}

}  // namespace vaxo2::platform
