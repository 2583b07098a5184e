#pragma once
// What several benchmarks set up the same way: an offscreen GL device at 1280x720, and a render
// backend that only counts what it is asked to do.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "graphics/render_backend.h"
#include "platform/gpu.h"
#include "platform/window.h"

namespace vaxo2::bench {

// One offscreen window with a GL context for the whole program (made on first use); `gpu` is
// null with `error` set where no context can be had.
struct GlSetup {
    std::unique_ptr<platform::Window> window;
    std::unique_ptr<platform::GlContext> context;
    std::unique_ptr<platform::Gpu> gpu;
    std::string error;
    GlSetup() {
        setenv("SDL_VIDEODRIVER", "offscreen", 1);
        window = platform::createWindow(platform::WindowOptions{"bench", 1280, 720, true}, error);
        if (window) context = window->createGlContext(error);
        if (context) gpu = platform::createGlGpu(error);
        if (gpu) {
            gpu->setDefaultTargetSize(1280, 720);
            gpu->setViewport(0, 0, 1280, 720);
        }
    }
};

inline GlSetup& gl() {
    static GlSetup setup;
    return setup;
}

// The GPU of the shared set-up, or null with the benchmark skipped when there is no GL context.
inline platform::Gpu* gpuOrSkip(benchmark::State& state) {
    GlSetup& setup = gl();
    if (!setup.gpu) state.SkipWithError(("no GL context: " + setup.error).c_str());
    return setup.gpu.get();
}

// A backend of a 1280x720 screen that makes texture numbers and counts textured quads; what a
// file holds and decodes to is the benchmark's own.
class CountingBackend : public graphics::RenderBackend {
  public:
    size_t quads = 0;
    size_t texturesMade = 0;
    int32_t maxTextureSize() override { return 8192; }
    graphics::TextureId createTexture(int32_t, int32_t, const uint8_t*) override {
        return ++texturesMade;
    }
    void destroyTexture(graphics::TextureId) override {}
    bool updateTexture(graphics::TextureId, int32_t, int32_t, int32_t, int32_t,
                       const uint8_t*) override {
        return true;
    }
    graphics::TextureId createRenderTarget(int32_t, int32_t) override { return ++texturesMade; }
    void backBufferSize(int32_t& w, int32_t& h) override {
        w = 1280;
        h = 720;
    }
    void beginRenderTarget(graphics::TextureId) override {}
    void endRenderTarget() override {}
    void drawQuad(const graphics::QuadDraw& quad) override {
        quads += quad.texture != 0;
        benchmark::DoNotOptimize(&quad);
    }
};

}  // namespace vaxo2::bench
