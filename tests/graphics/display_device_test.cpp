// The display device over a recording GPU, context and window: back-buffer and camera rules,
// the start-up check's messages, the frame routine with idle frames and captures, reset
// scheduling, display options with commit and revert, and the transition tree.
#include "graphics/display_device.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "graphics/graphic_object.h"
#include "platform/screenshot.h"

namespace vaxo2::graphics {
namespace {

using platform::GpuTexture;

class FakeGpu : public platform::Gpu {
  public:
    struct Draw {
        GpuTexture texture;
        platform::ShadeMode mode;
        platform::StencilState stencil;
        platform::BlendMode blend;
        bool intoTarget;
    };
    platform::GpuCaps capsValue{4096, 8, "fake", "3.3"};
    std::vector<std::string> events;
    std::vector<Draw> draws;
    int clears = 0;
    int stencilSets = 0;
    platform::StencilState stencil;
    platform::BlendMode blend = platform::BlendMode::Off;
    platform::GpuMatrix view{}, projection{};
    int32_t vp[4] = {0, 0, 0, 0};
    int32_t defaultW = 0, defaultH = 0;
    int targetDepth = 0;
    GpuTexture next = 1;
    int renderTargetsAlive = 0;

    const platform::GpuCaps& caps() const override { return capsValue; }
    GpuTexture createTexture(int32_t, int32_t, const uint8_t*) override { return next++; }
    bool updateTexture(GpuTexture, int32_t, int32_t, int32_t, int32_t, const uint8_t*) override {
        return true;
    }
    GpuTexture createRenderTarget(int32_t w, int32_t h) override {
        events.push_back("target " + std::to_string(w) + "x" + std::to_string(h));
        ++renderTargetsAlive;
        return 1000 + next++;
    }
    void destroyTexture(GpuTexture t) override {
        if (t > 1000) --renderTargetsAlive;
    }
    bool textureSize(GpuTexture, int32_t&, int32_t&) const override { return false; }
    void setDefaultTargetSize(int32_t w, int32_t h) override {
        defaultW = w;
        defaultH = h;
    }
    bool beginRenderTarget(GpuTexture) override {
        ++targetDepth;
        events.push_back("begin");
        return true;
    }
    void endRenderTarget() override {
        --targetDepth;
        events.push_back("end");
    }
    void setViewport(int32_t x, int32_t y, int32_t w, int32_t h) override {
        vp[0] = x;
        vp[1] = y;
        vp[2] = w;
        vp[3] = h;
    }
    void viewport(int32_t& x, int32_t& y, int32_t& w, int32_t& h) const override {
        x = vp[0];
        y = vp[1];
        w = vp[2];
        h = vp[3];
    }
    void clear(bool colour, float r, float g, float b, float a, bool depth, float depthValue,
               bool st, uint8_t stencilValue) override {
        ++clears;
        EXPECT_TRUE(colour && depth && st);
        EXPECT_EQ(r + g + b, 0.0f);
        EXPECT_EQ(a, 1.0f);
        EXPECT_EQ(depthValue, 1.0f);
        EXPECT_EQ(stencilValue, 0);
        events.push_back(targetDepth ? "clear target" : "clear screen");
    }
    void setViewMatrix(const platform::GpuMatrix& m) override { view = m; }
    void setProjectionMatrix(const platform::GpuMatrix& m) override { projection = m; }
    void setWorldMatrix(const platform::GpuMatrix&) override {}
    void setDepthState(bool test, bool write) override {
        EXPECT_TRUE(test);
        EXPECT_FALSE(write);
    }
    void setStencilState(const platform::StencilState& s) override {
        stencil = s;
        ++stencilSets;
    }
    void setBlendMode(platform::BlendMode mode) override { blend = mode; }
    void drawQuad(GpuTexture t, const platform::GpuVertex (&)[4],
                  platform::ShadeMode mode) override {
        draws.push_back(Draw{t, mode, stencil, blend, targetDepth > 0});
        events.push_back("draw");
    }
    bool readPixels(std::vector<uint8_t>& rgba, int32_t& w, int32_t& h) override {
        w = defaultW;
        h = defaultH;
        rgba.assign(static_cast<size_t>(w) * h * 4, 7);
        events.push_back("read");
        return true;
    }
    void finish() override {}
};

class FakeContext : public platform::GlContext {
  public:
    int w = 1280, h = 720;
    int swaps = 0;
    bool refuseBlankWait = false;
    std::vector<int> intervals;
    std::vector<std::string>* events = nullptr;
    bool makeCurrent() override { return true; }
    void swapBuffers() override {
        ++swaps;
        if (events) events->push_back("swap");
    }
    bool setSwapInterval(int interval) override {
        intervals.push_back(interval);
        return !(refuseBlankWait && interval == 1);
    }
    void drawableSize(int& width, int& height) override {
        width = w;
        height = h;
    }
    void clear(float, float, float, float) override {}
    bool readBackBuffer(std::vector<uint8_t>&, int&, int&) override { return false; }
};

class FakeWindow : public platform::Window {
  public:
    platform::Rect client{0, 0, 1280, 720};
    platform::Rect monitor{0, 0, 1920, 1080};
    std::vector<std::string> calls;
    bool peekMessage(platform::WindowMessage&) override { return false; }
    void waitMessage(uint32_t) override {}
    void postMessage(const platform::WindowMessage&) override {}
    void show(bool) override {}
    void setTitle(const std::string&) override {}
    void setCursor(const platform::Cursor*) override {}
    void setWindowed(int, int, int, int) override {}
    void restoreFrame() override {}
    void setBorderless(const platform::Rect&) override {}
    void setExclusiveFullScreen(int w, int h) override {
        calls.push_back("exclusive " + std::to_string(w) + "x" + std::to_string(h));
    }
    platform::Rect monitorRect() override { return monitor; }
    void displayModeSize(int& w, int& h) override {
        w = 2560;
        h = 1440;
    }
    bool clientRect(platform::Rect& rect) override {
        rect = client;
        return true;
    }
    void destroy() override {}
    bool headless() const override { return false; }
    std::unique_ptr<platform::GlContext> createGlContext(std::string&) override { return nullptr; }
};

TEST(DisplayDeviceRules, BackBufferFollowsClientSizeAboveHalfTheDesignSize) {
    const platform::Rect monitor{0, 0, 1920, 1200};
    int32_t w = 0, h = 0;
    backBufferSizeFor(false, false, 1920, 1080, 1280, 720, monitor, w, h);
    EXPECT_EQ(w, 1920);
    EXPECT_EQ(h, 1080);
    backBufferSizeFor(false, false, 600, 400, 1280, 720, monitor, w, h);
    EXPECT_EQ(w, 1280);  // 600 is not more than half of 1280
    EXPECT_EQ(h, 400);
    backBufferSizeFor(false, false, 640, 360, 1280, 720, monitor, w, h);
    EXPECT_EQ(w, 1280);  // exactly half stays at the design size
    EXPECT_EQ(h, 720);
    backBufferSizeFor(true, true, 600, 400, 1280, 720, monitor, w, h);
    EXPECT_EQ(w, 1280);
    EXPECT_EQ(h, 720);
    backBufferSizeFor(true, false, 600, 400, 1280, 720, monitor, w, h);
    EXPECT_EQ(w, 1920);
    EXPECT_EQ(h, 1200);
}

// Where a design point lands in the viewport, in pixels from the top left.
void landing(const CameraSetup& c, float x, float y, int vw, int vh, float& px, float& py) {
    const Vec4 clip = transformVec4(Vec3{x, y, 0}, c.view * c.projection);
    px = (clip.x / clip.w * 0.5f + 0.5f) * vw;
    py = (0.5f - clip.y / clip.w * 0.5f) * vh;
}

TEST(DisplayDeviceRules, CameraShowsTheWholeDesignAreaAndLetterboxes) {
    const CameraSetup wide = cameraFor(1280, 720, 1920, 1080, 0);
    EXPECT_FLOAT_EQ(wide.dist, 12800);
    EXPECT_FLOAT_EQ(wide.visibleHeight, 720);
    EXPECT_NEAR(wide.fovY, 2 * std::atan(360.0f / 12800.0f), 1e-7);
    float px, py;
    landing(wide, -640, 360, 1920, 1080, px, py);
    EXPECT_NEAR(px, 0, 0.05);
    EXPECT_NEAR(py, 0, 0.05);

    // 4:3: the full width shows and 960 design units of height, bands above and below.
    const CameraSetup square = cameraFor(1280, 720, 1024, 768, 0);
    EXPECT_FLOAT_EQ(square.visibleHeight, 960);
    landing(square, 640, 360, 1024, 768, px, py);
    EXPECT_NEAR(px, 1024, 0.05);
    EXPECT_NEAR(py, 768 * (120.0f / 960.0f), 0.05);  // band of 120 units above

    // Left-handed: the same picture.
    const CameraSetup left = cameraFor(1280, 720, 1024, 768, 1);
    float lx, ly;
    landing(left, 640, 360, 1024, 768, lx, ly);
    EXPECT_NEAR(lx, px, 0.05);
    EXPECT_NEAR(ly, py, 0.05);
    EXPECT_FALSE(left.view == square.view);

    // Wider than 16:9: height fixed, extra width at the sides.
    const CameraSetup ultra = cameraFor(1280, 720, 2560, 1080, 0);
    EXPECT_FLOAT_EQ(ultra.visibleHeight, 720);
    landing(ultra, 0, -360, 2560, 1080, px, py);
    EXPECT_NEAR(px, 1280, 0.05);
    EXPECT_NEAR(py, 1080, 0.05);
}

class DisplayDeviceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        device.setMessageSink([this](const std::string& text, const std::string& caption) {
            messages.push_back(caption + ": " + text);
        });
        device.setGpuFactory([this](std::string&) {
            auto g = std::make_unique<FakeGpu>();
            gpu = g.get();
            return g;
        });
        device.setFileReader([](const std::string&, std::vector<uint8_t>&) { return false; });
    }
    void start(uint8_t handedness = 0) {
        auto c = std::make_unique<FakeContext>();
        context = c.get();
        ASSERT_TRUE(device.check(std::move(c)));
        context->events = &gpu->events;
        device.create(&window, 1280, 720, handedness);
        ASSERT_TRUE(device.ready());
    }
    DisplayDevice device;
    FakeWindow window;
    FakeGpu* gpu = nullptr;
    FakeContext* context = nullptr;
    std::vector<std::string> messages;
};

TEST_F(DisplayDeviceTest, CheckShowsTheMessagesAndRefusesWithoutAContextOrShaders) {
    EXPECT_FALSE(device.check(nullptr));
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], "Direct3D DeviceCreateError: Direct3DCreate False");
    device.setGpuFactory([](std::string& error) {
        error = "too old";
        return std::unique_ptr<platform::Gpu>();
    });
    EXPECT_FALSE(device.check(std::make_unique<FakeContext>()));
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[1],
              "Direct3D DeviceCreateError: Programmable Shader 2.0 Not Ready\n\nCreation of the "
              "graphic device went wrong.");
    EXPECT_FALSE(device.ready());
    const FrameResult r = device.renderFrame(nullptr, nullptr, 10);
    EXPECT_FALSE(r.drawn);
}

TEST_F(DisplayDeviceTest, FrameSetsUpTheCameraClearsDrawsAndPresents) {
    window.client = platform::Rect{0, 0, 600, 400};
    auto c = std::make_unique<FakeContext>();
    c->w = 600;
    c->h = 400;
    FakeContext* ctx = c.get();
    ASSERT_TRUE(device.check(std::move(c)));
    device.create(&window, 1280, 720, 0);
    EXPECT_EQ(device.backBufferWidth(), 1280);
    EXPECT_EQ(device.backBufferHeight(), 400);
    EXPECT_EQ(device.monitorRect().width(), 2560);  // desktop size at creation

    GraphicObject root;
    const FrameResult r = device.renderFrame(&root, nullptr, 5);
    EXPECT_TRUE(r.drawn);
    EXPECT_TRUE(r.presented);
    EXPECT_EQ(ctx->swaps, 1);
    EXPECT_EQ(device.frameCount(), 1u);
    // Windowed: the viewport is the client area, the camera uses its aspect.
    EXPECT_EQ(gpu->vp[2], 600);
    EXPECT_EQ(gpu->vp[3], 400);
    EXPECT_NEAR(device.lastCamera().windowAspect, 1.5f, 1e-6);
    EXPECT_NEAR(device.lastCamera().visibleHeight, 1280.0f / 1.5f, 1e-3);
    EXPECT_EQ(gpu->view, toArray(device.lastView()));
    EXPECT_EQ(gpu->projection, toArray(device.lastProjection()));
    EXPECT_EQ(gpu->clears, 1);
    EXPECT_TRUE(gpu->stencil.enabled);
    EXPECT_EQ(gpu->stencil.readMask, 255);
}

TEST_F(DisplayDeviceTest, IdleFramesAreNotPresentedButCapturesAndChangesAre) {
    start();
    GraphicObject root;
    EXPECT_TRUE(device.renderFrame(&root, nullptr, 1).presented);
    const FrameResult idle = device.renderFrame(&root, nullptr, 17);
    EXPECT_TRUE(idle.drawn);
    EXPECT_FALSE(idle.presented);
    EXPECT_EQ(context->swaps, 1);

    int captured = 0;
    device.requestCapture([&](const uint8_t* rgba, int w, int h) {
        ++captured;
        ASSERT_NE(rgba, nullptr);
        EXPECT_EQ(w, 1280);
        EXPECT_EQ(h, 720);
        EXPECT_EQ(rgba[0], 7);
    });
    gpu->events.clear();
    EXPECT_TRUE(device.renderFrame(&root, nullptr, 33).presented);
    EXPECT_EQ(captured, 1);
    // Read before the swap, after the drawing.
    ASSERT_GE(gpu->events.size(), 2u);
    EXPECT_EQ(gpu->events[gpu->events.size() - 2], "read");
    EXPECT_EQ(gpu->events.back(), "swap");
    EXPECT_FALSE(device.renderFrame(&root, nullptr, 49).presented);
    EXPECT_EQ(captured, 1);  // served once

    device.invalidate();
    EXPECT_TRUE(device.renderFrame(&root, nullptr, 65).presented);
    EXPECT_EQ(context->swaps, 3);
}

TEST_F(DisplayDeviceTest, ScheduledResetWaitsForItsTimeAcrossTheClockWrap) {
    start();
    GraphicObject root;
    const uint32_t base = 0xFFFFFFC0u;
    device.requestReset(base + 100);  // wraps past zero
    EXPECT_TRUE(device.renderFrame(&root, nullptr, base).drawn);
    EXPECT_TRUE(device.renderFrame(&root, nullptr, base + 99).drawn);
    const FrameResult resetFrame = device.renderFrame(&root, nullptr, base + 100);
    EXPECT_FALSE(resetFrame.drawn);  // the reset takes the frame
    EXPECT_EQ(device.resetScheduledAt(), 0u);
    // After a reset the picture is drawn again even though nothing changed.
    EXPECT_TRUE(device.renderFrame(&root, nullptr, base + 116).presented);

    // A lost device: no drawing, a reset at once, then drawing resumes.
    device.markLost();
    EXPECT_FALSE(device.renderFrame(&root, nullptr, 200).drawn);
    EXPECT_FALSE(device.lost());
    EXPECT_FALSE(device.renderFrame(&root, nullptr, 216).drawn);  // the reset
    EXPECT_TRUE(device.renderFrame(&root, nullptr, 232).presented);
}

TEST_F(DisplayDeviceTest, FullScreenToggleCommitsOptionsAndMarksTheModeChange) {
    start();
    GraphicObject root;
    device.renderFrame(&root, nullptr, 1);
    device.toggleFullScreenRequest();
    EXPECT_FALSE(device.renderFrame(&root, nullptr, 17).drawn);
    EXPECT_TRUE(device.fullScreen());
    EXPECT_FALSE(device.options().fullScreen.changed);
    EXPECT_TRUE(device.takeModeChanged());
    EXPECT_FALSE(device.takeModeChanged());
    EXPECT_FALSE(device.recentre());
    // Borderless: the back buffer is the monitor that holds the window.
    EXPECT_EQ(device.backBufferWidth(), 1920);
    EXPECT_EQ(device.backBufferHeight(), 1080);
    device.renderFrame(&root, nullptr, 33);
    EXPECT_EQ(gpu->vp[2], 1920);  // full screen: the viewport is the back buffer

    // Exclusive: the mode switches to the design size.
    device.requestOptions(true, false, false, 40);  // what is already in effect
    EXPECT_EQ(device.resetScheduledAt(), 0u);
    device.requestOptions(true, true, false, 40);
    EXPECT_EQ(device.resetScheduledAt(), 40u);
    device.renderFrame(&root, nullptr, 49);
    EXPECT_TRUE(device.exclusiveFullScreen());
    ASSERT_EQ(window.calls.size(), 1u);
    EXPECT_EQ(window.calls[0], "exclusive 1280x720");

    // Back to windowed: centred again.
    device.toggleFullScreenRequest();
    device.renderFrame(&root, nullptr, 65);
    EXPECT_FALSE(device.fullScreen());
    EXPECT_TRUE(device.takeRecentre());
    EXPECT_TRUE(device.takeModeChanged());
}

TEST_F(DisplayDeviceTest, FailedResetRevertsTheOptionsAndRetriesOnce) {
    start();
    GraphicObject root;
    device.renderFrame(&root, nullptr, 1);
    EXPECT_EQ(context->intervals.back(), 1);  // the blank wait by default
    context->refuseBlankWait = true;
    device.options().flipSwap.request(true);
    device.options().fullScreen.request(true);
    device.requestReset(10);
    const size_t before = context->intervals.size();
    EXPECT_FALSE(device.renderFrame(&root, nullptr, 17).drawn);
    EXPECT_FALSE(device.flipSwap());
    EXPECT_FALSE(device.fullScreen());
    EXPECT_FALSE(device.options().flipSwap.value);
    EXPECT_FALSE(device.options().fullScreen.value);
    EXPECT_TRUE(device.modeChanged());
    EXPECT_TRUE(device.recentre());
    // First try with the blank wait, the retry without it falls back to immediate swaps.
    const std::vector<int> tried(context->intervals.begin() + static_cast<long>(before),
                                 context->intervals.end());
    EXPECT_EQ(tried, (std::vector<int>{1, 1, 0}));
    EXPECT_TRUE(device.renderFrame(&root, nullptr, 33).presented);

    // flipSwap that the driver honours commits.
    context->refuseBlankWait = false;
    device.options().flipSwap.request(true);
    device.requestReset(40);
    device.renderFrame(&root, nullptr, 49);
    EXPECT_TRUE(device.flipSwap());
}

TEST_F(DisplayDeviceTest, StencilActionsMapToTheTableAndOthersKeepTheLastState) {
    start();
    ASSERT_NE(device.backend(), nullptr);
    RenderBackend& backend = *device.backend();
    QuadDraw quad;
    quad.texture = 5;
    quad.stencil = StencilMode::Write255;
    backend.drawQuad(quad);
    ASSERT_EQ(gpu->draws.size(), 1u);
    platform::StencilState s = gpu->draws[0].stencil;
    EXPECT_EQ(s.func, platform::StencilFunc::Always);
    EXPECT_EQ(s.reference, 255);
    EXPECT_EQ(s.passOp, platform::StencilOp::Replace);
    EXPECT_EQ(gpu->draws[0].blend, platform::BlendMode::Alpha);
    EXPECT_EQ(gpu->blend, platform::BlendMode::Off);  // switched off after the draw
    EXPECT_EQ(gpu->draws[0].mode, platform::ShadeMode::TextureAlphaModulate);

    quad.stencil = StencilMode::TestEqual255;
    backend.drawQuad(quad);
    s = gpu->draws[1].stencil;
    EXPECT_EQ(s.func, platform::StencilFunc::LessEqual);
    EXPECT_EQ(s.passOp, platform::StencilOp::Keep);
    EXPECT_EQ(s.failOp, platform::StencilOp::Keep);

    quad.stencil = StencilMode::Invert;
    backend.drawQuad(quad);
    EXPECT_EQ(gpu->draws[2].stencil.passOp, platform::StencilOp::Invert);
    quad.stencil = StencilMode::WriteZero;
    backend.drawQuad(quad);
    EXPECT_EQ(gpu->draws[3].stencil.passOp, platform::StencilOp::Zero);
    quad.stencil = StencilMode::Unchanged;
    quad.program = ":AlphaIgnore";
    backend.drawQuad(quad);
    EXPECT_TRUE(gpu->draws[4].stencil == gpu->draws[3].stencil);
    EXPECT_EQ(gpu->draws[4].mode, platform::ShadeMode::AlphaIgnore);
}

TEST_F(DisplayDeviceTest, TransitionTreeDrawsThroughItsTargetUntilItsFadeEnds) {
    start();
    GraphicObject screen;
    GraphicObject transition;
    transition.makeRenderTarget();
    transition.setShader(shaderCache().acquire(kShaderKindPixel, ":AlphaIgnore"));
    transition.transmittance = 0.5f;
    gpu->events.clear();
    const FrameResult r = device.renderFrame(&screen, &transition, 1);
    EXPECT_TRUE(r.presented);
    EXPECT_FALSE(r.transitionFinished);
    // The screen is cleared for the screen tree only; the transition clears its target.
    const std::vector<std::string> expected = {
        "clear screen", "target 1280x720", "begin", "clear target", "end", "draw", "swap"};
    EXPECT_EQ(gpu->events, expected);
    ASSERT_EQ(gpu->draws.size(), 1u);
    EXPECT_EQ(gpu->draws[0].mode, platform::ShadeMode::AlphaIgnore);
    EXPECT_FALSE(gpu->draws[0].intoTarget);

    transition.transmittance = 1.0f;
    gpu->events.clear();
    const FrameResult done = device.renderFrame(&screen, &transition, 17);
    EXPECT_TRUE(done.transitionFinished);
    EXPECT_EQ(gpu->events, (std::vector<std::string>{"clear screen", "swap"}));

    // A reset drops the render target so that it is rebuilt at the new size.
    EXPECT_EQ(gpu->renderTargetsAlive, 1);
    device.requestReset(20);
    device.renderFrame(&screen, nullptr, 33);
    EXPECT_EQ(gpu->renderTargetsAlive, 0);

    // Drawn again, then released at the render thread's end: the target goes with the GPU
    // and the source is left to be rebuilt on a later device.
    transition.transmittance = 0.25f;
    device.renderFrame(&screen, &transition, 49);
    EXPECT_EQ(gpu->renderTargetsAlive, 1);
    ASSERT_TRUE(transition.source->ready());
    device.release();
    EXPECT_FALSE(device.ready());
    EXPECT_FALSE(transition.source->ready());
    EXPECT_EQ(transition.source->backend, nullptr);
    EXPECT_FALSE(device.renderFrame(&screen, &transition, 65).drawn);
}

// A StencilAction outside 0 to 3 leaves the stencil state as the previous draw set it: the
// previous draw of the same tree in the same frame. A tree starts from the reset state, so
// what an object shows never depends on what another tree or the previous frame drew last.
TEST_F(DisplayDeviceTest, OutOfRangeStencilActionInheritsWithinItsTreeAndFrameOnly) {
    const std::string file =
        ::testing::TempDir() + "/vaxo2-stencil-" + std::to_string(::getpid()) + ".png";
    const std::vector<uint8_t> rgba(2 * 2 * 4, 200);
    std::string error;
    ASSERT_TRUE(platform::writePng(file, rgba.data(), 2, 2, error)) << error;
    std::ifstream in(file, std::ios::binary);
    const std::vector<uint8_t> png((std::istreambuf_iterator<char>(in)), {});
    std::remove(file.c_str());
    device.setFileReader([&png](const std::string&, std::vector<uint8_t>& bytes) {
        bytes = png;
        return true;
    });
    start();
    auto picture = [](GraphicObject& root, int64_t layer, int64_t stencilAction) {
        GraphicObject* object = GraphicObject::create(&root, {layer});
        object->loadImage("p.png");
        object->StencilAction = stencilAction;
    };
    GraphicObject screen;
    picture(screen, 1, 1);   // writes 255
    picture(screen, 2, 7);   // inherits "writes 255"
    picture(screen, 3, 2);   // writes 0
    picture(screen, 4, -1);  // inherits "writes 0", the last state of this tree
    GraphicObject transition;
    transition.makeRenderTarget();
    picture(transition, 1, 9);  // first in its tree: the reset state
    transition.transmittance = 0.5f;
    gpu->draws.clear();
    device.renderFrame(&screen, &transition, 1);
    ASSERT_EQ(gpu->draws.size(), 6u);
    const platform::StencilState reset{};
    EXPECT_EQ(gpu->draws[0].stencil.passOp, platform::StencilOp::Replace);
    EXPECT_TRUE(gpu->draws[1].stencil == gpu->draws[0].stencil);
    EXPECT_EQ(gpu->draws[2].stencil.passOp, platform::StencilOp::Zero);
    EXPECT_TRUE(gpu->draws[3].stencil == gpu->draws[2].stencil);
    EXPECT_TRUE(gpu->draws[4].intoTarget);
    EXPECT_TRUE(gpu->draws[4].stencil == reset);

    // The next frame: an out-of-range object drawn first starts from the reset state, not from
    // the last draw of the frame before.
    GraphicObject next;
    picture(next, 1, 4);
    picture(next, 2, 3);
    gpu->draws.clear();
    device.invalidate();
    device.renderFrame(&next, nullptr, 17);
    ASSERT_EQ(gpu->draws.size(), 2u);
    EXPECT_TRUE(gpu->draws[0].stencil == reset);
    EXPECT_EQ(gpu->draws[1].stencil.passOp, platform::StencilOp::Invert);
}

}  // namespace
}  // namespace vaxo2::graphics
