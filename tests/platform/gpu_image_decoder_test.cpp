// Picture decoding into BGRA: the formats the game data uses, their orientation, and refusal of
// broken, truncated and oversized input.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "platform/image_decoder.h"
#include "platform/screenshot.h"

namespace vaxo2::platform {
namespace {

// 16x8 JPEG: left half red, right half blue.
const uint8_t kJpeg[] = {
    0xff, 0xd8, 0xff, 0xe0, 0x00, 0x10, 0x4a, 0x46, 0x49, 0x46, 0x00, 0x01, 0x01, 0x00, 0x00, 0x01,
    0x00, 0x01, 0x00, 0x00, 0xff, 0xdb, 0x00, 0x43, 0x00, 0x02, 0x01, 0x01, 0x01, 0x01, 0x01, 0x02,
    0x01, 0x01, 0x01, 0x02, 0x02, 0x02, 0x02, 0x02, 0x04, 0x03, 0x02, 0x02, 0x02, 0x02, 0x05, 0x04,
    0x04, 0x03, 0x04, 0x06, 0x05, 0x06, 0x06, 0x06, 0x05, 0x06, 0x06, 0x06, 0x07, 0x09, 0x08, 0x06,
    0x07, 0x09, 0x07, 0x06, 0x06, 0x08, 0x0b, 0x08, 0x09, 0x0a, 0x0a, 0x0a, 0x0a, 0x0a, 0x06, 0x08,
    0x0b, 0x0c, 0x0b, 0x0a, 0x0c, 0x09, 0x0a, 0x0a, 0x0a, 0xff, 0xdb, 0x00, 0x43, 0x01, 0x02, 0x02,
    0x02, 0x02, 0x02, 0x02, 0x05, 0x03, 0x03, 0x05, 0x0a, 0x07, 0x06, 0x07, 0x0a, 0x0a, 0x0a, 0x0a,
    0x0a, 0x0a, 0x0a, 0x0a, 0x0a, 0x0a, 0x0a, 0x0a, 0x0a, 0x0a, 0x0a, 0x0a, 0x0a, 0x0a, 0x0a, 0x0a,
    0x0a, 0x0a, 0x0a, 0x0a, 0x0a, 0x0a, 0x0a, 0x0a, 0x0a, 0x0a, 0x0a, 0x0a, 0x0a, 0x0a, 0x0a, 0x0a,
    0x0a, 0x0a, 0x0a, 0x0a, 0x0a, 0x0a, 0x0a, 0x0a, 0x0a, 0x0a, 0x0a, 0x0a, 0x0a, 0x0a, 0xff, 0xc0,
    0x00, 0x11, 0x08, 0x00, 0x08, 0x00, 0x10, 0x03, 0x01, 0x11, 0x00, 0x02, 0x11, 0x01, 0x03, 0x11,
    0x01, 0xff, 0xc4, 0x00, 0x14, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x08, 0xff, 0xc4, 0x00, 0x14, 0x10, 0x01, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xff, 0xc4, 0x00,
    0x16, 0x01, 0x01, 0x01, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x0a, 0x08, 0x09, 0xff, 0xc4, 0x00, 0x14, 0x11, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xff, 0xda, 0x00, 0x0c, 0x03,
    0x01, 0x00, 0x02, 0x11, 0x03, 0x11, 0x00, 0x3f, 0x00, 0x17, 0xa5, 0x36, 0xfe, 0x08, 0x65, 0x50,
    0x35, 0xef, 0xff, 0xd9};

std::vector<uint8_t> pngOf(const std::vector<uint8_t>& rgba, int w, int h) {
    // One file per process: CTest runs the cases of this program side by side.
    const std::string path =
        std::string(VAXO2_BINARY_DIR) + "/decoder_test_" + std::to_string(getpid()) + ".png";
    std::string error;
    EXPECT_TRUE(writePng(path, rgba.data(), w, h, error)) << error;
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
    std::remove(path.c_str());
    return bytes;
}

// 3x2 picture: top row red, green, blue; bottom row white, black, half-transparent grey.
std::vector<uint8_t> samplePng() {
    const std::vector<uint8_t> rgba = {255, 0,   0,   255, 0, 255, 0, 255, 0,   0,   255, 255,
                                       255, 255, 255, 255, 0, 0,   0, 255, 128, 128, 128, 128};
    return pngOf(rgba, 3, 2);
}

void putLe32(std::vector<uint8_t>& v, size_t at, uint32_t x) {
    for (int i = 0; i < 4; ++i)
        v[at + i] = static_cast<uint8_t>(x >> (8 * i));
}
void putBe32(std::vector<uint8_t>& v, size_t at, uint32_t x) {
    for (int i = 0; i < 4; ++i)
        v[at + i] = static_cast<uint8_t>(x >> (8 * (3 - i)));
}

// 24-bit BMP of 2x2, stored bottom row first: top row red, blue; bottom row green, white.
std::vector<uint8_t> sampleBmp() {
    std::vector<uint8_t> b(54 + 16, 0);
    b[0] = 'B';
    b[1] = 'M';
    putLe32(b, 2, static_cast<uint32_t>(b.size()));
    putLe32(b, 10, 54);
    putLe32(b, 14, 40);
    putLe32(b, 18, 2);
    putLe32(b, 22, 2);
    b[26] = 1;
    b[28] = 24;
    putLe32(b, 34, 16);
    const uint8_t rows[16] = {0, 255, 0,   255, 255, 255, 0, 0,   // bottom: green, white, pad
                              0, 0,   255, 255, 0,   0,   0, 0};  // top: red, blue, pad
    std::copy(rows, rows + 16, b.begin() + 54);
    return b;
}

uint32_t pixel(const BgraImage& image, int x, int y) {
    const uint8_t* p = image.pixels.data() + (static_cast<size_t>(y) * image.width + x) * 4;
    // B, G, R, A bytes read as 0xAARRGGBB
    return (uint32_t{p[3]} << 24) | (uint32_t{p[2]} << 16) | (uint32_t{p[1]} << 8) | p[0];
}

TEST(GpuImageDecoder, PngBecomesBgraTopRowFirstWithAlpha) {
    const std::vector<uint8_t> png = samplePng();
    BgraImage image;
    std::string error;
    ASSERT_TRUE(decodeImage(png.data(), png.size(), image, error)) << error;
    ASSERT_EQ(image.width, 3);
    ASSERT_EQ(image.height, 2);
    ASSERT_EQ(image.pixels.size(), 3u * 2u * 4u);
    EXPECT_EQ(pixel(image, 0, 0), 0xFFFF0000u);
    EXPECT_EQ(pixel(image, 1, 0), 0xFF00FF00u);
    EXPECT_EQ(pixel(image, 2, 0), 0xFF0000FFu);
    EXPECT_EQ(pixel(image, 0, 1), 0xFFFFFFFFu);
    EXPECT_EQ(pixel(image, 1, 1), 0xFF000000u);
    EXPECT_EQ(pixel(image, 2, 1), 0x80808080u);
}

TEST(GpuImageDecoder, BmpAndJpegDecodeTheSameWayUp) {
    const std::vector<uint8_t> bmp = sampleBmp();
    BgraImage image;
    std::string error;
    ASSERT_TRUE(decodeImage(bmp.data(), bmp.size(), image, error)) << error;
    ASSERT_EQ(image.width, 2);
    ASSERT_EQ(image.height, 2);
    EXPECT_EQ(pixel(image, 0, 0), 0xFFFF0000u);
    EXPECT_EQ(pixel(image, 1, 0), 0xFF0000FFu);
    EXPECT_EQ(pixel(image, 0, 1), 0xFF00FF00u);
    EXPECT_EQ(pixel(image, 1, 1), 0xFFFFFFFFu);

    ASSERT_TRUE(decodeImage(kJpeg, sizeof kJpeg, image, error)) << error;
    ASSERT_EQ(image.width, 16);
    ASSERT_EQ(image.height, 8);
    const uint32_t left = pixel(image, 2, 4);
    const uint32_t right = pixel(image, 13, 4);
    EXPECT_GT((left >> 16) & 0xFF, 230u);  // red
    EXPECT_LT(left & 0xFF, 25u);
    EXPECT_GT(right & 0xFF, 230u);  // blue
    EXPECT_LT((right >> 16) & 0xFF, 25u);
    EXPECT_EQ(left >> 24, 0xFFu);  // JPEG has no alpha: opaque
}

TEST(GpuImageDecoder, RefusesEmptyUnknownAndTruncatedInput) {
    BgraImage image;
    std::string error;
    EXPECT_FALSE(decodeImage(nullptr, 0, image, error));
    const uint8_t text[] = "not a picture at all";
    EXPECT_FALSE(decodeImage(text, sizeof text, image, error));
    EXPECT_FALSE(error.empty());

    // Every prefix of a valid file is refused (or, for JPEG, decoded without over-reading);
    // none leaves a half-filled result behind.
    // (A PNG cut inside its closing IEND chunk still holds every pixel and may decode.)
    const std::vector<uint8_t> png = samplePng();
    ASSERT_GT(png.size(), 12u);
    for (size_t n = 1; n < png.size() - 12; ++n) {
        const std::vector<uint8_t> cut(png.begin(), png.begin() + static_cast<long>(n));
        EXPECT_FALSE(decodeImage(cut.data(), cut.size(), image, error)) << "prefix " << n;
        EXPECT_TRUE(image.pixels.empty());
        EXPECT_EQ(image.width, 0);
    }
    const std::vector<uint8_t> bmp = sampleBmp();
    for (size_t n = 1; n < bmp.size(); ++n) {
        const std::vector<uint8_t> cut(bmp.begin(), bmp.begin() + static_cast<long>(n));
        EXPECT_FALSE(decodeImage(cut.data(), cut.size(), image, error)) << "prefix " << n;
    }
    for (size_t n = 1; n < sizeof kJpeg; ++n) {
        if (decodeImage(kJpeg, n, image, error)) {
            EXPECT_EQ(image.pixels.size(), 16u * 8u * 4u);
        }
    }
}

// A chunk that claims more bytes than the file holds once sent the decoder into an endless
// re-read of its last header; a file that merely lacks its closing chunk still shows.
TEST(GpuImageDecoder, PngChunkLengthsAreCheckedAgainstTheFile) {
    const std::vector<uint8_t> png = samplePng();
    ASSERT_EQ(std::string(png.end() - 8, png.end() - 4), "IEND");
    BgraImage image;
    std::string error;

    // The chunk after IHDR claims 15 MB.
    std::vector<uint8_t> overlong = png;
    putBe32(overlong, 33, 0x00E62063u);
    EXPECT_FALSE(decodeImage(overlong.data(), overlong.size(), image, error));
    EXPECT_NE(error.find("truncated"), std::string::npos) << error;
    // A length with the top bit set is never valid.
    putBe32(overlong, 33, 0x80000000u);
    EXPECT_FALSE(decodeImage(overlong.data(), overlong.size(), image, error));

    const std::vector<uint8_t> noEnd(png.begin(), png.end() - 12);
    ASSERT_TRUE(decodeImage(noEnd.data(), noEnd.size(), image, error)) << error;
    EXPECT_EQ(image.width, 3);
    EXPECT_EQ(image.height, 2);

    std::vector<uint8_t> trailing = png;
    trailing.insert(trailing.end(), {'j', 'u', 'n', 'k'});
    EXPECT_TRUE(decodeImage(trailing.data(), trailing.size(), image, error)) << error;
}

std::vector<uint8_t> readTestFile(const std::string& name) {
    std::ifstream in(std::string(VAXO2_TEST_DATA) + "/platform/data/" + name, std::ios::binary);
    EXPECT_TRUE(in) << name;
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), {});
}

// GIFs go through our own decoder; ImageMagick wrote these files and a PNG of what it reads in
// each: an interlaced picture with a transparent colour, and 256-colour noise whose code stream
// fills the 12-bit table and clears it.
TEST(GpuImageDecoder, GifPixelsMatchAnIndependentDecoder) {
    for (const std::string stem : {"interlaced_transparent", "noise_256"}) {
        const std::vector<uint8_t> gif = readTestFile(stem + ".gif");
        const std::vector<uint8_t> png = readTestFile(stem + ".png");
        BgraImage fromGif, fromPng;
        std::string error;
        ASSERT_TRUE(decodeImage(gif.data(), gif.size(), fromGif, error)) << stem << ": " << error;
        ASSERT_TRUE(decodeImage(png.data(), png.size(), fromPng, error)) << stem << ": " << error;
        ASSERT_EQ(fromGif.width, fromPng.width) << stem;
        ASSERT_EQ(fromGif.height, fromPng.height) << stem;
        int differences = 0, transparent = 0;
        for (int y = 0; y < fromGif.height; ++y) {
            for (int x = 0; x < fromGif.width; ++x) {
                const uint32_t a = pixel(fromGif, x, y), b = pixel(fromPng, x, y);
                if (b >> 24 == 0) ++transparent;
                // Invisible pixels may carry any colour.
                if (b >> 24 == 0 ? a >> 24 != 0 : a != b) ++differences;
            }
        }
        EXPECT_EQ(differences, 0) << stem;
        EXPECT_EQ(transparent > 0, stem == "interlaced_transparent") << stem;
    }
}

// The image library's GIF loader frees memory it never allocated on this file (found by the
// picture fuzzer); our reader refuses it as damaged.
TEST(GpuImageDecoder, GifThatCrashedTheImageLibraryIsRefused) {
    const std::vector<uint8_t> gif = readTestFile("sdl-image-frees-foreign-memory.gif");
    BgraImage image;
    std::string error;
    EXPECT_FALSE(decodeImage(gif.data(), gif.size(), image, error));
    EXPECT_NE(error.find("damaged"), std::string::npos) << error;
}

// 2x2 GIF with a graphic-control extension: top row red, blue; bottom row red, red.
const std::vector<uint8_t> kGif = {
    0x47, 0x49, 0x46, 0x38, 0x39, 0x61, 0x02, 0x00, 0x02, 0x00, 0xf0, 0x00, 0x00, 0xff, 0x00,
    0x00, 0x00, 0x00, 0xff, 0x21, 0xf9, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00, 0x2c, 0x00, 0x00,
    0x00, 0x00, 0x02, 0x00, 0x02, 0x00, 0x00, 0x02, 0x03, 0x44, 0x00, 0x05, 0x00, 0x3b};
constexpr size_t kGifExtensionAt = 19;
constexpr size_t kGifTransparencyFlagsAt = 22;
constexpr size_t kGifFrameAt = 27;  // the image descriptor
constexpr size_t kGifCodeSizeAt = 37;
constexpr size_t kGifTrailerAt = 43;

void putLe16(std::vector<uint8_t>& v, size_t at, uint16_t x) {
    v[at] = static_cast<uint8_t>(x);
    v[at + 1] = static_cast<uint8_t>(x >> 8);
}

// What the first frame shows and where, and which damage refuses the file (with the reason).
TEST(GpuImageDecoder, GifFirstFramePlacementTransparencyAndDamage) {
    constexpr uint32_t R = 0xFFFF0000u, B = 0xFF0000FFu, T = 0;
    struct Case {
        const char* what;
        std::function<void(std::vector<uint8_t>&)> change;
        int width, height;
        std::vector<uint32_t> pixels;  // row by row; empty when refused
        const char* reason;            // part of the refusal
    };
    auto frameAt = [](uint16_t x, uint16_t y) {
        return [x, y](std::vector<uint8_t>& g) {
            putLe16(g, kGifFrameAt + 1, x);
            putLe16(g, kGifFrameAt + 3, y);
        };
    };
    const std::vector<Case> cases = {
        {"as written", [](auto&) {}, 2, 2, {R, B, R, R}, nullptr},
        {"frame placed on a larger screen",
         [&](auto& g) {
             putLe16(g, 6, 4);
             putLe16(g, 8, 3);
             frameAt(1, 1)(g);
         },
         4,
         3,
         {T, T, T, T, T, R, B, T, T, R, R, T},
         nullptr},
        {"a screen of no size takes the frame's extent",
         [&](auto& g) {
             putLe16(g, 6, 0);
             putLe16(g, 8, 0);
             frameAt(1, 0)(g);
         },
         3,
         2,
         {T, R, B, T, R, R},
         nullptr},
        {"frame clipped at the screen's edge", frameAt(1, 1), 2, 2, {T, T, T, R}, nullptr},
        {"transparent colour",
         [](auto& g) {
             g[kGifTransparencyFlagsAt] = 1;
             g[kGifTransparencyFlagsAt + 3] = 1;  // index 1, blue
         },
         2,
         2,
         {R, T, R, R},
         nullptr},
        {"no trailer after the frame",
         [](auto& g) { g.resize(kGifTrailerAt); },
         2,
         2,
         {R, B, R, R},
         nullptr},
        {"a later frame of 20000x20000 is never decoded",
         [](auto& g) {
             const std::vector<uint8_t> frame(g.begin() + kGifFrameAt, g.begin() + kGifTrailerAt);
             g.insert(g.begin() + kGifTrailerAt, frame.begin(), frame.end());
             putLe16(g, kGifTrailerAt + 5, 20000);
             putLe16(g, kGifTrailerAt + 7, 20000);
         },
         2,
         2,
         {R, B, R, R},
         nullptr},
        {"frame of 20000x20000 on a small screen",
         [](auto& g) {
             putLe16(g, kGifFrameAt + 5, 20000);
             putLe16(g, kGifFrameAt + 7, 20000);
         },
         0,
         0,
         {},
         "refused"},
        {"screen of 20000x20000",
         [](auto& g) {
             putLe16(g, 6, 20000);
             putLe16(g, 8, 20000);
         },
         0,
         0,
         {},
         "refused"},
        {"unknown block", [](auto& g) { g[kGifExtensionAt] = 0x99; }, 0, 0, {}, "damaged"},
        {"extension running past the end",
         [](auto& g) {
             g[kGifExtensionAt + 2] = 0x40;
             g.resize(kGifFrameAt);
         },
         0,
         0,
         {},
         "truncated"},
        {"ends before the first frame",
         [](auto& g) { g.resize(kGifFrameAt); },
         0,
         0,
         {},
         "truncated"},
        {"only a trailer", [](auto& g) { g[kGifFrameAt] = 0x3B; }, 0, 0, {}, "no frame"},
        {"code size 12", [](auto& g) { g[kGifCodeSizeAt] = 12; }, 0, 0, {}, "code size"},
        {"image data cut short",
         [](auto& g) { g.resize(kGifCodeSizeAt + 3); },
         0,
         0,
         {},
         "truncated"},
        {"a code the table does not hold yet",
         [](auto& g) {
             g[kGifCodeSizeAt + 2] = 0x3C;  // clear (4), then 7 in 3-bit codes
             g[kGifCodeSizeAt + 3] = 0x00;
             g[kGifCodeSizeAt + 4] = 0x00;
         },
         0,
         0,
         {},
         "damaged"},
        {"no colour table",
         [](auto& g) {
             g[10] = 0x70;
             g.erase(g.begin() + 13, g.begin() + kGifExtensionAt);
         },
         0,
         0,
         {},
         "colour table"},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> gif = kGif;
        c.change(gif);
        BgraImage image;
        std::string error;
        const bool decoded = decodeImage(gif.data(), gif.size(), image, error);
        if (c.pixels.empty()) {
            EXPECT_FALSE(decoded) << c.what;
            EXPECT_TRUE(image.pixels.empty()) << c.what;
            if (c.reason) {
                EXPECT_NE(error.find(c.reason), std::string::npos) << c.what << ": " << error;
            }
            continue;
        }
        ASSERT_TRUE(decoded) << c.what << ": " << error;
        ASSERT_EQ(image.width, c.width) << c.what;
        ASSERT_EQ(image.height, c.height) << c.what;
        for (int i = 0; i < c.width * c.height; ++i)
            EXPECT_EQ(pixel(image, i % c.width, i / c.width), c.pixels[static_cast<size_t>(i)])
                << c.what << " pixel " << i;
    }
}

TEST(GpuImageDecoder, RefusesHugeDimensionsBeforeDecoding) {
    std::vector<uint8_t> png = samplePng();
    // IHDR width and height (big-endian) claiming 100000 x 100000.
    const uint8_t huge[4] = {0x00, 0x01, 0x86, 0xA0};
    std::copy(huge, huge + 4, png.begin() + 16);
    std::copy(huge, huge + 4, png.begin() + 20);
    BgraImage image;
    std::string error;
    EXPECT_FALSE(decodeImage(png.data(), png.size(), image, error));
    EXPECT_NE(error.find("refused"), std::string::npos) << error;

    std::vector<uint8_t> bmp = sampleBmp();
    putLe32(bmp, 18, 20000);
    putLe32(bmp, 22, 20000);
    EXPECT_FALSE(decodeImage(bmp.data(), bmp.size(), image, error));
    putLe32(bmp, 18, 0x80000000u);  // negative width
    putLe32(bmp, 22, 2);
    EXPECT_FALSE(decodeImage(bmp.data(), bmp.size(), image, error));

    // Within the side limit but above the pixel budget.
    std::vector<uint8_t> jpeg(kJpeg, kJpeg + sizeof kJpeg);
    bool patched = false;
    for (size_t i = 2; i + 9 < jpeg.size(); ++i) {
        if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xC0) {
            jpeg[i + 5] = 0x3F;  // height 16383
            jpeg[i + 6] = 0xFF;
            jpeg[i + 7] = 0x3F;  // width 16383
            jpeg[i + 8] = 0xFF;
            patched = true;
            break;
        }
    }
    ASSERT_TRUE(patched);
    EXPECT_FALSE(decodeImage(jpeg.data(), jpeg.size(), image, error));
}

// Each file is decoded by the loader of the format its signature names, within the bounds read
// from that format's header, before any pixel memory is taken.
TEST(GpuImageDecoder, OnlyTheCheckedFormatsLoaderSeesTheBytes) {
    BgraImage image;
    std::string error;
    // A JPEG signature and a 257x257 frame header in front of an SVG that asks for 20000x20000:
    // the JPEG decoder refuses it; no other loader gets to draw it.
    std::vector<uint8_t> disguised = {0xFF, 0xD8, 0xFF, 0xC0, 0x00, 0x11, 0x08,
                                      0x01, 0x01, 0x01, 0x01, 0x03, 0x01, 0x11,
                                      0x00, 0x02, 0x11, 0x01, 0x03, 0x11, 0x01};
    const std::string svg =
        "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"20000\" height=\"20000\">"
        "<rect width=\"20000\" height=\"20000\" fill=\"red\"/></svg>";
    disguised.insert(disguised.end(), svg.begin(), svg.end());
    EXPECT_FALSE(decodeImage(disguised.data(), disguised.size(), image, error));
    EXPECT_EQ(error.find("differs"), std::string::npos) << "another loader decoded it: " << error;

    // A progressive decoder passes over the whole frame once per scan: 40 empty scans over a
    // 4096x4096 frame are refused, the same scans over the 16x8 sample are not.
    auto withScans = [](uint16_t side, int extraScans) {
        std::vector<uint8_t> jpeg(kJpeg, kJpeg + sizeof kJpeg);
        size_t sos = 0;
        for (size_t i = 2; i + 1 < jpeg.size(); ++i) {
            if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xC0 && side != 0) {
                jpeg[i + 5] = jpeg[i + 7] = static_cast<uint8_t>(side >> 8);
                jpeg[i + 6] = jpeg[i + 8] = static_cast<uint8_t>(side);
            }
            if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xDA) {
                sos = i;
                break;
            }
        }
        const std::vector<uint8_t> header(jpeg.begin() + static_cast<long>(sos),
                                          jpeg.begin() + static_cast<long>(sos) + 14);
        for (int n = 0; n < extraScans; ++n)
            jpeg.insert(jpeg.begin() + static_cast<long>(sos), header.begin(), header.end());
        return jpeg;
    };
    const std::vector<uint8_t> manyScans = withScans(4096, 40);
    EXPECT_FALSE(decodeImage(manyScans.data(), manyScans.size(), image, error));
    EXPECT_NE(error.find("scans refused"), std::string::npos) << error;
    const std::vector<uint8_t> smallScans = withScans(0, 40);
    decodeImage(smallScans.data(), smallScans.size(), image, error);
    EXPECT_EQ(error.find("scans refused"), std::string::npos) << error;
}

TEST(GpuImageDecoder, CorruptPixelDataNeverYieldsAWrongSizedPicture) {
    const std::vector<uint8_t> png = samplePng();
    // Flip each byte after the header in turn: a CRC or inflate error refuses the file, and
    // anything that still decodes has the header's size.
    for (size_t i = 33; i < png.size(); ++i) {
        std::vector<uint8_t> bad = png;
        bad[i] ^= 0x5A;
        BgraImage image;
        std::string error;
        if (decodeImage(bad.data(), bad.size(), image, error)) {
            EXPECT_EQ(image.width, 3);
            EXPECT_EQ(image.height, 2);
            EXPECT_EQ(image.pixels.size(), 24u);
        } else {
            EXPECT_TRUE(image.pixels.empty());
        }
    }
}

}  // namespace
}  // namespace vaxo2::platform
