#include "platform/image_decoder.h"

#include <SDL.h>
#include <SDL_image.h>

#include <cstring>
#include <memory>
#include <vector>

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
        // The decoder allocates for the first frame's own size, not the screen size: walk the
        // colour table and extension blocks to that frame's descriptor.
        if (n < 13) {
            return false;
        }
        size_t i = 13;
        if (d[10] & 0x80) {
            i += size_t{3} << ((d[10] & 7) + 1);
        }
        while (i < n) {
            if (d[i] == 0x2C) {
                if (i + 9 > n) {
                    return false;
                }
                w = le16(d + i + 5);
                h = le16(d + i + 7);
                return true;
            }
            if (d[i] != 0x21 || i + 2 > n) {
                return false;  // the trailer, or damage, before any frame
            }
            i += 2;
            while (i < n && d[i] != 0) {
                i += size_t{d[i]} + 1;
            }
            ++i;
        }
        return false;
    }
    return false;
}

enum class PngLayout { Complete, MissingEnd, Truncated };

// Walks a PNG's chunks. The decoder must never read past the end of the data: the image
// library then keeps re-reading a stale chunk header and never returns. A file whose last
// chunk is whole but which lacks the closing IEND (a common truncation) still holds its
// pixels; `usable` is then the length up to the last whole chunk.
PngLayout pngLayout(const uint8_t* d, size_t n, size_t& usable) {
    size_t pos = 8;
    bool sawImageData = false;
    while (n - pos >= 12) {
        const uint32_t length = be32(d + pos);
        if (length > 0x7FFFFFFFu || length > n - pos - 12) return PngLayout::Truncated;
        const uint8_t* type = d + pos + 4;
        pos += 12 + size_t{length};
        if (std::memcmp(type, "IEND", 4) == 0) {
            usable = pos;
            return PngLayout::Complete;
        }
        if (std::memcmp(type, "IDAT", 4) == 0) sawImageData = true;
    }
    usable = pos;
    return sawImageData ? PngLayout::MissingEnd : PngLayout::Truncated;
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
    std::vector<uint8_t> mended;
    if (format == Format::Png) {
        size_t usable = 0;
        switch (pngLayout(data, size, usable)) {
            case PngLayout::Complete:
                size = usable;
                break;
            case PngLayout::MissingEnd: {
                static const uint8_t kEnd[12] = {0,   0,   0,    0,    'I',  'E',
                                                 'N', 'D', 0xAE, 0x42, 0x60, 0x82};
                mended.assign(data, data + usable);
                mended.insert(mended.end(), kEnd, kEnd + sizeof kEnd);
                data = mended.data();
                size = mended.size();
                break;
            }
            case PngLayout::Truncated:
                return fail(out, error, "picture file truncated or its chunks are damaged");
        }
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
