// CPU cost of one frame's tree update and draw submission for a busy scene: 2 000 objects
// (backgrounds, sprites and 1 500 glyph-sized quads) with running slots, drawn into a backend
// that only counts. Also the cost of cutting a 1280x720 picture into textures.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "graphics/graphic_object.h"
#include "graphics/tree_draw.h"

namespace {

using namespace vaxo2::graphics;

class CountingBackend : public RenderBackend {
  public:
    size_t quads = 0;
    size_t texturesMade = 0;
    bool readFile(const std::string& name, std::vector<uint8_t>& bytes) override {
        bytes.assign(name.begin(), name.end());
        return true;
    }
    bool decodeImage(const std::vector<uint8_t>& bytes, DecodedImage& out) override {
        // Glyph pictures are small, the rest screen-sized.
        const bool glyph = bytes.size() > 0 && bytes[0] == 'g';
        out.width = glyph ? 32 : 1280;
        out.height = glyph ? 32 : 720;
        out.bgra.assign(static_cast<size_t>(out.width) * out.height * 4, 0x7F);
        return true;
    }
    int32_t maxTextureSize() override { return 8192; }
    TextureId createTexture(int32_t, int32_t, const uint8_t*) override { return ++texturesMade; }
    void destroyTexture(TextureId) override {}
    TextureId createRenderTarget(int32_t, int32_t) override { return ++texturesMade; }
    void backBufferSize(int32_t& w, int32_t& h) override {
        w = 1280;
        h = 720;
    }
    void beginRenderTarget(TextureId) override {}
    void endRenderTarget() override {}
    void drawQuad(const QuadDraw& quad) override {
        quads += quad.texture != 0;
        benchmark::DoNotOptimize(&quad);
    }
};

StirSlot moving(int64_t no, int64_t time, Float3 position) {
    StirSlot slot;
    slot.No = no;
    slot.Loop = -1;
    slot.Time = time;
    slot.Delay = 100;
    slot.Position = position;
    slot.Roll = 0.25f;
    slot.Transmittance = 0.3f;
    return slot;
}

void buildScene(GraphicObject& root) {
    for (int64_t i = 0; i < 4; ++i) {
        GraphicObject* bg = GraphicObject::create(&root, {i});
        bg->loadImage("bg" + std::to_string(i) + ".png");
        bg->StencilAction = 1;
    }
    for (int64_t i = 0; i < 495; ++i) {
        GraphicObject* sprite = GraphicObject::create(&root, {10, i});
        sprite->loadImage("sprite" + std::to_string(i % 20) + ".png");
        sprite->slots[1] = moving(1, 1000 + i, Float3{static_cast<float>(i), 10, 0});
    }
    GraphicObject* box = GraphicObject::create(&root, {20});
    for (int64_t i = 0; i < 1500; ++i) {
        auto glyph = std::make_unique<GraphicObject>(i, box);
        glyph->loadImage("glyph" + std::to_string(i % 300) + ".png");
        glyph->slots.at(0).Position = Float3{static_cast<float>(i % 40) * 30, -30.0f * (i / 40), 0};
        StirSlot appear;
        appear.No = 1;
        appear.Loop = 1;
        appear.Time = 200;
        appear.StartDelay = i * 5;
        appear.Transmittance = -1.0f;
        glyph->slots[1] = appear;
        box->glyphChildren.emplace(i, std::move(glyph));
    }
}

void BM_SceneFrame(benchmark::State& state) {
    CountingBackend backend;
    GraphicObject root;
    buildScene(root);
    uint32_t now = 1000;
    root.updateRoot(now);
    drawTree(root, backend, 16.0f / 9.0f);  // realize everything once
    const size_t textures = backend.texturesMade;
    for (auto _ : state) {
        now += 16;
        root.updateRoot(now);
        drawTree(root, backend, 16.0f / 9.0f);
    }
    state.counters["objects"] = 2000;
    state.counters["textures"] = static_cast<double>(textures);
    state.counters["quads/frame"] =
        static_cast<double>(backend.quads) / static_cast<double>(state.iterations() + 1);
    releaseAllTextures();
}
BENCHMARK(BM_SceneFrame)->Unit(benchmark::kMillisecond);

void BM_ImageUpload720p(benchmark::State& state) {
    CountingBackend backend;
    for (auto _ : state) {
        GraphicObject root;
        GraphicObject* object = GraphicObject::create(&root, {1});
        object->loadImage("picture.png");
        drawTree(root, backend, 16.0f / 9.0f);
    }
}
BENCHMARK(BM_ImageUpload720p)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
