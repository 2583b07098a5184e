#pragma once
// The layer tree's RenderBackend on the real GPU: files through the resource loader, pictures
// through the platform decoder, quads through platform::Gpu with the StencilAction table,
// alpha blending and the shading of the object's program.
#include "graphics/render_backend.h"
#include "platform/gpu.h"

namespace vaxo2::graphics {

// The stencil state a StencilAction sets, given the state the previous draw left: the ops
// the table marks "unchanged" keep their previous values. Values outside 0..3 keep it all.
platform::StencilState stencilStateFor(StencilMode mode, const platform::StencilState& previous);

class GpuRenderBackend : public RenderBackend {
  public:
    explicit GpuRenderBackend(platform::Gpu& gpu) : gpu_(gpu) {}

    bool readFile(const std::string& name, std::vector<uint8_t>& bytes) override;
    bool decodeImage(const std::vector<uint8_t>& bytes, DecodedImage& out) override;
    bool readsLikePrefetch() const override { return true; }
    // What readFile and decodeImage do, for the picture prefetch's threads.
    static bool readPicture(const std::string& name, std::vector<uint8_t>& bytes);
    static bool decodePicture(const std::vector<uint8_t>& bytes, DecodedImage& out);
    int32_t maxTextureSize() override;
    TextureId createTexture(int32_t width, int32_t height, const uint8_t* bgra) override;
    void destroyTexture(TextureId texture) override;
    bool updateTexture(TextureId texture, int32_t x, int32_t y, int32_t width, int32_t height,
                       const uint8_t* bgra) override;
    TextureId createRenderTarget(int32_t width, int32_t height) override;
    void backBufferSize(int32_t& width, int32_t& height) override;
    void beginRenderTarget(TextureId target) override;
    void endRenderTarget() override;
    void drawQuad(const QuadDraw& quad) override;

    // The size a render target must have (the back buffer in use); set by the display device.
    void setBackBufferSize(int32_t width, int32_t height) {
        backWidth_ = width;
        backHeight_ = height;
    }
    // The frame begins with this stencil state (the device's set-up).
    void resetStencil(const platform::StencilState& state) { stencil_ = state; }

  private:
    platform::Gpu& gpu_;
    platform::StencilState stencil_{};
    int32_t backWidth_ = 1280;
    int32_t backHeight_ = 720;
    int renderTargetDepth_ = 0;
};

}  // namespace vaxo2::graphics
