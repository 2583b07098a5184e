#include "graphics/gpu_backend.h"

#include <gtest/gtest.h>

#include <vector>

#include "graphics/graphic_object.h"
#include "graphics/tree_draw.h"

namespace vaxo2::graphics {
namespace {

using platform::StencilFunc;
using platform::StencilOp;
using platform::StencilState;

// Records the state each quad was drawn with.
class FakeGpu : public platform::Gpu {
  public:
    struct Drawn {
        platform::GpuTexture texture;
        StencilState stencil;
        platform::BlendMode blend;
        platform::ShadeMode shade;
        platform::GpuMatrix world;
        uint32_t diffuse;
    };
    std::vector<Drawn> drawn;
    std::vector<std::string> calls;
    platform::GpuCaps capabilities{4096, 8, "fake", "0"};
    StencilState stencil;
    platform::BlendMode blend = platform::BlendMode::Off;
    platform::GpuMatrix world{};
    platform::GpuTexture next = 1;

    const platform::GpuCaps& caps() const override { return capabilities; }
    platform::GpuTexture createTexture(int32_t, int32_t, const uint8_t*) override { return next++; }
    bool updateTexture(platform::GpuTexture, int32_t, int32_t, int32_t, int32_t,
                       const uint8_t*) override {
        return true;
    }
    platform::GpuTexture createRenderTarget(int32_t, int32_t) override { return next++; }
    void destroyTexture(platform::GpuTexture) override {}
    bool textureSize(platform::GpuTexture, int32_t&, int32_t&) const override { return false; }
    void setDefaultTargetSize(int32_t, int32_t) override {}
    bool beginRenderTarget(platform::GpuTexture) override {
        calls.push_back("begin");
        return true;
    }
    void endRenderTarget() override { calls.push_back("end"); }
    void setViewport(int32_t, int32_t, int32_t, int32_t) override {}
    void viewport(int32_t&, int32_t&, int32_t&, int32_t&) const override {}
    void clear(bool, float, float, float, float a, bool, float, bool, uint8_t s) override {
        calls.push_back("clear a=" + std::to_string(static_cast<int>(a)) +
                        " s=" + std::to_string(s));
    }
    void setViewMatrix(const platform::GpuMatrix&) override {}
    void setProjectionMatrix(const platform::GpuMatrix&) override {}
    void setWorldMatrix(const platform::GpuMatrix& m) override { world = m; }
    void setDepthState(bool, bool) override {}
    void setStencilState(const StencilState& s) override { stencil = s; }
    void setBlendMode(platform::BlendMode mode) override { blend = mode; }
    void drawQuad(platform::GpuTexture texture, const platform::GpuVertex (&v)[4],
                  platform::ShadeMode mode) override {
        drawn.push_back(Drawn{texture, stencil, blend, mode, world, v[0].diffuse});
        calls.push_back("draw");
    }
    bool readPixels(std::vector<uint8_t>&, int32_t&, int32_t&) override { return false; }
    void finish() override {}
};

TEST(GpuStencil, TableOfStencilActions) {
    StencilState previous;
    previous.failOp = StencilOp::Increment;
    previous.depthFailOp = StencilOp::Decrement;

    const StencilState test = stencilStateFor(StencilMode::TestEqual255, previous);
    EXPECT_EQ(test.func, StencilFunc::LessEqual);
    EXPECT_EQ(test.reference, 255);
    EXPECT_EQ(test.passOp, StencilOp::Keep);
    EXPECT_EQ(test.failOp, StencilOp::Keep);
    EXPECT_EQ(test.depthFailOp, StencilOp::Keep);

    // 1 to 3 leave the fail ops as the previous draw set them.
    const StencilState write = stencilStateFor(StencilMode::Write255, previous);
    EXPECT_EQ(write.func, StencilFunc::Always);
    EXPECT_EQ(write.passOp, StencilOp::Replace);
    EXPECT_EQ(write.failOp, StencilOp::Increment);
    EXPECT_EQ(write.depthFailOp, StencilOp::Decrement);
    EXPECT_EQ(stencilStateFor(StencilMode::WriteZero, previous).passOp, StencilOp::Zero);
    EXPECT_EQ(stencilStateFor(StencilMode::Invert, previous).passOp, StencilOp::Invert);
    EXPECT_EQ(stencilStateFor(StencilMode::Unchanged, write), write);
}

TEST(GpuBackend, DrawsATransitionTreeIntoItsTargetAndThenAsOneFadedQuad) {
    FakeGpu gpu;
    GpuRenderBackend backend(gpu);
    backend.setBackBufferSize(1280, 720);
    GraphicObject root;
    GraphicObject* child = GraphicObject::create(&root, {1});
    child->StencilAction = 1;
    // A source made ready by hand: one tile, no file needed.
    child->setSource(sourceCache().acquire(static_cast<int32_t>(SourceKind::Image), "made"));
    child->source->tiles.assign(1, Tile{});
    child->source->tiles[0].texture = gpu.createTexture(4, 4, nullptr);
    child->source->state = 1;
    child->slots.at(0).Position = Float3{5, 0, 0};
    root.makeRenderTarget();
    root.setShader(shaderCache().acquire(kShaderKindPixel, ":AlphaIgnore"));
    StirSlot& fade = root.slots.at(0);
    fade.Transmittance = 0.25f;
    root.updateRoot(1);

    drawTree(root, backend, 16.0f / 9.0f);
    ASSERT_EQ(gpu.drawn.size(), 2u);
    EXPECT_EQ(gpu.calls.front(), "begin");
    EXPECT_EQ(gpu.calls[1], "clear a=1 s=0");
    // Inside the target: plain shading, alpha kept opaque, the child's stencil write.
    EXPECT_EQ(gpu.drawn[0].blend, platform::BlendMode::AlphaKeepCoverage);
    EXPECT_EQ(gpu.drawn[0].shade, platform::ShadeMode::TextureAlphaModulate);
    EXPECT_EQ(gpu.drawn[0].stencil.passOp, StencilOp::Replace);
    EXPECT_FLOAT_EQ(gpu.drawn[0].world[12], 5.0f);
    // The root: colour from the target, alpha from the vertex.
    EXPECT_EQ(gpu.drawn[1].blend, platform::BlendMode::Alpha);
    EXPECT_EQ(gpu.drawn[1].shade, platform::ShadeMode::AlphaIgnore);
    EXPECT_EQ(gpu.drawn[1].diffuse >> 24, 192u);
    EXPECT_EQ(gpu.blend, platform::BlendMode::Off);  // switched off after each draw
    child->source->state = 0;
    child->source->tiles.clear();
}

}  // namespace
}  // namespace vaxo2::graphics
