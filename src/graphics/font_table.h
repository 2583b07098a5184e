#pragma once
// The font table: font numbers to faces, sizes, widths and character sets. Default fonts are
// made at start-up and resolved once through a cascade (each definition starts from the one
// before it), which fills the Windows-style records the glyph renderer and the layout read.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "graphics/graphic_source.h"
#include "platform/font.h"
#include "queue/queued_command.h"

namespace vaxo2::graphics {

// A face as the text engine uses it: FreeType in the runtime, a fixed metric in tests.
// Sizes are pixels per em (height, and width where 0 means the same).
class GlyphFace {
  public:
    virtual ~GlyphFace() = default;
    virtual platform::FaceMetrics metrics(int32_t emHeight, int32_t emWidth) = 0;
    virtual int32_t advance(uint32_t codePoint, int32_t emHeight, int32_t emWidth) = 0;
    // Coverage into an 8-bit canvas of width x height with the pen at (0, ascent).
    virtual void render(uint32_t codePoint, int32_t emHeight, int32_t emWidth, uint8_t* canvas,
                        int32_t width, int32_t height) = 0;
};

// Face name (UTF-8, may be empty) to a face; null when none can be had.
using FaceResolver = std::function<std::shared_ptr<GlyphFace>(const std::string& faceName)>;

// The size a Windows font of height 0 takes.
constexpr int32_t kDefaultEmHeight = 16;

// The parts of LOGFONTW and TEXTMETRICW the renderers read. Mapped from GDI once: lfHeight
// -size is an em of `size` pixels; tmHeight is the face's ascent + descent at that em; a
// non-zero lfWidth is an average character width, which for the Japanese faces in use is
// half an em, so the horizontal em is 2 x lfWidth.
struct LogFont {
    int32_t lfHeight = 0;
    int32_t lfWidth = 0;
    std::u16string lfFaceName;  // at most 31 units
    uint8_t lfCharSet = 128;    // SHIFTJIS_CHARSET
};
struct TextMetric {
    int32_t tmHeight = 0;
    int32_t tmAscent = 0;
    int32_t tmDescent = 0;
};

enum class CharacterSetKind : int32_t { None = 0, Mask = 1, Colour = 2 };

struct FontSettings {
    std::string faceName;  // empty: not given
    queue::OptionalInt size;
    int64_t width = 0;  // applied together with size
    queue::OptionalValue<uint8_t> superSample;
    queue::OptionalValue<uint8_t> option2;
    queue::OptionalValue<uint8_t> option3;
    queue::OptionalInt value1;
    queue::OptionalInt value2;
};

struct FontDefinition {
    FontDefinition();

    FontSettings given;
    FontSettings resolved;
    LogFont logFont;
    TextMetric textMetric;
    std::shared_ptr<GlyphFace> face;  // null until resolved (or when no face could be had)
    CharacterSetKind characterSetKind = CharacterSetKind::None;
    // Code point to the glyph source made for it (one reference held here).
    std::map<uint32_t, SourceRef> characterSet;
    int64_t DefaultWidth = 0;
    int64_t DefaultHigth = 0;

    // |lfHeight|: the size the layout uses.
    int32_t size() const { return logFont.lfHeight < 0 ? -logFont.lfHeight : logFont.lfHeight; }
};

class FontTable {
  public:
    // The three default fonts: 0 (30, "メイリオ"), 1 (30, "ＭＳ ゴシック"), 10 (189 x 343, no
    // face name: it inherits font 1's).
    void createDefaults();
    // Creates (or replaces) a definition with the given settings.
    FontDefinition& define(int64_t number, const FontSettings& settings);

    // Walks the definitions in ascending number, each starting from the previous one's
    // resolved settings, and fills their records and faces. Faces are resolved once per name.
    void resolve(const FaceResolver& resolver);

    // The definition of that number, or null.
    FontDefinition* find(int64_t number);
    // The definition of that number, falling back to font 0 (then to the lowest number) for a
    // number without one; null only when the table is empty.
    FontDefinition* lookup(int64_t number);

    // Held while definitions are resolved, and by the text engine around glyph work.
    std::recursive_mutex& mutex() { return mutex_; }
    const std::map<int64_t, FontDefinition>& definitions() const { return fonts_; }
    void clear();

  private:
    std::recursive_mutex mutex_;
    std::map<int64_t, FontDefinition> fonts_;
};

// UTF-8 to at most 31 UTF-16 units, cut on a character boundary.
std::u16string faceNameField(const std::string& utf8);

}  // namespace vaxo2::graphics
