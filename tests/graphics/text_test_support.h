#pragma once
// A font face with a fixed metric for layout tests: every glyph is a full em square (so a
// 30-pixel font gives 30 x 30 glyphs through the 4x oversampling), ascent = em, no descent.
#include <algorithm>
#include <memory>

#include "graphics/font_table.h"
#include "graphics/text_engine.h"
#include "recording_backend.h"

namespace vaxo2::graphics::testing {

class SquareFace final : public GlyphFace {
  public:
    platform::FaceMetrics metrics(int32_t emHeight, int32_t) override { return {emHeight, 0}; }
    int32_t advance(uint32_t, int32_t emHeight, int32_t emWidth) override {
        return emWidth != 0 ? emWidth / 2 : emHeight;
    }
    void render(uint32_t, int32_t emHeight, int32_t, uint8_t* canvas, int32_t width,
                int32_t height) override {
        ++renders;
        // A filled square inset by an eighth of the em.
        const int32_t inset = emHeight / 8;
        for (int32_t y = inset; y < std::min(height, emHeight - inset); ++y) {
            for (int32_t x = inset; x < std::min(width, emHeight - inset); ++x) {
                canvas[y * width + x] = 255;
            }
        }
    }
    int renders = 0;
};

// A text engine over square faces, installed for the test's lifetime.
struct SquareTextEngine {
    std::shared_ptr<SquareFace> face = std::make_shared<SquareFace>();
    RecordingBackend backend;  // outlives the engine's glyph pages
    TextEngine engine;

    SquareTextEngine() {
        engine.install();
        engine.startFonts([this](const std::string&) { return face; });
        engine.setBackend(&backend);
    }
};

}  // namespace vaxo2::graphics::testing
