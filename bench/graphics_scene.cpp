// CPU cost of one frame's tree update and draw submission for a busy scene: 2 000 objects
// (backgrounds, sprites and 1 500 glyph-sized quads) with running slots, drawn into a backend
// that only counts. Also the cost of cutting a 1280x720 picture into textures.
#include <benchmark/benchmark.h>

#include "bench_support.h"

#include <algorithm>
#include <string>
#include <vector>

#include "graphics/graphic_object.h"
#include "graphics/tree_draw.h"
#include "platform/image_decoder.h"

namespace {

using namespace vaxo2::graphics;

class CountingBackend : public vaxo2::bench::CountingBackend {
  public:
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

// A 1280x720 PNG built here: RGBA rows with the Sub filter in stored (uncompressed) deflate
// blocks, so the benchmark needs no encoder. Decoding still runs the whole PNG path (chunks,
// CRCs, inflate, unfiltering, conversion to BGRA).
std::vector<uint8_t> makePng(uint32_t width, uint32_t height) {
    auto be32 = [](std::vector<uint8_t>& out, uint32_t v) {
        for (int i = 3; i >= 0; --i)
            out.push_back(static_cast<uint8_t>(v >> (8 * i)));
    };
    auto crc = [](const uint8_t* data, size_t n) {
        uint32_t c = 0xFFFFFFFFu;
        for (size_t i = 0; i < n; ++i) {
            c ^= data[i];
            for (int k = 0; k < 8; ++k)
                c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1u)));
        }
        return c ^ 0xFFFFFFFFu;
    };
    auto chunk = [&](std::vector<uint8_t>& out, const char* type,
                     const std::vector<uint8_t>& body) {
        be32(out, static_cast<uint32_t>(body.size()));
        std::vector<uint8_t> typed(type, type + 4);
        typed.insert(typed.end(), body.begin(), body.end());
        out.insert(out.end(), typed.begin(), typed.end());
        be32(out, crc(typed.data(), typed.size()));
    };
    std::vector<uint8_t> raw;
    for (uint32_t y = 0; y < height; ++y) {
        raw.push_back(1);  // Sub filter
        for (uint32_t x = 0; x < width; ++x) {
            const uint8_t px[4] = {static_cast<uint8_t>(x), static_cast<uint8_t>(y),
                                   static_cast<uint8_t>(x ^ y), 255};
            for (int c = 0; c < 4; ++c)
                raw.push_back(
                    x == 0 ? px[c]
                           : static_cast<uint8_t>(
                                 px[c] -
                                 (c == 3 ? 255 : (c == 0 ? x - 1 : (c == 1 ? y : ((x - 1) ^ y))))));
        }
    }
    std::vector<uint8_t> z = {0x78, 0x01};
    for (size_t at = 0; at < raw.size(); at += 65535) {
        const size_t n = std::min<size_t>(65535, raw.size() - at);
        z.push_back(at + n == raw.size() ? 1 : 0);
        z.push_back(static_cast<uint8_t>(n));
        z.push_back(static_cast<uint8_t>(n >> 8));
        z.push_back(static_cast<uint8_t>(~n));
        z.push_back(static_cast<uint8_t>(~n >> 8));
        z.insert(z.end(), raw.begin() + static_cast<ptrdiff_t>(at),
                 raw.begin() + static_cast<ptrdiff_t>(at + n));
    }
    uint32_t a = 1, b = 0;
    for (uint8_t v : raw) {
        a = (a + v) % 65521;
        b = (b + a) % 65521;
    }
    be32(z, (b << 16) | a);
    std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<uint8_t> header;
    be32(header, width);
    be32(header, height);
    header.insert(header.end(), {8, 6, 0, 0, 0});
    chunk(png, "IHDR", header);
    chunk(png, "IDAT", z);
    chunk(png, "IEND", {});
    return png;
}

// Reads the picture from memory, decodes it for real and cuts it into textures of a backend
// that only counts (the GL upload itself is measured with the GPU backend's own benchmark).
class PngBackend : public CountingBackend {
  public:
    std::vector<uint8_t> png = makePng(1280, 720);
    bool readFile(const std::string&, std::vector<uint8_t>& bytes) override {
        bytes = png;
        return true;
    }
    bool decodeImage(const std::vector<uint8_t>& bytes, DecodedImage& out) override {
        vaxo2::platform::BgraImage image;
        std::string error;
        if (!vaxo2::platform::decodeImage(bytes.data(), bytes.size(), image, error)) return false;
        out.width = image.width;
        out.height = image.height;
        out.bgra = std::move(image.pixels);
        return true;
    }
};

void BM_ImageDecodeAndTile720p(benchmark::State& state) {
    PngBackend backend;
    for (auto _ : state) {
        GraphicObject root;
        GraphicObject* object = GraphicObject::create(&root, {1});
        object->loadImage("picture.png");
        drawTree(root, backend, 16.0f / 9.0f);
        if (!object->source->ready()) state.SkipWithError("picture did not decode");
    }
    state.counters["pngBytes"] = static_cast<double>(backend.png.size());
}
BENCHMARK(BM_ImageDecodeAndTile720p)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
