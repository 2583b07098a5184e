#include "platform/gif_decoder.h"

#include <array>
#include <cstring>
#include <new>
#include <vector>

namespace vaxo2::platform {
namespace {

constexpr int kMaxCodeBits = 12;
constexpr int kTableSize = 1 << kMaxCodeBits;

uint16_t le16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

bool fail(BgraImage& out, std::string& error, std::string message) {
    out = BgraImage{};
    error = std::move(message);
    return false;
}

bool withinLimits(int64_t w, int64_t h) {
    return w > 0 && h > 0 && w <= kMaxImageSide && h <= kMaxImageSide && w * h <= kMaxImagePixels;
}

std::string sizeText(int64_t w, int64_t h) {
    return std::to_string(w) + "x" + std::to_string(h);
}

// Walks a chain of data sub-blocks starting at `pos` (each a length byte and that many bytes,
// ended by a zero length), appending the data to `payload` when one is given. False when the
// chain runs past the end of the file; otherwise `pos` ends after the terminator.
bool readSubBlocks(const uint8_t* d, size_t n, size_t& pos, std::vector<uint8_t>* payload) {
    for (;;) {
        if (pos >= n) return false;
        const size_t length = d[pos++];
        if (length == 0) return true;
        if (length > n - pos) return false;
        if (payload) payload->insert(payload->end(), d + pos, d + pos + length);
        pos += length;
    }
}

struct Palette {
    const uint8_t* rgb = nullptr;
    int count = 0;
};

// Puts the frame's pixels, in stream order, onto the canvas.
class FrameWriter {
  public:
    FrameWriter(BgraImage& canvas, Palette palette, int transparent, int32_t left, int32_t top,
                int32_t width, int32_t height, bool interlaced)
        : canvas_(canvas),
          palette_(palette),
          transparent_(transparent),
          left_(left),
          top_(top),
          width_(width),
          height_(height) {
        if (interlaced) {
            // Rows 0, 8, 16, ...; then 4, 12, ...; then 2, 6, ...; then 1, 3, ...
            static constexpr int kStart[4] = {0, 4, 2, 1};
            static constexpr int kStep[4] = {8, 8, 4, 2};
            rowOrder_.reserve(static_cast<size_t>(height));
            for (int pass = 0; pass < 4; ++pass)
                for (int32_t y = kStart[pass]; y < height; y += kStep[pass])
                    rowOrder_.push_back(y);
        }
    }

    bool full() const { return streamRow_ >= height_; }

    void put(uint8_t index) {
        if (full()) return;
        const int32_t row =
            rowOrder_.empty() ? streamRow_ : rowOrder_[static_cast<size_t>(streamRow_)];
        const int64_t x = int64_t{left_} + column_;
        const int64_t y = int64_t{top_} + row;
        if (x < canvas_.width && y < canvas_.height && index != transparent_ &&
            index < palette_.count) {
            uint8_t* p = canvas_.pixels.data() + (static_cast<size_t>(y) * canvas_.width + x) * 4;
            const uint8_t* c = palette_.rgb + size_t{index} * 3;
            p[0] = c[2];
            p[1] = c[1];
            p[2] = c[0];
            p[3] = 0xFF;
        }
        if (++column_ == width_) {
            column_ = 0;
            ++streamRow_;
        }
    }

  private:
    BgraImage& canvas_;
    Palette palette_;
    int transparent_;
    int32_t left_, top_, width_, height_;
    std::vector<int32_t> rowOrder_;
    int32_t column_ = 0;
    int32_t streamRow_ = 0;
};

// Expands the code stream into the writer. Stops at the end code, when the frame is full or when
// the data runs out; false for a code the table cannot hold (a damaged stream).
bool expandCodes(const std::vector<uint8_t>& data, int minimumCodeSize, FrameWriter& writer) {
    const int clear = 1 << minimumCodeSize;
    const int end = clear + 1;
    std::array<uint16_t, kTableSize> prefix{};
    std::array<uint8_t, kTableSize> suffix{};
    std::array<uint8_t, kTableSize> first{};
    std::array<uint8_t, kTableSize> stack{};
    for (int i = 0; i < clear; ++i) {
        suffix[static_cast<size_t>(i)] = static_cast<uint8_t>(i);
        first[static_cast<size_t>(i)] = static_cast<uint8_t>(i);
    }
    int next = clear + 2;
    int width = minimumCodeSize + 1;
    int previous = -1;
    uint32_t bits = 0;
    int bitCount = 0;
    size_t pos = 0;

    // Emits the string of `code` (a literal or a table entry below `next`). Each entry's
    // prefix is an earlier entry, so the chain is at most kTableSize long.
    auto emit = [&](int entry) {
        size_t depth = 0;
        while (entry >= clear) {
            stack[depth++] = suffix[static_cast<size_t>(entry)];
            entry = prefix[static_cast<size_t>(entry)];
        }
        stack[depth++] = static_cast<uint8_t>(entry);
        while (depth > 0 && !writer.full())
            writer.put(stack[--depth]);
    };

    while (!writer.full()) {
        while (bitCount < width) {
            if (pos >= data.size()) return true;  // short data: show what was decoded
            bits |= uint32_t{data[pos++]} << bitCount;
            bitCount += 8;
        }
        const int code = static_cast<int>(bits & ((1u << width) - 1));
        bits >>= width;
        bitCount -= width;

        if (code == clear) {
            next = clear + 2;
            width = minimumCodeSize + 1;
            previous = -1;
            continue;
        }
        if (code == end) return true;
        if (previous < 0) {
            if (code > clear) return false;  // the first code after a clear must be a literal
            emit(code);
            previous = code;
            continue;
        }
        uint8_t head;
        if (code < next) {
            head = first[static_cast<size_t>(code)];
            emit(code);
        } else if (code == next && next < kTableSize) {
            head = first[static_cast<size_t>(previous)];
            emit(previous);
            if (!writer.full()) writer.put(head);
        } else {
            return false;
        }
        if (next < kTableSize) {
            prefix[static_cast<size_t>(next)] = static_cast<uint16_t>(previous);
            suffix[static_cast<size_t>(next)] = head;
            first[static_cast<size_t>(next)] = first[static_cast<size_t>(previous)];
            ++next;
            if (next == (1 << width) && width < kMaxCodeBits) ++width;
        }
        previous = code;
    }
    return true;
}

}  // namespace

bool isGif(const uint8_t* data, size_t size) {
    return data != nullptr && size >= 6 &&
           (std::memcmp(data, "GIF87a", 6) == 0 || std::memcmp(data, "GIF89a", 6) == 0);
}

bool decodeGif(const uint8_t* d, size_t n, BgraImage& out, std::string& error) {
    if (!isGif(d, n)) return fail(out, error, "not a GIF picture");
    if (n < 13) return fail(out, error, "GIF truncated in its header");
    const int32_t screenWidth = le16(d + 6);
    const int32_t screenHeight = le16(d + 8);
    size_t pos = 13;
    Palette global;
    if (d[10] & 0x80) {
        global.count = 1 << ((d[10] & 7) + 1);
        const size_t bytes = size_t(global.count) * 3;
        if (bytes > n - pos) return fail(out, error, "GIF truncated in its colour table");
        global.rgb = d + pos;
        pos += bytes;
    }

    int transparent = -1;  // from the graphic control extension in front of the frame
    for (;;) {
        if (pos >= n) return fail(out, error, "GIF truncated before its first frame");
        const uint8_t introducer = d[pos];
        if (introducer == 0x3B) return fail(out, error, "GIF holds no frame");
        if (introducer == 0x21) {
            if (n - pos < 2) return fail(out, error, "GIF truncated in an extension");
            const uint8_t label = d[pos + 1];
            pos += 2;
            if (label == 0xF9 && pos < n && d[pos] == 4 && n - pos >= 6)
                transparent = (d[pos + 1] & 1) ? d[pos + 4] : -1;
            if (!readSubBlocks(d, n, pos, nullptr))
                return fail(out, error, "GIF truncated in an extension");
            continue;
        }
        if (introducer != 0x2C) return fail(out, error, "GIF block structure damaged");
        break;
    }

    // The first frame's descriptor.
    if (n - pos < 10) return fail(out, error, "GIF truncated in a frame descriptor");
    const int32_t left = le16(d + pos + 1);
    const int32_t top = le16(d + pos + 3);
    const int32_t frameWidth = le16(d + pos + 5);
    const int32_t frameHeight = le16(d + pos + 7);
    const uint8_t flags = d[pos + 9];
    pos += 10;
    Palette palette = global;
    if (flags & 0x80) {
        palette.count = 1 << ((flags & 7) + 1);
        const size_t bytes = size_t(palette.count) * 3;
        if (bytes > n - pos) return fail(out, error, "GIF truncated in a colour table");
        palette.rgb = d + pos;
        pos += bytes;
    }
    if (!withinLimits(frameWidth, frameHeight))
        return fail(out, error, "GIF frame size " + sizeText(frameWidth, frameHeight) + " refused");
    // A screen of no size takes the frame's extent.
    int64_t width = screenWidth, height = screenHeight;
    if (width == 0 || height == 0) {
        width = int64_t{left} + frameWidth;
        height = int64_t{top} + frameHeight;
    }
    if (!withinLimits(width, height))
        return fail(out, error, "picture size " + sizeText(width, height) + " refused");
    if (palette.rgb == nullptr) return fail(out, error, "GIF frame has no colour table");
    if (pos >= n) return fail(out, error, "GIF truncated before its image data");
    const int minimumCodeSize = d[pos++];
    if (minimumCodeSize < 1 || minimumCodeSize > 8)
        return fail(out, error,
                    "GIF code size " + std::to_string(minimumCodeSize) + " is not valid");
    std::vector<uint8_t> codes;
    if (!readSubBlocks(d, n, pos, &codes))
        return fail(out, error, "GIF truncated in its image data");

    try {
        out.width = static_cast<int32_t>(width);
        out.height = static_cast<int32_t>(height);
        out.pixels.assign(static_cast<size_t>(width * height) * 4, 0);
    } catch (const std::bad_alloc&) {
        return fail(out, error, "no memory for a picture of " + sizeText(width, height));
    }
    FrameWriter writer(out, palette, transparent, left, top, frameWidth, frameHeight,
                       (flags & 0x40) != 0);
    if (!expandCodes(codes, minimumCodeSize, writer))
        return fail(out, error, "GIF image data damaged");
    error.clear();
    return true;
}

}  // namespace vaxo2::platform
