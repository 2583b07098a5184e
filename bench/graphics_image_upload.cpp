// Picture costs on this machine: decoding a 1280x720 PNG to BGRA, and decoding plus uploading
// it as a texture on the offscreen GL context. Also the CPU cost of submitting many small
// textured quads (the per-draw overhead a glyph-heavy scene pays).
#include <benchmark/benchmark.h>

#include <time.h>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "bench_support.h"
#include "platform/gpu.h"
#include "platform/image_decoder.h"
#include "platform/screenshot.h"
#include "platform/window.h"

namespace {

using namespace vaxo2::platform;

// A background-like picture: smooth gradients with some grain, so it compresses as real art
// does rather than as a flat fill.
const std::vector<uint8_t>& samplePng() {
    static const std::vector<uint8_t> bytes = [] {
        const int w = 1280, h = 720;
        std::vector<uint8_t> rgba(static_cast<size_t>(w) * h * 4);
        uint32_t seed = 12345;
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                seed = seed * 1103515245u + 12345u;
                const int grain = static_cast<int>((seed >> 16) & 15) - 8;
                uint8_t* p = rgba.data() + (static_cast<size_t>(y) * w + x) * 4;
                p[0] = static_cast<uint8_t>(std::clamp(x * 255 / w + grain, 0, 255));
                p[1] = static_cast<uint8_t>(std::clamp(y * 255 / h + grain, 0, 255));
                p[2] = static_cast<uint8_t>(std::clamp((x + y) * 255 / (w + h) + grain, 0, 255));
                p[3] = 255;
            }
        }
        const std::string path = "/tmp/vaxo2_bench_upload.png";
        std::string error;
        if (!writePng(path, rgba.data(), w, h, error)) {
            std::fprintf(stderr, "cannot write the sample picture: %s\n", error.c_str());
            std::exit(1);
        }
        std::ifstream in(path, std::ios::binary);
        std::vector<uint8_t> b((std::istreambuf_iterator<char>(in)), {});
        std::remove(path.c_str());
        return b;
    }();
    return bytes;
}

using vaxo2::bench::gpuOrSkip;

void BM_DecodePng1280x720(benchmark::State& state) {
    const std::vector<uint8_t>& png = samplePng();
    BgraImage image;
    std::string error;
    for (auto _ : state) {
        if (!decodeImage(png.data(), png.size(), image, error)) {
            state.SkipWithError(error.c_str());
            return;
        }
        benchmark::DoNotOptimize(image.pixels.data());
    }
    state.counters["png_bytes"] = static_cast<double>(png.size());
}
BENCHMARK(BM_DecodePng1280x720)->Unit(benchmark::kMillisecond);

void BM_DecodeAndUploadPng1280x720(benchmark::State& state) {
    Gpu* gpu = gpuOrSkip(state);
    if (gpu == nullptr) return;
    const std::vector<uint8_t>& png = samplePng();
    BgraImage image;
    std::string error;
    for (auto _ : state) {
        if (!decodeImage(png.data(), png.size(), image, error)) {
            state.SkipWithError(error.c_str());
            return;
        }
        const GpuTexture t = gpu->createTexture(image.width, image.height, image.pixels.data());
        gpu->finish();
        benchmark::DoNotOptimize(t);
        gpu->destroyTexture(t);
    }
}
BENCHMARK(BM_DecodeAndUploadPng1280x720)->Unit(benchmark::kMillisecond)->UseRealTime();

// 1500 quads of one small texture, as glyphs are drawn: CPU time of the submission only (the
// GPU work is waited for outside the timed part).
void BM_SubmitSmallQuads(benchmark::State& state) {
    Gpu* gpu = gpuOrSkip(state);
    if (gpu == nullptr) return;
    const int count = static_cast<int>(state.range(0));
    std::vector<uint8_t> glyph(32 * 32 * 4, 0xFF);
    // One texture for all quads, or one per quad as separately drawn glyphs have.
    const int textures = state.range(1) != 0 ? count : 1;
    std::vector<GpuTexture> t(static_cast<size_t>(textures));
    for (GpuTexture& texture : t)
        texture = gpu->createTexture(32, 32, glyph.data());
    const GpuMatrix identity = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    gpu->setViewMatrix(identity);
    gpu->setProjectionMatrix(identity);
    gpu->setBlendMode(BlendMode::Alpha);
    double submitThread = 0, flushThread = 0;
    auto tcpu = [] {
        timespec ts{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
        return ts.tv_sec + ts.tv_nsec * 1e-9;
    };
    for (auto _ : state) {
        const double t0 = tcpu();
        for (int i = 0; i < count; ++i) {
            const float x = -1.0f + static_cast<float>(i % 60) / 30.0f;
            const float y = 1.0f - static_cast<float>(i / 60) / 15.0f;
            GpuVertex v[4] = {{x, y, 0, 0xFFFFFFFFu, 0, 0},
                              {x + 0.03f, y, 0, 0xFFFFFFFFu, 1, 0},
                              {x, y - 0.06f, 0, 0xFFFFFFFFu, 0, 1},
                              {x + 0.03f, y - 0.06f, 0, 0xFFFFFFFFu, 1, 1}};
            gpu->setWorldMatrix(identity);
            gpu->drawQuad(t[static_cast<size_t>(i % textures)], v, ShadeMode::TextureAlphaModulate);
        }
        const double t1 = tcpu();
        submitThread += t1 - t0;
        state.PauseTiming();
        gpu->finish();
        flushThread += tcpu() - t1;
        state.ResumeTiming();
    }
    for (GpuTexture texture : t)
        gpu->destroyTexture(texture);
    state.counters["submit_us"] = submitThread * 1e6 / state.iterations();
    state.counters["flush_us"] = flushThread * 1e6 / state.iterations();
}
// Arguments: quads, and whether each quad has a texture of its own.
BENCHMARK(BM_SubmitSmallQuads)
    ->Args({1500, 0})
    ->Args({2000, 0})
    ->Args({1500, 1})
    ->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
