// Partial redraws on a real (offscreen) OpenGL context: every frame of a short sequence is read
// back after its partial redraw and compared with the same frame drawn whole, and the redrawn
// rectangle is checked to be the small one the change calls for.
#include "graphics/partial_redraw.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/window.h"

namespace vaxo2::graphics {
namespace {

using platform::GpuTexture;
using platform::GpuVertex;

constexpr int kSide = 256;

std::vector<uint8_t> pattern(int w, int h, uint8_t alpha, int seed) {
    std::vector<uint8_t> bgra(static_cast<size_t>(w) * h * 4);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            uint8_t* p = &bgra[(static_cast<size_t>(y) * w + x) * 4];
            p[0] = static_cast<uint8_t>(x * 4 + seed * 40);
            p[1] = static_cast<uint8_t>(y * 4 + seed * 90);
            p[2] = static_cast<uint8_t>((x ^ y) * 8 + seed);
            p[3] = alpha;
        }
    }
    return bgra;
}

// A quad over window pixels [x0, x1) x [y0, y1) (top-left origin) under identity matrices,
// showing the texture's [u0, u1) x [v0, v1).
void quad(platform::Gpu& gpu, GpuTexture texture, float x0, float y0, float x1, float y1,
          float u0 = 0, float v0 = 0, float u1 = 1, float v1 = 1, uint32_t diffuse = 0xFFFFFFFF) {
    const auto nx = [](float x) { return x / kSide * 2 - 1; };
    const auto ny = [](float y) { return 1 - y / kSide * 2; };
    const GpuVertex v[4] = {{nx(x0), ny(y0), 0, diffuse, u0, v0},
                            {nx(x1), ny(y0), 0, diffuse, u1, v0},
                            {nx(x0), ny(y1), 0, diffuse, u0, v1},
                            {nx(x1), ny(y1), 0, diffuse, u1, v1}};
    gpu.drawQuad(texture, v, platform::ShadeMode::TextureAlphaModulate);
}

struct Scene {
    float spriteX = 40;
    int glyphs = 2;
    uint32_t clearRgb = 0x000000;
    int targetSeed = 1;
    int firstGlyphSeed = 3;  // another value writes new pixels into the first glyph's place
};

class PartialRedrawTest : public ::testing::Test {
  protected:
    void SetUp() override {
        setenv("SDL_VIDEODRIVER", "offscreen", 1);
        std::string error;
        window_ =
            platform::createWindow(platform::WindowOptions{"redraw", kSide, kSide, true}, error);
        if (!window_) GTEST_SKIP() << "no window for a GL context: " << error;
        context_ = window_->createGlContext(error);
        if (!context_) GTEST_SKIP() << "no GL context can be created here: " << error;
        std::unique_ptr<platform::Gpu> gl = platform::createGlGpu(error);
        ASSERT_TRUE(gl) << error;
        gpu_ = std::make_unique<PartialRedrawGpu>(std::move(gl));
        gpu_->setDefaultTargetSize(kSide, kSide);
        const std::vector<uint8_t> back = pattern(64, 64, 255, 0);
        background_ = gpu_->createTexture(64, 64, back.data());
        const std::vector<uint8_t> sprite = pattern(32, 32, 160, 2);
        sprite_ = gpu_->createTexture(32, 32, sprite.data());
        page_ = gpu_->createTexture(64, 64, nullptr);
        target_ = gpu_->createRenderTarget(64, 64);
    }
    void TearDown() override {
        gpu_.reset();
        context_.reset();
        window_.reset();
    }

    // One frame of the scene: a background, a stencilled sprite, glyphs from a shared page
    // (the last one's pixels written while the frame is drawn, as glyphs are) and a picture of
    // a render target drawn during the frame.
    void draw(const Scene& s) {
        gpu_->beginFrame();
        const platform::GpuMatrix identity{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
        gpu_->setViewMatrix(identity);
        gpu_->setProjectionMatrix(identity);
        gpu_->setWorldMatrix(identity);
        gpu_->setViewport(0, 0, kSide, kSide);
        gpu_->setDepthState(false, false);
        gpu_->clear(true, (s.clearRgb >> 16) / 255.0f, ((s.clearRgb >> 8) & 255) / 255.0f,
                    (s.clearRgb & 255) / 255.0f, 1, true, 1, true, 0);
        platform::StencilState write;
        write.func = platform::StencilFunc::Always;
        write.reference = 255;
        write.passOp = platform::StencilOp::Replace;
        gpu_->setStencilState(write);
        gpu_->setBlendMode(platform::BlendMode::Off);
        quad(*gpu_, background_, 0, 0, 200, 200);
        platform::StencilState test;
        test.func = platform::StencilFunc::LessEqual;
        test.reference = 255;
        gpu_->setStencilState(test);
        gpu_->setBlendMode(platform::BlendMode::Alpha);
        quad(*gpu_, sprite_, s.spriteX, 150, s.spriteX + 80, 230);
        // Glyph i sits at texel column 18 i of the page, with a gutter as the atlas leaves.
        for (int i = 0; i < s.glyphs; ++i) {
            if (i >= written_ || (i == 0 && s.firstGlyphSeed != firstGlyphSeed_)) {
                const int seed = i == 0 ? s.firstGlyphSeed : 3 + i;
                const std::vector<uint8_t> glyph = pattern(16, 16, 200, seed);
                ASSERT_TRUE(gpu_->updateTexture(page_, i * 18, 0, 16, 16, glyph.data()));
            }
            quad(*gpu_, page_, 20.0f + i * 20, 20, 36.0f + i * 20, 36, i * 18 / 64.0f, 0,
                 (i * 18 + 16) / 64.0f, 0.25f);
        }
        written_ = std::max(written_, s.glyphs);
        firstGlyphSeed_ = s.firstGlyphSeed;
        if (s.targetSeed != renderedSeed_) {
            ASSERT_TRUE(gpu_->beginRenderTarget(target_));
            gpu_->clear(true, 0, 0, 0, 0, true, 1, true, 0);
            gpu_->setBlendMode(platform::BlendMode::Off);
            gpu_->setStencilState(platform::StencilState{false});
            const std::vector<uint8_t> inside = pattern(8, 8, 255, s.targetSeed);
            const GpuTexture picture = gpu_->createTexture(8, 8, inside.data());
            quad(*gpu_, picture, 0, 0, kSide, kSide);
            gpu_->endRenderTarget();
            // Still drawn from at the end of the frame: gone only after it.
            gpu_->destroyTexture(picture);
            renderedSeed_ = s.targetSeed;
        }
        gpu_->setStencilState(platform::StencilState{false});
        gpu_->setBlendMode(platform::BlendMode::Alpha);
        quad(*gpu_, target_, 210, 10, 250, 50);
        gpu_->resolveFrame();
    }

    std::vector<uint8_t> read() {
        std::vector<uint8_t> rgba;
        int32_t w = 0, h = 0;
        EXPECT_TRUE(gpu_->readPixels(rgba, w, h));
        EXPECT_EQ(w, kSide);
        EXPECT_EQ(h, kSide);
        return rgba;
    }

    std::unique_ptr<platform::Window> window_;
    std::unique_ptr<platform::GlContext> context_;
    std::unique_ptr<PartialRedrawGpu> gpu_;
    GpuTexture background_ = 0, sprite_ = 0, page_ = 0, target_ = 0;
    int written_ = 0;
    int firstGlyphSeed_ = 3;
    int renderedSeed_ = 0;
};

bool inside(const PixelRect& outer, const PixelRect& inner) {
    return inner.x >= outer.x && inner.y >= outer.y &&
           inner.x + inner.width <= outer.x + outer.width &&
           inner.y + inner.height <= outer.y + outer.height;
}

TEST_F(PartialRedrawTest, EachFrameEqualsItsWholeRedrawAndRedrawsOnlyWhatChanged) {
    struct Step {
        const char* what;
        Scene scene;
        bool drew;
        PixelRect mustCover;  // the change itself
        PixelRect within;     // and no more than this
    };
    const PixelRect whole{0, 0, kSide, kSide};
    const Step steps[] = {
        {"first frame", {}, true, whole, whole},
        {"nothing changed", {}, false, {}, {}},
        {"sprite moved", {60, 2, 0, 1}, true, {40, 150, 100, 80}, {38, 148, 104, 84}},
        {"glyph added on the shared page", {60, 3, 0, 1}, true, {60, 20, 16, 16}, {58, 18, 20, 20}},
        {"render target drawn anew", {60, 3, 0, 2}, true, {210, 10, 40, 40}, {208, 8, 44, 44}},
        {"first glyph's pixels written again",
         {60, 3, 0, 2, 7},
         true,
         {20, 20, 16, 16},
         {18, 18, 20, 20}},
        {"clear colour", {60, 3, 0x204060, 2, 7}, true, whole, whole},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        draw(step.scene);
        EXPECT_EQ(gpu_->lastDrew(), step.drew);
        if (step.drew) {
            EXPECT_TRUE(inside(gpu_->lastRedraw(), step.mustCover));
            EXPECT_TRUE(inside(step.within, gpu_->lastRedraw()));
        }
        const std::vector<uint8_t> partial = read();
        gpu_->invalidate();
        draw(step.scene);
        EXPECT_EQ(gpu_->lastRedraw(), whole);
        const std::vector<uint8_t> full = read();
        ASSERT_EQ(partial.size(), full.size());
        size_t differing = 0;
        for (size_t i = 0; i < full.size(); ++i)
            differing += partial[i] != full[i];
        EXPECT_EQ(differing, 0u);
    }
}

}  // namespace
}  // namespace vaxo2::graphics
