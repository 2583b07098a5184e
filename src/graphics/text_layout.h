#pragma once
// The message layout: turns an object's pending text requests into glyph children, one per
// character, placed with slot 0 from the object's pen and given appearance slots so that the
// characters show one after another along the page's time line. In-line codes: "\n" (the two
// characters) breaks the line, "@f(N)" changes the font, "@u+(N)" places code point N, and
// "@r(base,ruby)" sets ruby above a group. Lines wrap at the width of the object's own image,
// never before one of the line-start-forbidden characters; a page that opens with "「" indents
// its continuation lines by 30.
#include <cstdint>
#include <string>
#include <string_view>

#include "graphics/font_table.h"
#include "graphics/graphic_object.h"
#include "graphics/render_backend.h"
#include "graphics/text_glyphs.h"

namespace vaxo2::graphics {

struct LayoutServices {
    TextGlyphs& glyphs;
    FontTable& fonts;
    // Builds the object's own image when it is not yet (its size is the text box); null: an
    // image not built yet counts as no box.
    RenderBackend* backend = nullptr;
    // Set when a glyph was placed with appearance slots (the text is appearing).
    bool placedAppearing = false;
};

// Lays out every pending request of the object (it must not be hidden: the caller decides);
// returns whether any was processed.
bool processPendingText(GraphicObject& object, LayoutServices& services);

// The page's text state back to an empty page (PageFeed): glyphs, drawn text, pending
// requests, pen, indent, glyph count and appearance delay.
void feedPage(GraphicObject& object);

// After a restore from a save: the drawn text is laid out again at once, in font 0 and
// `textColor`, as one request.
void relayoutText(GraphicObject& object, int64_t textColor, LayoutServices& services);

// The 20 characters before which a line is never wrapped.
bool lineStartForbidden(std::string_view character);

// Decimal value by the C library's atol rules (blanks, sign, digits; 0 without digits),
// saturating instead of overflowing.
int64_t decimalValue(std::string_view text);

// Characters of a UTF-8 text counted by their lead bytes (a byte that cannot lead counts once).
size_t characterCount(std::string_view text);

}  // namespace vaxo2::graphics
