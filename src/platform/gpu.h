#pragma once
// The engine's view of the graphics card: textures, render targets, fixed states and one quad
// draw. No graphics-library type shows here, so the engine and its tests can use a recording
// implementation; the real one (sdl/gl_gpu.cpp) drives an OpenGL 3.3 core context that must be
// current on the calling thread for every call.
//
// Matrices are 16 floats in row order for row vectors (p' = p * M, translation in elements
// 12..14), the convention of the engine's maths. Window coordinates have their origin at the
// top left. Pixels cross the interface as 8-bit BGRA (upload) and RGBA (read-back), rows top
// to bottom.
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vaxo2::platform {

// Opaque handle of a texture or render target; 0 is none.
using GpuTexture = uint64_t;

using GpuMatrix = std::array<float, 16>;

// Position, diffuse colour 0xAARRGGBB, one texture coordinate pair (v = 0 is the top row).
struct GpuVertex {
    float x = 0, y = 0, z = 0;
    uint32_t diffuse = 0xFFFFFFFFu;
    float u = 0, v = 0;
};

enum class StencilFunc : int32_t {
    Never,
    Less,
    Equal,
    LessEqual,
    Greater,
    NotEqual,
    GreaterEqual,
    Always
};
enum class StencilOp : int32_t { Keep, Zero, Replace, Increment, Decrement, Invert };

// The stencil test passes when (reference & mask) func (stored & mask).
struct StencilState {
    bool enabled = true;
    StencilFunc func = StencilFunc::Always;
    uint8_t reference = 0;
    uint8_t readMask = 0xFF;
    uint8_t writeMask = 0xFF;
    StencilOp failOp = StencilOp::Keep;
    StencilOp depthFailOp = StencilOp::Keep;
    StencilOp passOp = StencilOp::Keep;
    bool operator==(const StencilState&) const = default;
};

enum class BlendMode : int32_t {
    Off,
    // colour = src * srcAlpha + dst * (1 - srcAlpha), the same for alpha
    Alpha,
    // as Alpha for colour; alpha = srcAlpha + dstAlpha * (1 - srcAlpha), so that a picture
    // composited into a render target keeps an opaque target opaque
    AlphaKeepCoverage,
};

// How a fragment's colour is formed.
enum class ShadeMode : int32_t {
    // colour from the texture, alpha = texture alpha x vertex alpha
    TextureAlphaModulate,
    // colour from the texture, alpha from the vertex alone (texture alpha ignored)
    AlphaIgnore,
    // colour and alpha from the vertex (no texture)
    VertexColour,
    // colour from the vertex, alpha = texture alpha x vertex alpha: coverage textures (text
    // glyphs) drawn in a per-quad colour
    TintedCoverage,
};

struct GpuCaps {
    int32_t maxTextureSize = 0;
    int32_t stencilBits = 0;
    std::string renderer;  // driver's own description, for messages
    std::string version;
};

class Gpu {
  public:
    virtual ~Gpu() = default;

    virtual const GpuCaps& caps() const = 0;

    // A w x h texture from BGRA rows of w * 4 bytes (null: undefined content). 0 when it
    // cannot be made (size 0, above the maximum, out of memory).
    virtual GpuTexture createTexture(int32_t width, int32_t height, const uint8_t* bgra) = 0;
    // Replaces a rectangle of an existing texture; false when it does not fit.
    virtual bool updateTexture(GpuTexture texture, int32_t x, int32_t y, int32_t width,
                               int32_t height, const uint8_t* bgra) = 0;
    // A colour texture of w x h with its own depth24-stencil8 buffer (made when a draw first
    // needs it: a target whose draws the cleared values decide has none); it can be drawn into
    // (beginRenderTarget) and sampled like a texture. 0 when it cannot be made.
    virtual GpuTexture createRenderTarget(int32_t width, int32_t height) = 0;
    // Textures and render targets alike; unknown handles are ignored.
    virtual void destroyTexture(GpuTexture texture) = 0;
    virtual bool textureSize(GpuTexture texture, int32_t& width, int32_t& height) const = 0;

    // Size of the window's drawable (the default target).
    virtual void setDefaultTargetSize(int32_t width, int32_t height) = 0;
    // Draws into the render target from now on; the current target and viewport are pushed
    // and the viewport covers the whole target. The picture lands in the texture the same
    // way up as on screen: its v = 0 row holds the top of what was drawn. False (nothing
    // changes) for an unknown handle.
    virtual bool beginRenderTarget(GpuTexture target) = 0;
    // Pops back to the target and viewport before the matching begin.
    virtual void endRenderTarget() = 0;

    // Rectangle of the current target, top-left origin.
    virtual void setViewport(int32_t x, int32_t y, int32_t width, int32_t height) = 0;
    virtual void viewport(int32_t& x, int32_t& y, int32_t& width, int32_t& height) const = 0;
    // Clears the whole current target (not limited by the viewport). Colour components 0..1.
    virtual void clear(bool colour, float r, float g, float b, float a, bool depth,
                       float depthValue, bool stencil, uint8_t stencilValue) = 0;

    virtual void setViewMatrix(const GpuMatrix& view) = 0;
    virtual void setProjectionMatrix(const GpuMatrix& projection) = 0;
    virtual void setWorldMatrix(const GpuMatrix& world) = 0;

    // Depth test (less-or-equal) and depth writes. Depth is clamped instead of clipped, so a
    // projection with a near plane at 0 keeps what lies at depth 1.
    virtual void setDepthState(bool test, bool write) = 0;
    virtual void setStencilState(const StencilState& state) = 0;
    virtual void setBlendMode(BlendMode mode) = 0;

    // Four vertices as a triangle strip (two triangles); texture 0 draws untextured. Sampling
    // clamps at the edges and filters linearly (a quad that puts texels one to one on whole
    // pixels samples the nearest texel, which gives the same pixels for less work).
    virtual void drawQuad(GpuTexture texture, const GpuVertex (&vertices)[4], ShadeMode mode) = 0;

    // Limits the draws and clears into the window to the rectangle (top-left origin) until it
    // is turned off again; render-target passes are never limited.
    virtual void setScissor(bool /*enabled*/, int32_t /*x*/, int32_t /*y*/, int32_t /*width*/,
                            int32_t /*height*/) {}

    // Reads the current target as RGBA rows, top row first. False on failure.
    virtual bool readPixels(std::vector<uint8_t>& rgba, int32_t& width, int32_t& height) = 0;
    // Waits until the GPU has finished what was submitted (benchmarks, read-back).
    virtual void finish() = 0;
    // Quads may be queued and drawn together while their texture and states stay the same;
    // this submits what is queued. Call it before presenting. Read-back, clears, target and
    // viewport changes submit by themselves.
    virtual void flush() {}
    // Draw calls submitted so far (for measuring how well quads batch).
    virtual uint64_t drawCalls() const { return 0; }
};

// The OpenGL implementation over the context current on this thread. Null with `error` set
// when the context is below 3.3 or its programs do not build.
std::unique_ptr<Gpu> createGlGpu(std::string& error);

}  // namespace vaxo2::platform
