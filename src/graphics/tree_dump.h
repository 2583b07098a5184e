#pragma once
// The scene tree as JSON, for scenario writers and tests: every object with its layer path,
// source, resolved placement, slots, and for text objects the layout state and each glyph.
// The key names are an interface (tools read them); new keys may be added, none renamed.
//
// {"time": ms, "screen": [objects], "transition": [objects], "transitionFade": t | null}
// object: {"path", "file", "kind", "x", "y", "z", "scaleX", "scaleY", "roll", "transmittance",
//          "hidden", "stencilAction", "slots": [{"no", "time", "elapsed", "loop", "done", ...}],
//          "children": [objects], and for text objects "text": {"penX", "penY", "lineIndent",
//          "glyphCount", "appearDelay", "drawnText", ...} and
//          "glyphs": [{"char", "font", "color", "x", "y", "width", "height", "visible"}]}
#include <cstdint>
#include <string>

#include "graphics/graphic_object.h"

namespace vaxo2::graphics {

// Either root may be null (no transition: an empty list).
std::string dumpTreeJson(uint32_t timeMs, const GraphicObject* screenRoot,
                         const GraphicObject* transitionRoot);

// Text as a JSON string literal (quotes included); bytes that are not UTF-8 become U+FFFD.
std::string jsonString(const std::string& text);

}  // namespace vaxo2::graphics
