// Message layout from arbitrary texts and control codes: the first bytes choose the box size,
// the interval and the repeat flag, the rest is the text. Laying it out, running its appearance,
// dumping the tree, finishing, re-laying it out and feeding the page must never read outside
// the text or take unbounded time.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "graphics/graphic_commands.h"
#include "graphics/text_engine.h"
#include "graphics/tree_dump.h"

namespace {

using namespace vaxo2::graphics;

// Every glyph an em square; nothing is rendered here.
class SquareFace final : public GlyphFace {
  public:
    vaxo2::platform::FaceMetrics metrics(int32_t em, int32_t) override { return {em, 0}; }
    int32_t advance(uint32_t codePoint, int32_t em, int32_t) override {
        return codePoint < 0x80 ? em / 2 : em;
    }
    void render(uint32_t, int32_t, int32_t, uint8_t*, int32_t, int32_t) override {}
};

struct Engine {
    TextEngine engine;
    Engine() {
        engine.install();
        auto face = std::make_shared<SquareFace>();
        engine.startFonts([face](const std::string&) { return face; });
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Engine text;
    if (size < 3) return 0;
    GraphicObject root;
    GraphicObject* message = GraphicObject::create(&root, {100});
    TextRequest request;
    request.text.assign(reinterpret_cast<const char*>(data) + 3, size - 3);
    request.charInterval = data[0] % 4 == 0 ? 0 : data[0];
    request.appearMode = data[1] & 1;
    request.repeatAppearance = (data[1] >> 1) & 1;
    request.repeatPeriod = data[2] * 10;
    request.appearStart = 300;
    message->textRequests.push_back(request);
    message->textRequests.push_back(request);
    root.updateRoot(1000);
    root.updateRoot(1000 + data[2] * 7u);
    const std::string json = dumpTreeJson(0, &root, nullptr);
    classQue_GraphicStdTextDrawingAllFinish finish;
    vaxo2::queue::QueExecuteContext context;
    context.target = &root;
    finish.execute(context);
    text.engine.relayout(*message);
    root.updateRoot(2000);
    feedPage(*message);
    return json.empty() ? 1 : 0;
}
