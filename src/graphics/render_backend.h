#pragma once
// What the layer tree needs from below to draw: file bytes, image decoding, textures, render
// targets and one textured-quad draw. The display device implements it on the real GPU; tests
// and benchmarks record the calls instead.
#include <cstdint>
#include <string>
#include <vector>

#include "graphics/graphic_source.h"
#include "graphics/transform.h"

namespace vaxo2::graphics {

struct DecodedImage {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint8_t> bgra;  // width * height * 4, top row first
    std::string error;          // why decoding failed (empty when it did not say)
};

// Stencil modes of the StencilAction table.
enum class StencilMode : int32_t {
    TestEqual255 = 0,  // passes where the stencil holds 255 (less-or-equal against 255), keeps
    Write255 = 1,      // always passes, writes 255
    WriteZero = 2,     // always passes, writes 0
    Invert = 3,        // always passes, inverts
    Unchanged = -1,    // leaves the state as the previous draw set it
};

StencilMode stencilModeFor(int64_t stencilAction);

struct QuadDraw {
    TextureId texture = 0;
    TileVertex vertices[4];  // triangle strip, diffuse already holds the alpha byte
    Mat4 world;
    StencilMode stencil = StencilMode::TestEqual255;
    // Text glyphs: the texture's alpha is coverage and the colour is `tint` (0xRRGGBB), so one
    // shared glyph texture shows in every object's own colour without being rewritten.
    bool tinted = false;
    uint32_t tint = 0;
    // Non-empty: the built-in program of that name (":AlphaIgnore" takes colour from the
    // texture and alpha from the vertex). Empty: texture colour, texture alpha x vertex alpha.
    std::string program;
};

class RenderBackend {
  public:
    virtual ~RenderBackend() = default;

    // Whole file through the resource layer; false when it cannot be read.
    virtual bool readFile(const std::string& name, std::vector<uint8_t>& bytes) = 0;
    // False for anything that is not a readable picture.
    virtual bool decodeImage(const std::vector<uint8_t>& bytes, DecodedImage& out) = 0;
    // Whether readFile and decodeImage are the resource layer's and the platform decoder's, as
    // the picture prefetch uses them: only then are its results taken.
    virtual bool readsLikePrefetch() const { return false; }
    virtual int32_t maxTextureSize() = 0;

    // A texture of w x h BGRA pixels (rows of w * 4 bytes); 0 when it cannot be made.
    virtual TextureId createTexture(int32_t width, int32_t height, const uint8_t* bgra) = 0;
    virtual void destroyTexture(TextureId texture) = 0;
    // Replaces a rectangle of a texture (glyph pages); false when it does not fit or the
    // backend cannot.
    virtual bool updateTexture(TextureId /*texture*/, int32_t /*x*/, int32_t /*y*/,
                               int32_t /*width*/, int32_t /*height*/, const uint8_t* /*bgra*/) {
        return false;
    }

    // Render target of that size with a depth-stencil buffer; 0 when it cannot be made. Its
    // texture is sampled like any other: v = 0 is the top row of what was drawn into it.
    virtual TextureId createRenderTarget(int32_t width, int32_t height) = 0;
    // Size of what a render target has to cover (the back buffer).
    virtual void backBufferSize(int32_t& width, int32_t& height) = 0;
    // Makes the target current (the previous one is kept to be restored) and clears it to
    // opaque black, depth 1, stencil 0.
    virtual void beginRenderTarget(TextureId target) = 0;
    virtual void endRenderTarget() = 0;

    virtual void drawQuad(const QuadDraw& quad) = 0;
};

}  // namespace vaxo2::graphics
