#include "graphics/gpu_backend.h"

#include <string>

#include "graphics/math.h"
#include "io/resource_loader.h"
#include "platform/image_decoder.h"

namespace vaxo2::graphics {

platform::StencilState stencilStateFor(StencilMode mode, const platform::StencilState& previous) {
    using platform::StencilFunc;
    using platform::StencilOp;
    platform::StencilState state = previous;
    state.enabled = true;
    state.reference = 255;
    switch (mode) {
        case StencilMode::TestEqual255:
            state.func = StencilFunc::LessEqual;
            state.passOp = StencilOp::Keep;
            state.depthFailOp = StencilOp::Keep;
            state.failOp = StencilOp::Keep;
            return state;
        case StencilMode::Write255:
            state.func = StencilFunc::Always;
            state.passOp = StencilOp::Replace;
            return state;
        case StencilMode::WriteZero:
            state.func = StencilFunc::Always;
            state.passOp = StencilOp::Zero;
            return state;
        case StencilMode::Invert:
            state.func = StencilFunc::Always;
            state.passOp = StencilOp::Invert;
            return state;
        case StencilMode::Unchanged:
            break;
    }
    return previous;
}

bool GpuRenderBackend::readFile(const std::string& name, std::vector<uint8_t>& bytes) {
    return readPicture(name, bytes);
}

bool GpuRenderBackend::decodeImage(const std::vector<uint8_t>& bytes, DecodedImage& out) {
    return decodePicture(bytes, out);
}

bool GpuRenderBackend::readPicture(const std::string& name, std::vector<uint8_t>& bytes) {
    return io::loadResource(name, bytes, false);
}

bool GpuRenderBackend::decodePicture(const std::vector<uint8_t>& bytes, DecodedImage& out) {
    platform::BgraImage image;
    std::string error;
    if (!platform::decodeImage(bytes.data(), bytes.size(), image, error)) {
        out.error = std::move(error);
        return false;
    }
    out.width = image.width;
    out.height = image.height;
    out.bgra = std::move(image.pixels);
    return true;
}

int32_t GpuRenderBackend::maxTextureSize() {
    return gpu_.caps().maxTextureSize;
}

TextureId GpuRenderBackend::createTexture(int32_t width, int32_t height, const uint8_t* bgra) {
    return gpu_.createTexture(width, height, bgra);
}

void GpuRenderBackend::destroyTexture(TextureId texture) {
    gpu_.destroyTexture(texture);
}

bool GpuRenderBackend::updateTexture(TextureId texture, int32_t x, int32_t y, int32_t width,
                                     int32_t height, const uint8_t* bgra) {
    return gpu_.updateTexture(texture, x, y, width, height, bgra);
}

TextureId GpuRenderBackend::createRenderTarget(int32_t width, int32_t height) {
    return gpu_.createRenderTarget(width, height);
}

void GpuRenderBackend::backBufferSize(int32_t& width, int32_t& height) {
    width = backWidth_;
    height = backHeight_;
}

void GpuRenderBackend::beginRenderTarget(TextureId target) {
    if (!gpu_.beginRenderTarget(target)) {
        return;
    }
    ++renderTargetDepth_;
    gpu_.clear(true, 0.0f, 0.0f, 0.0f, 1.0f, true, 1.0f, true, 0);
}

void GpuRenderBackend::endRenderTarget() {
    if (renderTargetDepth_ > 0) {
        --renderTargetDepth_;
        gpu_.endRenderTarget();
    }
}

void GpuRenderBackend::drawQuad(const QuadDraw& quad) {
    const platform::StencilState next = stencilStateFor(quad.stencil, stencil_);
    if (!(next == stencil_)) {
        stencil_ = next;
    }
    gpu_.setStencilState(stencil_);
    // Inside a render target the target's own alpha must stay opaque: the transition shows it
    // through its vertex alpha only.
    gpu_.setBlendMode(renderTargetDepth_ > 0 ? platform::BlendMode::AlphaKeepCoverage
                                             : platform::BlendMode::Alpha);
    gpu_.setWorldMatrix(toArray(quad.world));
    platform::GpuVertex vertices[4];
    // A tinted glyph carries its colour in the vertices, beside the alpha byte.
    const uint32_t tint = quad.tinted ? (quad.tint & 0xFFFFFFu) : 0;
    for (int i = 0; i < 4; ++i) {
        const TileVertex& v = quad.vertices[i];
        const uint32_t diffuse = quad.tinted ? ((v.diffuse & 0xFF000000u) | tint) : v.diffuse;
        vertices[i] = platform::GpuVertex{v.x, v.y, v.z, diffuse, v.u, v.v};
    }
    // Only the built-in program is known; any other name draws with the plain stages.
    platform::ShadeMode mode = quad.program == ":AlphaIgnore"
                                   ? platform::ShadeMode::AlphaIgnore
                                   : platform::ShadeMode::TextureAlphaModulate;
    if (quad.tinted && quad.program.empty()) mode = platform::ShadeMode::TintedCoverage;
    gpu_.drawQuad(quad.texture, vertices, mode);
    gpu_.setBlendMode(platform::BlendMode::Off);
}

}  // namespace vaxo2::graphics
