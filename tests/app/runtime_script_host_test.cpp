// The text side of the script host as KeyWait uses it: the page time of the message object at
// layer 100, the guard while characters appear, and finishing all text through the queue.
#include <gtest/gtest.h>

#include "app/runtime_script_host.h"
#include "graphics/graphic_commands.h"
#include "queue/command_queue.h"

namespace vaxo2::app {
namespace {

// Every glyph an em square.
class SquareFace final : public graphics::GlyphFace {
  public:
    platform::FaceMetrics metrics(int32_t em, int32_t) override { return {em, 0}; }
    int32_t advance(uint32_t, int32_t em, int32_t) override { return em; }
    void render(uint32_t, int32_t, int32_t, uint8_t*, int32_t, int32_t) override {}
};

TEST(RuntimeScriptHostText, PageTimeGuardAndFinishAll) {
    core::AppContext app;
    core::ScopedAppContext published(app);
    graphics::GraphicObject root;
    app.screenRoot = &root;
    graphics::TextEngine engine;
    engine.install();
    auto face = std::make_shared<SquareFace>();
    engine.startFonts([face](const std::string&) { return face; });
    RuntimeScriptHost host(app);
    host.setTextEngine(&engine);
    queue::mainCommandQueue().clear();

    // No message object: no page time, nothing drawing.
    EXPECT_EQ(host.messageDisplayTime(), std::nullopt);
    EXPECT_FALSE(host.messageTextDrawing());

    graphics::GraphicObject* message = graphics::GraphicObject::create(&root, {100});
    graphics::TextRequest request;
    request.text = "abcde";
    request.charInterval = 250;
    request.appearMode = 1;
    request.appearStart = 300;
    message->textRequests.push_back(request);
    // Queued but not laid out yet already counts as drawing once the guard is up; before any
    // appearing text the guard is down.
    EXPECT_FALSE(host.messageTextDrawing());
    root.updateRoot(1000);
    EXPECT_EQ(host.messageDisplayTime(), 1250);  // max(5 x 100, 5 x 250)
    EXPECT_TRUE(host.messageTextDrawing());

    // A click while drawing: finish all, a frame, the guard cleared.
    host.queueTextDrawingAllFinish();
    host.releaseMainQueue();
    queue::QueExecuteContext context;
    context.screenRoot = &root;
    EXPECT_EQ(queue::mainCommandQueue().executeReleased(context), 1u);
    root.updateRoot(1016);
    host.clearMessageTextGuard();
    EXPECT_FALSE(host.messageTextDrawing());
    for (const auto& [key, glyph] : message->glyphChildren) EXPECT_LT(glyph->transmittance, 1.0f);

    // New appearing text raises the guard again.
    message->textRequests.push_back(request);
    root.updateRoot(1032);
    EXPECT_TRUE(host.messageTextDrawing());
    EXPECT_EQ(host.messageDisplayTime(), 2500);
}

}  // namespace
}  // namespace vaxo2::app
