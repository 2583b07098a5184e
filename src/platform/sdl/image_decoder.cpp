#include "platform/image_decoder.h"

#include <SDL.h>
#include <SDL_image.h>

#include <cstring>
#include <iterator>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

#include "platform/gif_decoder.h"

namespace vaxo2::platform {

namespace {

struct SurfaceDeleter {
    void operator()(SDL_Surface* s) const { SDL_FreeSurface(s); }
};
using SurfacePtr = std::unique_ptr<SDL_Surface, SurfaceDeleter>;
struct RwDeleter {
    void operator()(SDL_RWops* rw) const { SDL_RWclose(rw); }
};
using RwPtr = std::unique_ptr<SDL_RWops, RwDeleter>;

// A progressive JPEG is decoded once per scan over the whole picture: scans times pixels is
// bounded (16 scans of the largest picture, far more for ordinary ones).
constexpr int64_t kMaxJpegScanPixels = kMaxImagePixels * 16;

// The codec libraries are loaded once, before the first decode, so that decoders running on
// several threads never race on loading them. The pixel formats the decoders' surfaces use are
// held for the whole run as well: SDL shares one format object per layout among all surfaces,
// and a decode on another thread then never frees one that this decode is about to take (nor
// pays to build it again). They are kept here, so that the hold is ours to see (the leak
// checker included).
constexpr uint32_t kHeldFormats[] = {
    SDL_PIXELFORMAT_ARGB8888, SDL_PIXELFORMAT_BGRA8888, SDL_PIXELFORMAT_ABGR8888,
    SDL_PIXELFORMAT_RGBA8888, SDL_PIXELFORMAT_RGB24,    SDL_PIXELFORMAT_BGR24,
    SDL_PIXELFORMAT_RGB888,   SDL_PIXELFORMAT_BGR888,   SDL_PIXELFORMAT_INDEX8};
SDL_PixelFormat* heldFormats[std::size(kHeldFormats)] = {};

void loadImageCodecs() {
    static std::once_flag once;
    std::call_once(once, [] {
        IMG_Init(IMG_INIT_PNG | IMG_INIT_JPG);
        for (size_t i = 0; i < std::size(kHeldFormats); ++i)
            heldFormats[i] = SDL_AllocFormat(kHeldFormats[i]);
    });
}

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

// Walks a JPEG's marker segments: the size comes from the first start-of-frame, and every scan
// is counted (a progressive decoder passes over the whole picture once per scan, so a small
// file with many empty scans over a large frame costs seconds). The entropy-coded data after a
// scan header is skipped up to the next marker. False when no frame header comes before the
// first scan.
bool jpegLayout(const uint8_t* d, size_t n, int64_t& w, int64_t& h, int& scans) {
    bool sized = false;
    size_t i = 2;
    while (i + 4 <= n) {
        if (d[i] != 0xFF) {
            return sized;
        }
        const uint8_t marker = d[i + 1];
        if (marker == 0xFF) {
            ++i;
            continue;
        }
        if (marker == 0xD9) {
            break;  // end of image
        }
        if (marker == 0xD8 || marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {
            i += 2;
            continue;
        }
        const size_t segment = (size_t{d[i + 2]} << 8) | d[i + 3];
        if (segment < 2) {
            return sized;
        }
        const bool sof =
            marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (sof && !sized) {
            if (i + 9 > n) {
                return false;
            }
            h = (int64_t{d[i + 5]} << 8) | d[i + 6];
            w = (int64_t{d[i + 7]} << 8) | d[i + 8];
            sized = true;
        }
        if (marker == 0xDA) {
            if (!sized) {
                return false;  // image data before any frame header
            }
            ++scans;
            // Entropy-coded data: a 0xFF is a marker unless stuffed (0x00), a restart or fill.
            i += 2 + segment;
            while (i + 1 < n) {
                if (d[i] == 0xFF && d[i + 1] != 0x00 && d[i + 1] != 0xFF &&
                    !(d[i + 1] >= 0xD0 && d[i + 1] <= 0xD7)) {
                    break;
                }
                ++i;
            }
            continue;
        }
        i += 2 + segment;
    }
    return sized;
}

// The size a picture's header claims, read before the decoder is allowed to allocate for it.
// False when the header is incomplete or names no size.
// The size a picture's header claims, read before the decoder is allowed to allocate for it.
// False when the header is incomplete or names no size. GIFs are read by our own decoder.
bool headerSize(const uint8_t* d, size_t n, Format& format, int64_t& w, int64_t& h, int& scans) {
    static const uint8_t kPng[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    format = Format::Unknown;
    scans = 0;
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
        return jpegLayout(d, n, w, h, scans);
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
    if (isGif(d, n)) {
        format = Format::Gif;
        return true;
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
    int scans = 0;
    if (!headerSize(data, size, format, w, h, scans)) {
        return fail(out, error,
                    format == Format::Unknown ? "not a PNG, JPEG, BMP or GIF picture"
                                              : "picture header incomplete");
    }
    if (format == Format::Gif) {
        return decodeGif(data, size, out, error);
    }
    if (w <= 0 || h <= 0 || w > kMaxImageSide || h > kMaxImageSide || w * h > kMaxImagePixels) {
        return fail(out, error,
                    "picture size " + std::to_string(w) + "x" + std::to_string(h) + " refused");
    }
    if (format == Format::Jpeg && int64_t{scans} * w * h > kMaxJpegScanPixels) {
        return fail(out, error,
                    "JPEG of " + std::to_string(w) + "x" + std::to_string(h) + " with " +
                        std::to_string(scans) + " scans refused");
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
    loadImageCodecs();
    RwPtr rw(SDL_RWFromConstMem(data, static_cast<int>(size)));
    if (!rw) {
        return fail(out, error, SDL_GetError());
    }
    // The loader of the format whose header was checked above, never the library's own guess:
    // another loader would size the picture by rules we have not checked.
    SurfacePtr loaded;
    switch (format) {
        case Format::Png:
            loaded.reset(IMG_LoadPNG_RW(rw.get()));
            break;
        case Format::Jpeg:
            loaded.reset(IMG_LoadJPG_RW(rw.get()));
            break;
        case Format::Bmp:
            loaded.reset(IMG_LoadBMP_RW(rw.get()));
            break;
        default:
            break;
    }
    if (!loaded) {
        return fail(out, error, std::string("picture cannot be decoded: ") + IMG_GetError());
    }
    if (loaded->w != w || loaded->h != h) {
        return fail(out, error, "decoded size differs from the header");
    }
    try {
        out.pixels.assign(static_cast<size_t>(w * h) * 4, 0);
    } catch (const std::bad_alloc&) {
        return fail(out, error,
                    "no memory for a picture of " + std::to_string(w) + "x" + std::to_string(h));
    }
    out.width = static_cast<int32_t>(w);
    out.height = static_cast<int32_t>(h);
    // Copied straight into the result: a blit converts any layout (palettes and colour keys
    // included) without a second full-size surface. ARGB8888 is stored B, G, R, A in memory on
    // a little-endian machine; name the byte order explicitly so that it holds on any.
    const uint32_t bgraFormat =
        SDL_BYTEORDER == SDL_LIL_ENDIAN ? SDL_PIXELFORMAT_ARGB8888 : SDL_PIXELFORMAT_BGRA8888;
    SurfacePtr target(SDL_CreateRGBSurfaceWithFormatFrom(out.pixels.data(), out.width, out.height,
                                                         32, out.width * 4, bgraFormat));
    if (!target || SDL_SetSurfaceBlendMode(loaded.get(), SDL_BLENDMODE_NONE) != 0 ||
        SDL_BlitSurface(loaded.get(), nullptr, target.get(), nullptr) != 0) {
        return fail(out, error, std::string("picture cannot be converted: ") + SDL_GetError());
    }
    error.clear();
    return true;
}

}  // namespace vaxo2::platform
