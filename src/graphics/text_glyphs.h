#pragma once
// Glyph sources: one shared, reference-counted text source (kind 3) per (character, font),
// measured when the layout first asks for it and rendered into a glyph page at its first draw.
// A glyph is either drawn from the font (oversampled 2x, or 4x with superSample, and reduced
// to coverage) or taken from a character-set picture.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "graphics/font_table.h"
#include "graphics/glyph_atlas.h"
#include "graphics/graphic_source.h"
#include "graphics/render_backend.h"

namespace vaxo2::graphics {

class GraphicObject;

// What a glyph source carries beside the common source fields.
struct GlyphInfo final : SourceExtension {
    ~GlyphInfo() override;

    bool measured = false;
    float displayWidth = 0;  // what the layout advances by
    float displayHeight = 0;
    int32_t pixelWidth = 0;  // texture pixels
    int32_t pixelHeight = 0;
    float drawScaleX = 1;
    float drawScaleY = 1;
    // Character-set pictures: the file, its kind, and its pixels (null: unreadable, the glyph
    // draws nothing).
    std::string picture;
    CharacterSetKind pictureKind = CharacterSetKind::None;
    std::shared_ptr<const DecodedImage> pixels;
    // Set when a character set took over a glyph that was already built.
    bool rebuild = false;
    // The colour the shared glyph last took; a glyph object whose colour cannot tint draws in
    // it, as the shared texture of a re-tinting renderer would still show it.
    uint32_t lastTint = 0;
    // Where its pixels live.
    std::shared_ptr<GlyphAtlas> atlas;
    GlyphAtlas::Region region;
};

// The GDI-style measurement of a font glyph.
struct GlyphMetrics {
    int32_t emHeight = 0;  // the oversampled em that is rendered
    int32_t emWidth = 0;
    int32_t ascent = 0;  // of the oversampled face: the pen's y in the canvas
    int32_t cx = 0;      // extent at the oversampled size
    int32_t cy = 0;
    int32_t q = 1;           // 2 with superSample
    float s = 2.0f;          // oversampling scale
    int32_t pixelWidth = 0;  // cx / q, cy / q
    int32_t pixelHeight = 0;
    float displayWidth = 0;
    float displayHeight = 0;
};
GlyphMetrics measureFontGlyph(FontDefinition& font, uint32_t codePoint);

// Reads and decodes a picture by resource name (the game's files in the runtime).
using PictureReader = std::function<bool(const std::string& name, DecodedImage& out)>;

class TextGlyphs {
  public:
    explicit TextGlyphs(FontTable& fonts);

    // The glyph source for one character (its UTF-8 sequence) in a font, measured; `width` and
    // `height` receive its display size.
    SourceRef acquire(const std::string& character, int64_t fontNo, float& width, float& height);

    // The realizer of text sources: renders (or takes the picture) and uploads to a page.
    bool realize(GraphicSource& source, RenderBackend& backend);

    // Just before a glyph object draws: rebuilds a source a character set took over, and says
    // whether (and in which colour) the coverage is tinted. Pictures that keep their colours
    // are not tinted.
    bool tintFor(GraphicObject& object, RenderBackend& backend, uint32_t& rgb);

    // GraphicCharactorSet / OrignalCharactorSet: false when the font number has no
    // definition. An unreadable list leaves the font's settings changed and no pictures.
    bool loadCharacterSet(
        int64_t fontNo, const std::string& listFile, int64_t defaultWidth, int64_t defaultHeight,
        CharacterSetKind kind,
        const std::function<bool(const std::string&, std::vector<uint8_t>&)>& readFile,
        const PictureReader& readPicture);

    GlyphAtlas& atlas() { return *atlas_; }
    FontTable& fonts() { return fonts_; }

  private:
    GlyphInfo& infoOf(GraphicSource& source);
    void measure(GraphicSource& source, GlyphInfo& info);

    FontTable& fonts_;
    std::shared_ptr<GlyphAtlas> atlas_;
};

// The first code point of a UTF-8 character as a Windows call would see it (through UTF-16:
// malformed or out-of-range sequences give U+FFFD); 0 for an empty text.
uint32_t glyphCodePoint(const std::string& character);

}  // namespace vaxo2::graphics
