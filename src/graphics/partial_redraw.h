#pragma once
// Partial redraws of the window's picture. When the window keeps its picture from one present
// to the next (an offscreen surface does), a frame need only draw again where it differs from
// the previous one: a character that appears, a sprite that moves. Redrawing the whole screen
// for those costs a software rasterizer most of a core.
//
// The frame's draws into the window are recorded, not drawn, and compared with the previous
// frame's at its end: the draws both frames share at their start and at their end are the
// same, so every pixel that no other draw of either frame covers keeps its value. The rest is
// replayed in full order under a scissor around what the differing draws cover, which gives
// exactly the pixels a full redraw would. Draws into render targets go through at once, as
// before.
#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

#include "platform/gpu.h"

namespace vaxo2::graphics {

// A rectangle of window pixels, top-left origin; empty when a side is not positive.
struct PixelRect {
    int32_t x = 0, y = 0, width = 0, height = 0;
    bool empty() const { return width <= 0 || height <= 0; }
    bool operator==(const PixelRect&) const = default;
};

class PartialRedrawGpu final : public platform::Gpu {
  public:
    explicit PartialRedrawGpu(std::unique_ptr<platform::Gpu> inner);

    // Starts recording the window's draws of a frame.
    void beginFrame();
    // Draws what was recorded, only where it differs from the previous frame. Draws into the
    // window after this (in the same frame) go through at once and make the next frame whole.
    void resolveFrame();
    // The next frame is drawn whole (the window's picture is not the last frame's any more).
    void invalidate() { previousValid_ = false; }

    // What the last resolve drew: the scissor it used (the whole target when it drew without
    // one) and whether it drew at all (false: nothing had changed).
    const PixelRect& lastRedraw() const { return lastRedraw_; }
    bool lastDrew() const { return lastDrew_; }

    const platform::GpuCaps& caps() const override { return inner_->caps(); }
    platform::GpuTexture createTexture(int32_t width, int32_t height, const uint8_t* bgra) override;
    bool updateTexture(platform::GpuTexture texture, int32_t x, int32_t y, int32_t width,
                       int32_t height, const uint8_t* bgra) override;
    platform::GpuTexture createRenderTarget(int32_t width, int32_t height) override;
    void destroyTexture(platform::GpuTexture texture) override;
    bool textureSize(platform::GpuTexture texture, int32_t& width, int32_t& height) const override {
        return inner_->textureSize(texture, width, height);
    }
    void setDefaultTargetSize(int32_t width, int32_t height) override;
    bool beginRenderTarget(platform::GpuTexture target) override;
    void endRenderTarget() override;
    void setViewport(int32_t x, int32_t y, int32_t width, int32_t height) override;
    void viewport(int32_t& x, int32_t& y, int32_t& width, int32_t& height) const override;
    void clear(bool colour, float r, float g, float b, float a, bool depth, float depthValue,
               bool stencil, uint8_t stencilValue) override;
    void setViewMatrix(const platform::GpuMatrix& view) override;
    void setProjectionMatrix(const platform::GpuMatrix& projection) override;
    void setWorldMatrix(const platform::GpuMatrix& world) override;
    void setDepthState(bool test, bool write) override;
    void setStencilState(const platform::StencilState& state) override;
    void setBlendMode(platform::BlendMode mode) override;
    void drawQuad(platform::GpuTexture texture, const platform::GpuVertex (&vertices)[4],
                  platform::ShadeMode mode) override;
    void setScissor(bool enabled, int32_t x, int32_t y, int32_t width, int32_t height) override {
        inner_->setScissor(enabled, x, y, width, height);
    }
    bool readPixels(std::vector<uint8_t>& rgba, int32_t& width, int32_t& height) override;
    void finish() override { inner_->finish(); }
    void flush() override { inner_->flush(); }
    uint64_t drawCalls() const override { return inner_->drawCalls(); }

  private:
    struct States {
        int32_t viewport[4] = {0, 0, 0, 0};
        platform::GpuMatrix view{};
        platform::GpuMatrix projection{};
        platform::GpuMatrix world{};
        bool depthTest = false;
        bool depthWrite = false;
        platform::StencilState stencil;
        platform::BlendMode blend = platform::BlendMode::Off;
        bool operator==(const States&) const = default;
    };
    struct Command {
        bool isClear = false;
        States states;
        // A clear.
        bool colour = false, depth = false, stencil = false;
        float rgba[4] = {0, 0, 0, 0};
        float depthValue = 0;
        uint8_t stencilValue = 0;
        // A quad.
        platform::GpuTexture texture = 0;
        uint64_t textureVersion = 0;
        platform::GpuVertex vertices[4];
        platform::ShadeMode mode = platform::ShadeMode::TextureAlphaModulate;
        // Window pixels the command can change.
        PixelRect bounds;
        // Texels of `texture` it samples (with a texel around for filtering).
        PixelRect texels;
        bool sameDraw(const Command& other) const;
    };
    struct Version {
        uint64_t number = 0;
        // Rectangles written during the frame being recorded: only draws that sample them
        // changed, so that a glyph added to a shared page does not redraw all text.
        std::vector<PixelRect> writtenThisFrame;
    };

    bool recordingWindow() const { return recording_ && targetDepth_ == 0; }
    // Puts `states` into effect, only the parts that differ from `applied` (all when null).
    void apply(const States& states, const States* applied);
    PixelRect windowRect() const { return PixelRect{0, 0, targetWidth_, targetHeight_}; }
    PixelRect boundsOf(const Command& command) const;
    PixelRect texelsOf(const Command& command) const;
    bool sampledRegionWritten(const Command& command) const;
    void replay(const std::vector<Command>& commands);

    std::unique_ptr<platform::Gpu> inner_;
    States states_;
    std::vector<std::array<int32_t, 4>> savedViewports_;
    int targetDepth_ = 0;
    bool recording_ = false;
    int32_t targetWidth_ = 0;
    int32_t targetHeight_ = 0;
    std::vector<Command> frame_;
    std::vector<Command> previous_;
    bool previousValid_ = false;
    std::vector<platform::GpuTexture> destroyAfterFrame_;
    std::unordered_map<platform::GpuTexture, Version> versions_;
    uint64_t nextVersion_ = 1;
    PixelRect lastRedraw_;
    bool lastDrew_ = false;
};

}  // namespace vaxo2::graphics
