// Message text with the installed Japanese face: laying out a 1 000-character page whose glyphs
// are already built (goal <= 1 ms CPU), building 1 000 distinct kanji glyphs for the first time
// (goal <= 50 ms CPU), and one frame that shows a full page, both the tree's submission into a
// counting backend and the whole frame on the real GL device (goal <= 4 draw calls for the
// text, <= 1 ms CPU).
#include <benchmark/benchmark.h>

#include "bench_support.h"

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "graphics/display_device.h"
#include "graphics/game_fonts.h"
#include "graphics/text_engine.h"
#include "graphics/tree_draw.h"
#include "io/text_encoding.h"
#include "platform/window.h"

namespace {

using namespace vaxo2::graphics;

class CountingBackend : public vaxo2::bench::CountingBackend {
  public:
    bool readFile(const std::string&, std::vector<uint8_t>& bytes) override {
        bytes.assign(1, 'w');
        return true;
    }
    bool decodeImage(const std::vector<uint8_t>&, DecodedImage& out) override {
        out.width = 1000;
        out.height = 600;
        out.bgra.assign(static_cast<size_t>(out.width) * out.height * 4, 0x40);
        return true;
    }
};

// 1 000 characters of kana and common kanji, with a few line breaks and a ruby group.
std::string pageText() {
    std::string text = "「";
    const char32_t ranges[][2] = {{0x3042, 0x3093}, {0x30A2, 0x30F3}, {0x4E00, 0x4E80}};
    int placed = 1;
    for (int round = 0; placed < 1000; ++round) {
        for (const auto& range : ranges) {
            for (char32_t c = range[0]; c < range[1] && placed < 1000; c += 3 + round) {
                text += vaxo2::io::codePointToUtf8(static_cast<uint32_t>(c));
                ++placed;
            }
        }
    }
    return text;
}

struct Page {
    std::shared_ptr<CountingBackend> backend = std::make_shared<CountingBackend>();
    TextEngine engine;
    GraphicObject root;
    GraphicObject* message = nullptr;

    Page() {
        engine.install();
        engine.startFonts(gameFaceResolver("."));
        engine.setBackend(backend.get());
        root.StencilAction = 1;
        message = GraphicObject::create(&root, {100});
        message->loadImage("window.png");
        message->StencilAction = 1;
    }
    void write(GraphicObject& object, const std::string& text) {
        TextRequest request;
        request.text = text;
        request.charInterval = 0;
        object.textRequests.push_back(request);
        engine.processPendingText(object);
    }
};

void BM_LayoutPageCachedGlyphs(benchmark::State& state) {
    Page page;
    const std::string text = pageText();
    // A page kept on screen holds the glyphs, so the measured page finds them built.
    GraphicObject* warm = GraphicObject::create(&page.root, {101});
    warm->loadImage("window.png");
    page.write(*warm, text);
    for (auto _ : state) {
        page.write(*page.message, text);
        benchmark::DoNotOptimize(page.message->glyphChildren.size());
        state.PauseTiming();
        feedPage(*page.message);
        state.ResumeTiming();
    }
    state.counters["glyphs"] = static_cast<double>(warm->glyphChildren.size());
}
BENCHMARK(BM_LayoutPageCachedGlyphs)->Unit(benchmark::kMillisecond);

void BM_FirstBuildOfDistinctKanji(benchmark::State& state) {
    Page page;
    for (auto _ : state) {
        std::vector<SourceRef> glyphs;
        glyphs.reserve(1000);
        for (uint32_t c = 0x5000; c < 0x5000 + 1000; ++c) {
            float w = 0, h = 0;
            glyphs.push_back(page.engine.glyphs().acquire(vaxo2::io::codePointToUtf8(c), 0, w, h));
            realizeSource(*glyphs.back(), *page.backend);
        }
        benchmark::DoNotOptimize(glyphs.data());
        state.PauseTiming();
        glyphs.clear();  // the last references go: the next round builds them again
        state.ResumeTiming();
    }
    state.counters["pages"] = static_cast<double>(page.engine.glyphs().atlas().pageCount());
}
BENCHMARK(BM_FirstBuildOfDistinctKanji)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_FullPageSubmission(benchmark::State& state) {
    Page page;
    page.write(*page.message, pageText());
    page.root.updateRoot(1);
    drawSubtree(page.root, *page.backend);  // builds every glyph once
    for (auto _ : state) {
        page.root.updateRoot(2);
        drawSubtree(page.root, *page.backend);
    }
}
BENCHMARK(BM_FullPageSubmission)->Unit(benchmark::kMicrosecond);

// The whole frame on the GL device (offscreen; llvmpipe where there is no GPU).
void BM_FullPageFrameOnGl(benchmark::State& state) {
    setenv("SDL_VIDEODRIVER", "offscreen", 1);
    std::string error;
    auto window = vaxo2::platform::createWindow(
        vaxo2::platform::WindowOptions{"text bench", 1280, 720, true}, error);
    auto context = window ? window->createGlContext(error) : nullptr;
    if (!context) {
        state.SkipWithError(("no GL context: " + error).c_str());
        return;
    }
    DisplayDevice device;
    device.setMessageSink([](const std::string&, const std::string&) {});
    std::vector<uint8_t> windowPicture;
    device.setFileReader([](const std::string&, std::vector<uint8_t>&) { return false; });
    if (!device.check(std::move(context))) {
        state.SkipWithError("no display device");
        return;
    }
    device.create(window.get(), 1280, 720, 0);
    Page page;
    page.message->releaseSource();  // no window picture: only the text draws
    page.engine.setBackend(device.backend());
    page.write(*page.message, pageText());
    // With no window picture to mark the stencil, glyphs mark it themselves; otherwise the
    // device would rightly draw nothing of them.
    for (auto& [layer, glyph] : page.message->glyphChildren)
        glyph->StencilAction = 1;
    uint32_t now = 1;
    page.root.updateRoot(now);
    device.redrawWhole();
    device.renderFrame(&page.root, nullptr, now);
    const uint64_t before = device.gpu()->drawCalls();
    int64_t frames = 0;
    for (auto _ : state) {
        now += 16;
        page.root.updateRoot(now);
        // The whole page every frame, as a window on a display draws it.
        device.redrawWhole();
        device.renderFrame(&page.root, nullptr, now);
        ++frames;
    }
    state.counters["drawCalls/frame"] =
        static_cast<double>(device.gpu()->drawCalls() - before) / static_cast<double>(frames);
    page.root.layerChildren.clear();
    device.release();
}
BENCHMARK(BM_FullPageFrameOnGl)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
