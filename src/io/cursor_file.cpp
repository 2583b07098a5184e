#include "io/cursor_file.h"

#include <cstdlib>
#include <cstring>

#include "io/resource_loader.h"

namespace vaxo2::io {

namespace {

constexpr int kMaxCursorSide = 256;
constexpr int kPreferredSide = 32;

uint16_t u16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
uint32_t u32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

bool fail(std::string* error, const char* why) {
    if (error != nullptr) {
        *error = why;
    }
    return false;
}

struct DirEntry {
    int width;
    int height;
    int hotX;
    int hotY;
    uint32_t bytes;
    uint32_t offset;
    int bitCount;  // from the image header, for the choice
};

// Row stride of a DIB row of `width` pixels at `bpp` bits, padded to 32 bits.
uint64_t rowStride(uint64_t width, uint64_t bpp) {
    return ((width * bpp + 31) / 32) * 4;
}

bool decodeDib(const uint8_t* img, size_t size, const DirEntry& dir, CursorImage& out,
               std::string* error) {
    if (size < 40) {
        return fail(error, "image header is truncated");
    }
    uint32_t headerSize = u32(img);
    auto width = static_cast<int32_t>(u32(img + 4));
    auto doubledHeight = static_cast<int32_t>(u32(img + 8));
    uint16_t bpp = u16(img + 14);
    uint32_t compression = u32(img + 16);
    uint32_t colorsUsed = u32(img + 32);
    if (headerSize < 40 || headerSize > size) {
        return fail(error, "image header size is wrong");
    }
    // The stored height covers the colour image and the mask.
    int32_t height = doubledHeight / 2;
    if (width <= 0 || height <= 0 || width > kMaxCursorSide || height > kMaxCursorSide) {
        return fail(error, "image size is out of range");
    }
    if (compression != 0 && !(compression == 3 && bpp == 32)) {
        return fail(error, "compressed images are not supported");
    }
    if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 24 && bpp != 32) {
        return fail(error, "unsupported bit depth");
    }
    uint64_t paletteCount = 0;
    if (bpp <= 8) {
        paletteCount = colorsUsed != 0 ? colorsUsed : (1u << bpp);
        if (paletteCount > (1u << bpp)) {
            return fail(error, "palette is too large");
        }
    }
    uint64_t paletteOffset = headerSize;
    if (compression == 3) {
        paletteOffset += headerSize == 40 ? 12 : 0;  // colour masks after a short header
    }
    uint64_t pixelsOffset = paletteOffset + paletteCount * 4;
    uint64_t colorStride = rowStride(width, bpp);
    uint64_t maskStride = rowStride(width, 1);
    uint64_t colorBytes = colorStride * height;
    uint64_t maskBytes = maskStride * height;
    if (pixelsOffset + colorBytes > size) {
        return fail(error, "image data is truncated");
    }
    // Some writers leave the mask out of 32-bit images; alpha then carries the shape.
    bool haveMask = pixelsOffset + colorBytes + maskBytes <= size;
    if (!haveMask && bpp != 32) {
        return fail(error, "mask is truncated");
    }
    const uint8_t* palette = img + paletteOffset;
    const uint8_t* pixels = img + pixelsOffset;
    const uint8_t* mask = haveMask ? pixels + colorBytes : nullptr;

    out.width = width;
    out.height = height;
    out.hotspotX = dir.hotX < width ? dir.hotX : width - 1;
    out.hotspotY = dir.hotY < height ? dir.hotY : height - 1;
    out.bgra.assign(static_cast<size_t>(width) * height * 4, 0);
    bool anyAlpha = false;
    if (bpp == 32) {
        for (int32_t y = 0; y < height && !anyAlpha; ++y) {
            const uint8_t* row = pixels + colorStride * y;
            for (int32_t x = 0; x < width; ++x) {
                if (row[x * 4 + 3] != 0) {
                    anyAlpha = true;
                    break;
                }
            }
        }
    }
    for (int32_t y = 0; y < height; ++y) {
        // Rows are stored bottom-up.
        const uint8_t* row = pixels + colorStride * (height - 1 - y);
        const uint8_t* maskRow = mask != nullptr ? mask + maskStride * (height - 1 - y) : nullptr;
        uint8_t* dst = out.bgra.data() + static_cast<size_t>(y) * width * 4;
        for (int32_t x = 0; x < width; ++x) {
            uint8_t b = 0, g = 0, r = 0, a = 255;
            if (bpp == 32) {
                b = row[x * 4], g = row[x * 4 + 1], r = row[x * 4 + 2];
                a = anyAlpha ? row[x * 4 + 3] : 255;
            } else if (bpp == 24) {
                b = row[x * 3], g = row[x * 3 + 1], r = row[x * 3 + 2];
            } else {
                uint32_t index = 0;
                if (bpp == 8) {
                    index = row[x];
                } else if (bpp == 4) {
                    index = (row[x / 2] >> ((x % 2) ? 0 : 4)) & 0x0F;
                } else {
                    index = (row[x / 8] >> (7 - x % 8)) & 1;
                }
                if (index < paletteCount) {
                    b = palette[index * 4], g = palette[index * 4 + 1], r = palette[index * 4 + 2];
                }
            }
            if (!anyAlpha && maskRow != nullptr && ((maskRow[x / 8] >> (7 - x % 8)) & 1)) {
                // Transparent where the AND mask is set. (Screen inversion where the colour is
                // also set cannot be shown by a colour cursor; it is left transparent.)
                a = 0;
            }
            dst[x * 4] = b;
            dst[x * 4 + 1] = g;
            dst[x * 4 + 2] = r;
            dst[x * 4 + 3] = a;
        }
    }
    return true;
}

}  // namespace

bool parseCursor(const uint8_t* data, size_t size, CursorImage& out, std::string* error) {
    out = CursorImage{};
    if (data == nullptr || size < 6) {
        return fail(error, "too short for a cursor");
    }
    uint16_t reserved = u16(data);
    uint16_t type = u16(data + 2);
    uint16_t count = u16(data + 4);
    if (reserved != 0 || (type != 1 && type != 2)) {
        return fail(error, "not a cursor or icon file");
    }
    if (count == 0) {
        return fail(error, "no images");
    }
    if (6 + size_t{count} * 16 > size) {
        return fail(error, "image directory is truncated");
    }
    int best = -1;
    DirEntry chosen{};
    long bestScore = 0;
    bool sawPng = false;
    for (int i = 0; i < count; ++i) {
        const uint8_t* e = data + 6 + i * 16;
        DirEntry d{};
        d.width = e[0] == 0 ? 256 : e[0];
        d.height = e[1] == 0 ? 256 : e[1];
        d.hotX = type == 2 ? u16(e + 4) : 0;
        d.hotY = type == 2 ? u16(e + 6) : 0;
        d.bytes = u32(e + 8);
        d.offset = u32(e + 12);
        if (d.offset >= size || d.bytes > size - d.offset || d.bytes < 8) {
            continue;
        }
        const uint8_t* img = data + d.offset;
        if (std::memcmp(img, "\x89PNG", 4) == 0) {
            sawPng = true;
            continue;
        }
        d.bitCount = d.bytes >= 16 ? u16(img + 14) : 0;
        long score = std::labs(d.width - kPreferredSide) * 1000 - d.bitCount;
        if (best < 0 || score < bestScore) {
            best = i;
            bestScore = score;
            chosen = d;
        }
    }
    if (best < 0) {
        return fail(error, sawPng ? "PNG images inside cursors are not supported"
                                  : "no image lies inside the file");
    }
    return decodeDib(data + chosen.offset, chosen.bytes, chosen, out, error);
}

bool loadCursorImage(const std::string& resourceName, CursorImage& out, std::string* error) {
    std::vector<uint8_t> data;
    if (!loadResource(resourceName, data, false)) {
        out = CursorImage{};
        return fail(error, "cursor data not found");
    }
    return parseCursor(data.data(), data.size(), out, error);
}

}  // namespace vaxo2::io
