// Whole trees drawn by the display device on a real (offscreen) OpenGL context and read back:
// placement in design pixels, the stencil rule, letterboxing and the crossfade target.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "graphics/display_device.h"
#include "graphics/graphic_object.h"
#include "platform/screenshot.h"

namespace vaxo2::graphics {
namespace {

// A picture whose top half has one colour (0xRRGGBB) and bottom half another.
std::vector<uint8_t> splitPng(int w, int h, uint32_t top, uint32_t bottom) {
    std::vector<uint8_t> rgba(static_cast<size_t>(w) * h * 4);
    for (size_t i = 0; i < rgba.size(); i += 4) {
        const uint32_t c =
            i / 4 / static_cast<size_t>(w) < static_cast<size_t>(h / 2) ? top : bottom;
        rgba[i] = static_cast<uint8_t>(c >> 16);
        rgba[i + 1] = static_cast<uint8_t>(c >> 8);
        rgba[i + 2] = static_cast<uint8_t>(c);
        rgba[i + 3] = 255;
    }
    // One file per process: CTest runs the cases of this program side by side.
    const std::string path =
        std::string(VAXO2_BINARY_DIR) + "/gl_display_test_" + std::to_string(getpid()) + ".png";
    std::string error;
    EXPECT_TRUE(platform::writePng(path, rgba.data(), w, h, error)) << error;
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
    std::remove(path.c_str());
    return bytes;
}

std::vector<uint8_t> solidPng(int w, int h, uint8_t r, uint8_t g, uint8_t b) {
    const uint32_t c = (uint32_t{r} << 16) | (uint32_t{g} << 8) | b;
    return splitPng(w, h, c, c);
}

class GlDisplayTest : public ::testing::Test {
  protected:
    void open(int w, int h, uint8_t handedness = 0) {
        setenv("SDL_VIDEODRIVER", "offscreen", 1);
        std::string error;
        window_ =
            platform::createWindow(platform::WindowOptions{"display test", w, h, true}, error);
        if (!window_) GTEST_SKIP() << "no window for a GL context: " << error;
        auto context = window_->createGlContext(error);
        if (!context) GTEST_SKIP() << "no GL context can be created here: " << error;
        device_ = std::make_unique<DisplayDevice>();
        device_->setMessageSink([](const std::string&, const std::string&) {});
        device_->setFileReader([this](const std::string& name, std::vector<uint8_t>& bytes) {
            auto it = files_.find(name);
            if (it == files_.end()) return false;
            bytes = it->second;
            return true;
        });
        ASSERT_TRUE(device_->check(std::move(context)));
        device_->create(window_.get(), 1280, 720, handedness);
        ASSERT_TRUE(device_->ready());
    }
    void TearDown() override {
        device_.reset();
        window_.reset();
    }

    GraphicObject* picture(GraphicObject& root, int64_t layer, const std::string& file,
                           int64_t stencilAction) {
        GraphicObject* o = GraphicObject::create(&root, LayerPath{layer});
        o->loadImage(file);
        o->StencilAction = stencilAction;
        return o;
    }

    struct Frame {
        std::vector<uint8_t> rgba;
        int w = 0, h = 0;
        // 0xRRGGBB
        uint32_t at(int x, int y) const {
            const uint8_t* p = rgba.data() + (static_cast<size_t>(y) * w + x) * 4;
            return (uint32_t{p[0]} << 16) | (uint32_t{p[1]} << 8) | p[2];
        }
    };
    Frame capture(GraphicObject* screen, GraphicObject* transition = nullptr) {
        Frame f;
        device_->requestCapture([&](const uint8_t* rgba, int w, int h) {
            if (!rgba) return;
            f.w = w;
            f.h = h;
            f.rgba.assign(rgba, rgba + static_cast<size_t>(w) * h * 4);
        });
        now_ += 16;
        EXPECT_TRUE(device_->renderFrame(screen, transition, now_).presented);
        return f;
    }

    std::unique_ptr<platform::Window> window_;
    std::unique_ptr<DisplayDevice> device_;
    std::map<std::string, std::vector<uint8_t>> files_;
    uint32_t now_ = 100;
};

TEST_F(GlDisplayTest, PictureCentredInDesignPixelsAndStencilLimitsLaterPictures) {
    open(1280, 720);
    files_["bar.png"] = solidPng(300, 20, 255, 255, 255);
    files_["red.png"] = solidPng(100, 100, 255, 0, 0);
    GraphicObject root;
    picture(root, 1, "bar.png", 1);
    picture(root, 2, "red.png", 0);
    const Frame f = capture(&root);
    ASSERT_EQ(f.w, 1280);
    ASSERT_EQ(f.h, 720);
    // The bar spans x = -150..150: pixels 490..789 of row 340 (above the red square).
    EXPECT_EQ(f.at(489, 352), 0x000000u);
    EXPECT_EQ(f.at(490, 352), 0xFFFFFFu);
    EXPECT_EQ(f.at(789, 352), 0xFFFFFFu);
    EXPECT_EQ(f.at(790, 352), 0x000000u);
    // Rows 350..369 hold the bar; the red square (590..689, 310..409) shows only over it.
    EXPECT_EQ(f.at(640, 355), 0xFF0000u);
    EXPECT_EQ(f.at(640, 349), 0x000000u);
    EXPECT_EQ(f.at(640, 370), 0x000000u);
    EXPECT_EQ(f.at(595, 360), 0xFF0000u);
    EXPECT_EQ(f.at(560, 360), 0xFFFFFFu);
}

TEST_F(GlDisplayTest, LeftHandedCameraGivesTheSamePicture) {
    open(1280, 720, 1);
    files_["corner.png"] = splitPng(100, 100, 0xFFFF00, 0x0000FF);
    GraphicObject root;
    picture(root, 0, "corner.png", 1);
    const Frame f = capture(&root);
    ASSERT_EQ(f.w, 1280);
    // Centred at (640, 360): yellow above the middle, blue below, nothing outside.
    EXPECT_EQ(f.at(640, 320), 0xFFFF00u);
    EXPECT_EQ(f.at(640, 400), 0x0000FFu);
    EXPECT_EQ(f.at(589, 320), 0x000000u);
    EXPECT_EQ(f.at(592, 320), 0xFFFF00u);
    EXPECT_EQ(f.at(640, 308), 0x000000u);
}

TEST_F(GlDisplayTest, FourThreeWindowShowsTheFullWidthWithBandsAboveAndBelow) {
    open(1024, 768);
    files_["full.png"] = solidPng(1280, 720, 0, 255, 0);
    GraphicObject root;
    picture(root, 0, "full.png", 1);
    const Frame f = capture(&root);
    ASSERT_EQ(f.w, 1024);
    ASSERT_EQ(f.h, 768);
    // 960 design units tall: 120-unit bands = 96 pixels at 0.8 pixel per unit.
    EXPECT_EQ(f.at(512, 94), 0x000000u);
    EXPECT_EQ(f.at(512, 98), 0x00FF00u);
    EXPECT_EQ(f.at(1, 384), 0x00FF00u);
    EXPECT_EQ(f.at(1022, 384), 0x00FF00u);
    EXPECT_EQ(f.at(512, 669), 0x00FF00u);
    EXPECT_EQ(f.at(512, 673), 0x000000u);
}

TEST_F(GlDisplayTest, TransitionTreeFadesItsTargetOverTheScreen) {
    open(1280, 720);
    files_["white.png"] = splitPng(200, 200, 0xFFFFFF, 0x00FF00);
    files_["blue.png"] = solidPng(1280, 720, 0, 0, 255);
    GraphicObject screen;
    picture(screen, 0, "blue.png", 1);
    GraphicObject transition;
    transition.makeRenderTarget();
    transition.setShader(shaderCache().acquire(kShaderKindPixel, ":AlphaIgnore"));
    picture(transition, 0, "white.png", 1);
    transition.transmittance = 0.5f;
    const Frame f = capture(&screen, &transition);
    // Inside the white square: half white over blue. Outside: half black over blue (the target
    // is cleared to opaque black and its alpha is ignored).
    const uint32_t inside = f.at(640, 300);
    EXPECT_NEAR(static_cast<int>(inside >> 16), 128, 3);
    EXPECT_NEAR(static_cast<int>(inside & 0xFF), 255, 3);
    const uint32_t outside = f.at(100, 100);
    EXPECT_NEAR(static_cast<int>(outside >> 16), 0, 3);
    EXPECT_NEAR(static_cast<int>(outside & 0xFF), 128, 3);
    // The target keeps the picture the right way up: white above, green below the middle.
    const uint32_t lower = f.at(640, 420);
    EXPECT_NEAR(static_cast<int>(lower >> 16), 0, 3);
    EXPECT_NEAR(static_cast<int>((lower >> 8) & 0xFF), 128, 3);
    EXPECT_NEAR(static_cast<int>(f.at(640, 300) >> 16), 128, 3);
    // The square keeps its place through the target: x 540..739.
    EXPECT_NEAR(static_cast<int>(f.at(542, 300) >> 16), 128, 3);
    EXPECT_NEAR(static_cast<int>(f.at(537, 300) >> 16), 0, 3);

    transition.transmittance = 1.0f;
    now_ += 16;
    const FrameResult r = device_->renderFrame(&screen, &transition, now_);
    EXPECT_TRUE(r.transitionFinished);
}

TEST_F(GlDisplayTest, BrokenPictureLeavesTheObjectWithoutAPicture) {
    open(640, 360);
    files_["broken.png"] = solidPng(50, 50, 255, 255, 255);
    files_["broken.png"].resize(60);  // truncated
    GraphicObject root;
    GraphicObject* o = picture(root, 0, "broken.png", 1);
    const Frame f = capture(&root);
    ASSERT_EQ(f.w, 640);
    EXPECT_EQ(f.at(320, 180), 0x000000u);
    ASSERT_TRUE(o->source);
    EXPECT_FALSE(o->source->ready());
}

}  // namespace
}  // namespace vaxo2::graphics
