#include "io/cursor_file.h"

#include <gtest/gtest.h>

#include "io/pack_writer.h"
#include "io/resource_loader.h"
#include "io_test_support.h"

namespace vaxo2::io {
namespace {

void put16(std::vector<uint8_t>& v, uint16_t x) {
    v.push_back(static_cast<uint8_t>(x));
    v.push_back(static_cast<uint8_t>(x >> 8));
}
void put32(std::vector<uint8_t>& v, uint32_t x) {
    put16(v, static_cast<uint16_t>(x));
    put16(v, static_cast<uint16_t>(x >> 16));
}

// A DIB image for a cursor: `bpp` colour rows bottom-up, then the 1-bit AND mask.
std::vector<uint8_t> dib(int w, int h, int bpp, const std::vector<uint8_t>& palette,
                         const std::vector<uint8_t>& colorRows,
                         const std::vector<uint8_t>& maskRows) {
    std::vector<uint8_t> v;
    put32(v, 40);
    put32(v, w);
    put32(v, h * 2);
    put16(v, 1);
    put16(v, bpp);
    put32(v, 0);
    put32(v, 0);
    put32(v, 0);
    put32(v, 0);
    put32(v, 0);
    put32(v, 0);
    v.insert(v.end(), palette.begin(), palette.end());
    v.insert(v.end(), colorRows.begin(), colorRows.end());
    v.insert(v.end(), maskRows.begin(), maskRows.end());
    return v;
}

struct Image {
    int w, h, hotX, hotY;
    std::vector<uint8_t> data;
};

std::vector<uint8_t> container(const std::vector<Image>& images, uint16_t type = 2) {
    std::vector<uint8_t> v;
    put16(v, 0);
    put16(v, type);
    put16(v, static_cast<uint16_t>(images.size()));
    uint32_t offset = 6 + 16 * static_cast<uint32_t>(images.size());
    for (const auto& img : images) {
        v.push_back(static_cast<uint8_t>(img.w));
        v.push_back(static_cast<uint8_t>(img.h));
        v.push_back(0);
        v.push_back(0);
        put16(v, img.hotX);
        put16(v, img.hotY);
        put32(v, static_cast<uint32_t>(img.data.size()));
        put32(v, offset);
        offset += static_cast<uint32_t>(img.data.size());
    }
    for (const auto& img : images) {
        v.insert(v.end(), img.data.begin(), img.data.end());
    }
    return v;
}

// 2x2, 1 bit: palette black / white. Bottom row (stored first) = white, black; top row =
// black, white. Mask: top-left pixel transparent.
std::vector<uint8_t> twoByTwoMono() {
    std::vector<uint8_t> palette = {0, 0, 0, 0, 255, 255, 255, 0};
    std::vector<uint8_t> colors = {0x80, 0, 0, 0, 0x40, 0, 0, 0};
    std::vector<uint8_t> mask = {0x00, 0, 0, 0, 0x80, 0, 0, 0};
    return dib(2, 2, 1, palette, colors, mask);
}

TEST(CursorParse, MonochromeImageWithMaskAndHotspot) {
    auto data = container({{2, 2, 1, 0, twoByTwoMono()}});
    CursorImage img;
    std::string error;
    ASSERT_TRUE(parseCursor(data.data(), data.size(), img, &error)) << error;
    EXPECT_EQ(img.width, 2);
    EXPECT_EQ(img.height, 2);
    EXPECT_EQ(img.hotspotX, 1);
    EXPECT_EQ(img.hotspotY, 0);
    // Top row first: (0,0) masked out, (1,0) white opaque; bottom row white, black.
    const std::vector<uint8_t> expected = {0,   0,   0,   0,   255, 255, 255, 255,
                                           255, 255, 255, 255, 0,   0,   0,   255};
    EXPECT_EQ(img.bgra, expected);
}

TEST(CursorParse, ThirtyTwoBitAlphaAndBestSizeChoice) {
    // 1x1 32-bit with alpha 0x80 at size 1, and a 2x2 mono image: 2 is nearer to 32.
    std::vector<uint8_t> px = {10, 20, 30, 0x80};
    auto small = dib(1, 1, 32, {}, px, {0, 0, 0, 0});
    auto data = container({{1, 1, 0, 0, small}, {2, 2, 0, 0, twoByTwoMono()}});
    CursorImage img;
    ASSERT_TRUE(parseCursor(data.data(), data.size(), img));
    EXPECT_EQ(img.width, 2);

    data = container({{1, 1, 0, 0, small}});
    ASSERT_TRUE(parseCursor(data.data(), data.size(), img));
    EXPECT_EQ(img.bgra, (std::vector<uint8_t>{10, 20, 30, 0x80}));
}

TEST(CursorParse, BrokenDataFailsWithoutReadingOutside) {
    auto good = container({{2, 2, 0, 0, twoByTwoMono()}});
    CursorImage img;
    std::string error;
    for (size_t cut = 0; cut < good.size(); ++cut) {
        // Every truncation is a failure (the mask is needed for 1-bit images).
        std::vector<uint8_t> part(good.begin(), good.begin() + cut);
        EXPECT_FALSE(parseCursor(part.data(), part.size(), img, &error)) << cut;
    }
    auto bad = good;
    bad[2] = 3;  // neither icon nor cursor
    EXPECT_FALSE(parseCursor(bad.data(), bad.size(), img, &error));
    bad = good;
    bad[6 + 12] = 0xFF;  // image offset outside
    EXPECT_FALSE(parseCursor(bad.data(), bad.size(), img, &error));
    bad = good;
    bad[22 + 8] = 0xFF;  // height 0x7F.. (doubled) far too large
    bad[22 + 9] = 0x7F;
    EXPECT_FALSE(parseCursor(bad.data(), bad.size(), img, &error));
    EXPECT_TRUE(img.bgra.empty());
}

TEST(CursorParse, PngImagesAreReportedUnsupported) {
    std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', 13, 10, 26, 10, 0, 0, 0, 0};
    auto data = container({{32, 32, 0, 0, png}});
    CursorImage img;
    std::string error;
    EXPECT_FALSE(parseCursor(data.data(), data.size(), img, &error));
    EXPECT_NE(error.find("PNG"), std::string::npos);
}

TEST(CursorLoad, ComesFromTheResourceLoader) {
    testing::TempDir dir;
    std::string error;
    ASSERT_TRUE(writePackFile(dir.file("data01.vxc"),
                              {{"system\\ceol.cur", {}, container({{2, 2, 1, 1, twoByTwoMono()}})}},
                              error));
    ResourceLoader::instance().setGameFolder(dir.path());
    CursorImage img;
    EXPECT_TRUE(loadCursorImage("system\\ceol.cur", img));
    EXPECT_EQ(img.hotspotY, 1);
    EXPECT_FALSE(loadCursorImage("system\\missing.cur", img, &error));
    EXPECT_TRUE(img.bgra.empty());
    ResourceLoader::instance().setGameFolder(".");
}

}  // namespace
}  // namespace vaxo2::io
