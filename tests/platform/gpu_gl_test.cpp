// The OpenGL implementation of the GPU interface, drawn into an offscreen window and read back.
// Matrices stay identity, so vertex positions are clip coordinates: x, y in -1..1, y up.
#include <gtest/gtest.h>

#include <cstdlib>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "platform/gpu.h"
#include "platform/window.h"

namespace vaxo2::platform {
namespace {

constexpr int kW = 64;
constexpr int kH = 32;

class GlGpuTest : public ::testing::Test {
  protected:
    void SetUp() override {
        setenv("SDL_VIDEODRIVER", "offscreen", 1);
        std::string error;
        window_ = createWindow(WindowOptions{"gpu test", kW, kH, true}, error);
        if (!window_) GTEST_SKIP() << "no window for a GL context: " << error;
        context_ = window_->createGlContext(error);
        if (!context_) GTEST_SKIP() << "no GL context can be created here: " << error;
        gpu_ = createGlGpu(error);
        ASSERT_TRUE(gpu_) << error;
        int w = 0, h = 0;
        context_->drawableSize(w, h);
        ASSERT_EQ(w, kW);
        ASSERT_EQ(h, kH);
        gpu_->setDefaultTargetSize(w, h);
        gpu_->setViewport(0, 0, w, h);
        gpu_->setDepthState(true, false);
        gpu_->clear(true, 0, 0, 0, 1, true, 1.0f, true, 0);
    }
    void TearDown() override {
        gpu_.reset();
        context_.reset();
        window_.reset();
    }

    // A rectangle in clip coordinates with one diffuse colour and texture coordinates 0..1
    // (v = 0 at the top edge).
    static void rect(GpuVertex (&v)[4], float left, float top, float right, float bottom,
                     uint32_t diffuse = 0xFFFFFFFFu) {
        v[0] = GpuVertex{left, top, 0, diffuse, 0, 0};
        v[1] = GpuVertex{right, top, 0, diffuse, 1, 0};
        v[2] = GpuVertex{left, bottom, 0, diffuse, 0, 1};
        v[3] = GpuVertex{right, bottom, 0, diffuse, 1, 1};
    }

    void fill(float left, float top, float right, float bottom, uint32_t diffuse) {
        GpuVertex v[4];
        rect(v, left, top, right, bottom, diffuse);
        gpu_->drawQuad(0, v, ShadeMode::VertexColour);
    }

    struct Pixels {
        std::vector<uint8_t> rgba;
        int32_t w = 0, h = 0;
        uint32_t at(int x, int y) const {
            const uint8_t* p = rgba.data() + (static_cast<size_t>(y) * w + x) * 4;
            return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
        }
    };
    Pixels read() {
        Pixels p;
        EXPECT_TRUE(gpu_->readPixels(p.rgba, p.w, p.h));
        return p;
    }

    std::unique_ptr<Window> window_;
    std::unique_ptr<GlContext> context_;
    std::unique_ptr<Gpu> gpu_;
};

TEST_F(GlGpuTest, ReportsCapsAndReadsTopRowFirstWithBgraVertexColours) {
    EXPECT_GE(gpu_->caps().maxTextureSize, 2048);
    EXPECT_EQ(gpu_->caps().stencilBits, 8);
    // Top half red (0xAARRGGBB), bottom half blue.
    fill(-1, 1, 1, 0, 0xFFFF0000u);
    fill(-1, 0, 1, -1, 0xFF0000FFu);
    const Pixels p = read();
    ASSERT_EQ(p.w, kW);
    ASSERT_EQ(p.h, kH);
    EXPECT_EQ(p.at(5, 2), 0xFF0000FFu);       // RGBA bytes: red
    EXPECT_EQ(p.at(5, kH - 3), 0x0000FFFFu);  // blue
}

TEST_F(GlGpuTest, TexturesTakeBgraBytesAndRefuseImpossibleSizes) {
    // 2x1: left pixel pure blue in BGRA bytes, right pixel green.
    const uint8_t bgra[] = {255, 0, 0, 255, 0, 255, 0, 255};
    const GpuTexture t = gpu_->createTexture(2, 1, bgra);
    ASSERT_NE(t, 0u);
    int32_t w = 0, h = 0;
    ASSERT_TRUE(gpu_->textureSize(t, w, h));
    EXPECT_EQ(w, 2);
    EXPECT_EQ(h, 1);
    GpuVertex v[4];
    rect(v, -1, 1, 1, -1);
    gpu_->drawQuad(t, v, ShadeMode::TextureAlphaModulate);
    const Pixels p = read();
    EXPECT_EQ(p.at(2, kH / 2), 0x0000FFFFu);
    EXPECT_EQ(p.at(kW - 3, kH / 2), 0x00FF00FFu);

    EXPECT_EQ(gpu_->createTexture(0, 4, nullptr), 0u);
    EXPECT_EQ(gpu_->createTexture(gpu_->caps().maxTextureSize + 1, 1, nullptr), 0u);
    EXPECT_FALSE(gpu_->updateTexture(t, 1, 0, 2, 1, bgra));  // past the right edge
    EXPECT_TRUE(gpu_->updateTexture(t, 0, 0, 2, 1, bgra));
    gpu_->destroyTexture(t);
    EXPECT_FALSE(gpu_->textureSize(t, w, h));
    gpu_->destroyTexture(t);  // twice is harmless
}

TEST_F(GlGpuTest, AlphaIgnoreTakesAlphaFromTheVertexOnly) {
    // A fully transparent white texel.
    const uint8_t bgra[] = {255, 255, 255, 0};
    const GpuTexture t = gpu_->createTexture(1, 1, bgra);
    ASSERT_NE(t, 0u);
    gpu_->setBlendMode(BlendMode::Alpha);
    GpuVertex v[4];
    rect(v, -1, 1, 0, -1, 0xFFFFFFFFu);
    gpu_->drawQuad(t, v, ShadeMode::TextureAlphaModulate);  // left: nothing shows
    rect(v, 0, 1, 1, -1, 0x80FFFFFFu);
    gpu_->drawQuad(t, v, ShadeMode::AlphaIgnore);  // right: half-way white
    const Pixels p = read();
    EXPECT_EQ(p.at(4, 4) >> 8, 0x000000u);
    const uint32_t right = p.at(kW - 4, 4);
    const int red = static_cast<int>(right >> 24);
    EXPECT_NEAR(red, 128, 2);
}

TEST_F(GlGpuTest, StencilWriteThenTestShowsOnlyOverMarkedPixels) {
    // Left quarter writes 255 (invisible: alpha 0 with blending), then a test-255 fill.
    gpu_->setBlendMode(BlendMode::Alpha);
    gpu_->setStencilState(StencilState{true, StencilFunc::Always, 255, 0xFF, 0xFF, StencilOp::Keep,
                                       StencilOp::Keep, StencilOp::Replace});
    fill(-1, 1, -0.5f, -1, 0x00FFFFFFu);
    // Second quarter: write 255, then zero over it.
    fill(-0.5f, 1, 0, -1, 0x00FFFFFFu);
    gpu_->setStencilState(StencilState{true, StencilFunc::Always, 255, 0xFF, 0xFF, StencilOp::Keep,
                                       StencilOp::Keep, StencilOp::Zero});
    fill(-0.5f, 1, 0, -1, 0x00FFFFFFu);
    // Third quarter: invert 0 -> 255.
    gpu_->setStencilState(StencilState{true, StencilFunc::Always, 255, 0xFF, 0xFF, StencilOp::Keep,
                                       StencilOp::Keep, StencilOp::Invert});
    fill(0, 1, 0.5f, -1, 0x00FFFFFFu);
    gpu_->setStencilState(StencilState{true, StencilFunc::LessEqual, 255, 0xFF, 0xFF,
                                       StencilOp::Keep, StencilOp::Keep, StencilOp::Keep});
    fill(-1, 1, 1, -1, 0xFF00FF00u);
    const Pixels p = read();
    const int y = kH / 2;
    EXPECT_EQ(p.at(kW / 8, y), 0x00FF00FFu);      // marked
    EXPECT_EQ(p.at(3 * kW / 8, y), 0x000000FFu);  // marked then zeroed
    EXPECT_EQ(p.at(5 * kW / 8, y), 0x00FF00FFu);  // inverted
    EXPECT_EQ(p.at(7 * kW / 8, y), 0x000000FFu);  // never marked
}

TEST_F(GlGpuTest, StencilSequencesShowTheSameOnScreenAndInARenderTarget) {
    // Whole-target writes, partial writes after them and tests that reject everything: each
    // sequence ends with a test-255 green fill and is checked at the left and right halves.
    const StencilState write255{true,
                                StencilFunc::Always,
                                255,
                                0xFF,
                                0xFF,
                                StencilOp::Keep,
                                StencilOp::Keep,
                                StencilOp::Replace};
    StencilState zero = write255;
    zero.passOp = StencilOp::Zero;
    StencilState invert = write255;
    invert.passOp = StencilOp::Invert;
    StencilState neverInvert = invert;
    neverInvert.func = StencilFunc::Never;
    neverInvert.failOp = StencilOp::Invert;
    const StencilState test255{
        true,           StencilFunc::LessEqual, 255, 0xFF, 0xFF, StencilOp::Keep, StencilOp::Keep,
        StencilOp::Keep};
    struct Step {
        StencilState state;
        bool leftHalfOnly;
    };
    struct Case {
        const char* name;
        std::vector<Step> steps;
        bool left, right;  // green shows there
    };
    const std::vector<Case> cases = {
        {"nothing marked", {}, false, false},
        {"all marked", {{write255, false}}, true, true},
        {"all marked, left zeroed", {{write255, false}, {zero, true}}, false, true},
        {"inverted twice", {{invert, false}, {invert, false}}, false, false},
        {"inverted, left again", {{invert, false}, {invert, true}}, false, true},
        {"a failing test writes", {{neverInvert, false}}, true, true},
        {"left marked alone", {{write255, true}}, true, false},
    };
    const GpuTexture target = gpu_->createRenderTarget(kW, kH);
    ASSERT_NE(target, 0u);
    for (const bool intoTarget : {false, true}) {
        for (const Case& c : cases) {
            if (intoTarget) {
                ASSERT_TRUE(gpu_->beginRenderTarget(target));
            }
            gpu_->clear(true, 0, 0, 0, 1, true, 1.0f, true, 0);
            gpu_->setBlendMode(BlendMode::Alpha);
            for (const Step& step : c.steps) {
                gpu_->setStencilState(step.state);
                fill(-1, 1, step.leftHalfOnly ? 0.0f : 1.0f, -1, 0x00FFFFFFu);
            }
            gpu_->setStencilState(test255);
            fill(-1, 1, 1, -1, 0xFF00FF00u);
            const Pixels p = read();
            const std::string where = std::string(c.name) + (intoTarget ? " (target)" : "");
            EXPECT_EQ(p.at(kW / 4, kH / 2), c.left ? 0x00FF00FFu : 0x000000FFu) << where;
            EXPECT_EQ(p.at(3 * kW / 4, kH / 2), c.right ? 0x00FF00FFu : 0x000000FFu) << where;
            if (intoTarget) gpu_->endRenderTarget();
        }
    }
    gpu_->destroyTexture(target);
}

TEST_F(GlGpuTest, TexelExactQuadsShowTheirTexelsAndOthersStillFilter) {
    // Four texels, black to white in red.
    const uint8_t bgra[] = {0, 0, 0, 255, 0, 0, 85, 255, 0, 0, 170, 255, 0, 0, 255, 255};
    const GpuTexture t = gpu_->createTexture(4, 1, bgra);
    ASSERT_NE(t, 0u);
    const float px = 2.0f / kW;
    const float py = 2.0f / kH;
    GpuVertex v[4];
    // Pixels 8..11 of row 2: one texel each.
    rect(v, -1 + 8 * px, 1 - 2 * py, -1 + 12 * px, 1 - 3 * py);
    gpu_->drawQuad(t, v, ShadeMode::TextureAlphaModulate);
    // Half a pixel to the right on row 6: the texels mix with their neighbours.
    rect(v, -1 + 8.5f * px, 1 - 6 * py, -1 + 12.5f * px, 1 - 7 * py);
    gpu_->drawQuad(t, v, ShadeMode::TextureAlphaModulate);
    const Pixels p = read();
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(p.at(8 + i, 2) >> 24, static_cast<uint32_t>(i * 85)) << "texel " << i;
    }
    EXPECT_NEAR(static_cast<int>(p.at(10, 6) >> 24), (85 + 170) / 2, 3);
    gpu_->destroyTexture(t);
}

TEST_F(GlGpuTest, RenderTargetHoldsThePictureTheSameWayUpAndRestoresTheScreen) {
    const GpuTexture target = gpu_->createRenderTarget(16, 16);
    ASSERT_NE(target, 0u);
    gpu_->setViewport(8, 4, 32, 16);
    ASSERT_TRUE(gpu_->beginRenderTarget(target));
    int32_t vx, vy, vw, vh;
    gpu_->viewport(vx, vy, vw, vh);
    EXPECT_EQ(vw, 16);
    EXPECT_EQ(vh, 16);
    gpu_->clear(true, 0, 0, 0, 1, true, 1.0f, true, 0);
    fill(-1, 1, 1, 0, 0xFFFF0000u);  // top half red
    {
        const Pixels inside = read();
        ASSERT_EQ(inside.w, 16);
        EXPECT_EQ(inside.at(8, 2), 0xFF0000FFu);
        EXPECT_EQ(inside.at(8, 13), 0x000000FFu);
    }
    gpu_->endRenderTarget();
    gpu_->viewport(vx, vy, vw, vh);
    EXPECT_EQ(vx, 8);
    EXPECT_EQ(vy, 4);
    EXPECT_EQ(vw, 32);
    gpu_->setViewport(0, 0, kW, kH);
    GpuVertex v[4];
    rect(v, -1, 1, 1, -1);
    gpu_->drawQuad(target, v, ShadeMode::AlphaIgnore);
    const Pixels p = read();
    EXPECT_EQ(p.at(kW / 2, 3), 0xFF0000FFu);
    EXPECT_EQ(p.at(kW / 2, kH - 4), 0x000000FFu);
    EXPECT_FALSE(gpu_->beginRenderTarget(12345));
    gpu_->destroyTexture(target);
}

TEST_F(GlGpuTest, WorldViewProjectionComposeInRowVectorOrder) {
    // World: scale x by 0.5; view: translate x by +0.5. Scale first puts the unit quad at
    // 0..1 in x (right half); the other order would give 0.25..0.75.
    GpuMatrix world = {0.5f, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    GpuMatrix view = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0.5f, 0, 0, 1};
    gpu_->setWorldMatrix(world);
    gpu_->setViewMatrix(view);
    fill(-1, 1, 1, -1, 0xFFFFFFFFu);
    const Pixels p = read();
    EXPECT_EQ(p.at(kW / 4, kH / 2), 0x000000FFu);
    EXPECT_EQ(p.at(kW / 2 + 2, kH / 2), 0xFFFFFFFFu);
    EXPECT_EQ(p.at(kW - 2, kH / 2), 0xFFFFFFFFu);
}

TEST_F(GlGpuTest, QueuedQuadsKeepTheirOwnMatricesTexturesAndOrder) {
    const uint8_t white[] = {255, 255, 255, 255};
    const uint8_t green[] = {0, 255, 0, 255};
    const GpuTexture t = gpu_->createTexture(1, 1, white);
    ASSERT_NE(t, 0u);
    GpuVertex v[4];
    rect(v, -1, 1, -0.5f, 0);  // top-left eighth before any transform
    // Same texture and states, different world matrices: both land where their own says.
    gpu_->drawQuad(t, v, ShadeMode::TextureAlphaModulate);
    gpu_->setWorldMatrix(GpuMatrix{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 1.5f, -1.0f, 0, 1});
    gpu_->drawQuad(t, v, ShadeMode::TextureAlphaModulate);
    // A change of the texture's pixels after a queued draw does not reach that draw.
    gpu_->setWorldMatrix(GpuMatrix{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0.5f, 0, 0, 1});
    gpu_->drawQuad(t, v, ShadeMode::TextureAlphaModulate);
    ASSERT_TRUE(gpu_->updateTexture(t, 0, 0, 1, 1, green));
    // A texture destroyed right after its draw was queued still shows in that draw.
    const GpuTexture doomed = gpu_->createTexture(1, 1, green);
    gpu_->setWorldMatrix(GpuMatrix{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 1.0f, 0, 0, 1});
    gpu_->drawQuad(doomed, v, ShadeMode::TextureAlphaModulate);
    gpu_->destroyTexture(doomed);
    // Later quads cover earlier ones: a red fill over the last column queued after them.
    gpu_->setWorldMatrix(GpuMatrix{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1});
    fill(0.5f, 1, 1, 0, 0xFFFF0000u);
    const Pixels p = read();
    EXPECT_EQ(p.at(kW / 8, kH / 4), 0xFFFFFFFFu);          // first quad
    EXPECT_EQ(p.at(7 * kW / 8, 3 * kH / 4), 0xFFFFFFFFu);  // second, moved right and down
    EXPECT_EQ(p.at(3 * kW / 8, kH / 4), 0xFFFFFFFFu);      // third, drawn before the update
    EXPECT_EQ(p.at(5 * kW / 8, kH / 4), 0x00FF00FFu);      // the destroyed texture's draw
    EXPECT_EQ(p.at(7 * kW / 8, kH / 4), 0xFF0000FFu);      // the fill, last
    EXPECT_EQ(p.at(kW / 8, 3 * kH / 4), 0x000000FFu);      // nothing drawn there
    // The next draw of the updated texture shows the new pixels.
    gpu_->setWorldMatrix(GpuMatrix{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, -1.0f, 0, 1});
    gpu_->drawQuad(t, v, ShadeMode::TextureAlphaModulate);
    EXPECT_EQ(read().at(kW / 8, 3 * kH / 4), 0x00FF00FFu);
}

TEST_F(GlGpuTest, ManyTexturesInARowEachShowTheirOwnPixels) {
    // More distinct textures than one batch binds, in columns, with the shading modes mixed.
    constexpr int kColumns = 20;
    std::vector<GpuTexture> textures;
    for (int i = 0; i < kColumns; ++i) {
        const uint8_t bgra[] = {static_cast<uint8_t>(i * 12), static_cast<uint8_t>(255 - i * 12),
                                static_cast<uint8_t>(i * 7), 255};
        textures.push_back(gpu_->createTexture(1, 1, bgra));
        ASSERT_NE(textures.back(), 0u);
    }
    gpu_->setBlendMode(BlendMode::Alpha);
    for (int i = 0; i < kColumns; ++i) {
        GpuVertex v[4];
        const float left = -1.0f + 2.0f * i / kColumns;
        rect(v, left, 1, left + 2.0f / kColumns, -1, i % 3 == 2 ? 0x80FFFFFFu : 0xFFFFFFFFu);
        gpu_->drawQuad(textures[static_cast<size_t>(i)], v,
                       i % 3 == 1 ? ShadeMode::AlphaIgnore : ShadeMode::TextureAlphaModulate);
    }
    const Pixels p = read();
    for (int i = 0; i < kColumns; ++i) {
        const int x = static_cast<int>((i + 0.5f) * kW / kColumns);
        const uint32_t got = p.at(x, kH / 2);
        int r = i * 7, g = 255 - i * 12, b = i * 12;
        if (i % 3 == 2) {  // half alpha over black
            r = r * 128 / 255;
            g = g * 128 / 255;
            b = b * 128 / 255;
        }
        EXPECT_NEAR(static_cast<int>(got >> 24), r, 2) << "column " << i;
        EXPECT_NEAR(static_cast<int>((got >> 16) & 0xFF), g, 2) << "column " << i;
        EXPECT_NEAR(static_cast<int>((got >> 8) & 0xFF), b, 2) << "column " << i;
    }
    // Quads that go back and forth between a few textures under one state (glyphs on several
    // glyph pages) share draw calls: up to eight textures a call, each quad its own pixels.
    gpu_->clear(true, 0, 0, 0, 1, true, 1.0f, true, 0);
    const uint64_t before = gpu_->drawCalls();
    const int order[] = {0, 1, 0, 2, 3, 1, 4, 5, 6, 7, 8, 0};  // the ninth starts a second call
    constexpr int kQuads = static_cast<int>(std::size(order));
    for (int i = 0; i < kQuads; ++i) {
        GpuVertex v[4];
        const float left = -1.0f + 2.0f * i / kQuads;
        // Tinted (not white) like glyphs, so not the plain one-texture program.
        rect(v, left, 1, left + 2.0f / kQuads, -1, 0x80FEFEFEu);
        gpu_->drawQuad(textures[static_cast<size_t>(order[i])], v, ShadeMode::TextureAlphaModulate);
    }
    const Pixels mixed = read();
    EXPECT_EQ(gpu_->drawCalls() - before, 2u);
    for (int i = 0; i < kQuads; ++i) {
        const uint32_t got = mixed.at(static_cast<int>((i + 0.5f) * kW / kQuads), kH / 2);
        EXPECT_NEAR(static_cast<int>((got >> 16) & 0xFF), (255 - order[i] * 12) * 128 / 255, 2)
            << "quad " << i;
    }
    for (GpuTexture t : textures)
        gpu_->destroyTexture(t);
}

}  // namespace
}  // namespace vaxo2::platform
