#pragma once
// Font faces through FreeType and the installed faces through fontconfig. The engine asks for
// metrics, advances and coverage renderings at a pixel em size; everything GDI-like about how
// the message text uses them (oversampling, cell heights) is decided above this interface.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vaxo2::platform {

// Ascent above and descent below the baseline, whole pixels, at one em size.
struct FaceMetrics {
    int32_t ascent = 0;
    int32_t descent = 0;
};

class FontFace {
  public:
    ~FontFace();
    FontFace(const FontFace&) = delete;
    FontFace& operator=(const FontFace&) = delete;

    // A face from an installed font file (`index` within a collection). Null with `error`.
    static std::unique_ptr<FontFace> open(const std::string& path, int32_t index,
                                          std::string& error);
    // A face from font file bytes (a game's own font); the face keeps the bytes. Null with
    // `error` when FreeType does not take them.
    static std::unique_ptr<FontFace> fromMemory(std::vector<uint8_t> bytes, std::string& error);

    // Every family name the face carries (the English one first, then localised names from
    // the name table), UTF-8.
    std::vector<std::string> familyNames() const;
    bool covers(uint32_t codePoint) const;

    // Sizes: `emHeight` pixels per em vertically; `emWidth` horizontally (0: the same), so a
    // wider em stretches the glyphs. Sizes below 1 count as 1; absurd sizes are capped.
    // The cell the face's own vertical metrics give (the Windows metrics when it has them).
    FaceMetrics metrics(int32_t emHeight, int32_t emWidth);
    // Horizontal advance in whole pixels; 0 for a code point the face cannot load.
    int32_t advance(uint32_t codePoint, int32_t emHeight, int32_t emWidth);
    // Draws the code point's anti-aliased coverage (0 none, 255 full) into an 8-bit canvas of
    // width x height bytes with the pen at (0, ascent): the text-out position of a cell whose
    // top-left corner is the canvas origin. Coverage is combined with what is there by maximum;
    // whatever falls outside is clipped.
    void render(uint32_t codePoint, int32_t emHeight, int32_t emWidth, uint8_t* canvas,
                int32_t width, int32_t height);

  private:
    struct Impl;
    explicit FontFace(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

struct SystemFontMatch {
    std::string file;
    int32_t index = 0;
    std::string family;
};

// The installed face fontconfig picks for `family` with Japanese coverage required: when the
// best match for the name lacks kana or kanji (a Latin face standing in for a Japanese name),
// the best Japanese sans-serif face is taken instead. An empty family asks for that default.
// False when no installed face covers Japanese at all.
bool matchJapaneseFont(const std::string& family, SystemFontMatch& out);

}  // namespace vaxo2::platform
