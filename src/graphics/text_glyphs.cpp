#include "graphics/text_glyphs.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "graphics/graphic_object.h"
#include "io/text_encoding.h"

namespace vaxo2::graphics {

namespace {

constexpr int32_t kTextKind = static_cast<int32_t>(SourceKind::TextSurface);
// A glyph taller or wider than this many texture pixels is not rendered (absurd font sizes).
constexpr int32_t kMaxGlyphPixels = 4096;
// Character-set picture names are read up to this many bytes.
constexpr size_t kMaxPictureName = 1023;

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// One line of a character-set list, "%x,%s": a hexadecimal code point (as scanf reads it:
// leading blanks, an optional sign and "0x"), a comma, then a file name up to the first blank.
bool parseListLine(const std::string& line, uint32_t& codePoint, std::string& file) {
    size_t at = 0;
    while (at < line.size() && isSpace(line[at]))
        ++at;
    bool negative = false;
    if (at < line.size() && (line[at] == '+' || line[at] == '-')) negative = line[at++] == '-';
    if (at + 1 < line.size() && line[at] == '0' && (line[at + 1] == 'x' || line[at + 1] == 'X') &&
        at + 2 < line.size() && std::isxdigit(static_cast<unsigned char>(line[at + 2]))) {
        at += 2;
    }
    uint32_t value = 0;
    size_t digits = 0;
    while (at < line.size() && std::isxdigit(static_cast<unsigned char>(line[at]))) {
        const char c = line[at++];
        const uint32_t d = std::isdigit(static_cast<unsigned char>(c))
                               ? static_cast<uint32_t>(c - '0')
                               : static_cast<uint32_t>((c | 0x20) - 'a' + 10);
        value = value * 16 + d;  // wraps like the C library's unsigned conversion
        ++digits;
    }
    if (digits == 0 || at >= line.size() || line[at] != ',') return false;
    ++at;
    while (at < line.size() && isSpace(line[at]))
        ++at;
    size_t end = at;
    while (end < line.size() && !isSpace(line[end]) && end - at < kMaxPictureName)
        ++end;
    if (end == at) return false;
    codePoint = negative ? 0u - value : value;
    file = line.substr(at, end - at);
    return true;
}

// Averages each 2 x 2 block of `from` (2w x 2h) into `to` (w x h).
void reduceHalf(const std::vector<uint8_t>& from, int32_t w, int32_t h, std::vector<uint8_t>& to) {
    to.assign(static_cast<size_t>(w) * h, 0);
    const size_t stride = static_cast<size_t>(w) * 2;
    for (int32_t y = 0; y < h; ++y) {
        const uint8_t* a = from.data() + static_cast<size_t>(y) * 2 * stride;
        const uint8_t* b = a + stride;
        for (int32_t x = 0; x < w; ++x) {
            const uint32_t sum = a[2 * x] + a[2 * x + 1] + b[2 * x] + b[2 * x + 1];
            to[static_cast<size_t>(y) * w + x] = static_cast<uint8_t>(sum / 4);
        }
    }
}

void setGlyphTile(GraphicSource& source, TextureId texture, const GlyphAtlas::Region& region,
                  int32_t side) {
    const float w = static_cast<float>(region.width);
    const float h = static_cast<float>(region.height);
    const float left = -w / 2.0f;
    const float top = h / 2.0f;
    const float u0 = static_cast<float>(region.x) / static_cast<float>(side);
    const float v0 = static_cast<float>(region.y) / static_cast<float>(side);
    const float u1 = static_cast<float>(region.x + region.width) / static_cast<float>(side);
    const float v1 = static_cast<float>(region.y + region.height) / static_cast<float>(side);
    Tile tile;
    tile.texture = texture;
    tile.vertices[0] = TileVertex{left, top, 0, 0xFFFFFFFFu, u0, v0};
    tile.vertices[1] = TileVertex{left + w, top, 0, 0xFFFFFFFFu, u1, v0};
    tile.vertices[2] = TileVertex{left, top - h, 0, 0xFFFFFFFFu, u0, v1};
    tile.vertices[3] = TileVertex{left + w, top - h, 0, 0xFFFFFFFFu, u1, v1};
    for (TileVertex& v : tile.vertices) {
        v.x += source.offset.x;
        v.y += source.offset.y;
        v.z += source.offset.z;
    }
    source.tiles.assign(1, tile);
}

}  // namespace

GlyphInfo::~GlyphInfo() {
    if (atlas && region.valid()) atlas->release(region);
}

uint32_t glyphCodePoint(const std::string& character) {
    if (character.empty()) return 0;
    const std::u16string units = io::toUtf16(character);
    if (units.empty()) return 0;
    const uint32_t first = units[0];
    if (first >= 0xD800 && first < 0xDC00 && units.size() > 1 && units[1] >= 0xDC00 &&
        units[1] < 0xE000) {
        return 0x10000 + ((first - 0xD800) << 10) + (units[1] - 0xDC00);
    }
    return first;
}

GlyphMetrics measureFontGlyph(FontDefinition& font, uint32_t codePoint) {
    GlyphMetrics m;
    m.s = 2.0f;
    m.q = font.resolved.superSample.valueOr(1) == 1 ? 2 : 1;
    const int32_t height = static_cast<int32_t>(m.s * static_cast<float>(font.logFont.lfHeight) *
                                                static_cast<float>(m.q));
    const int32_t width = static_cast<int32_t>(static_cast<float>(font.logFont.lfWidth) * m.s *
                                               static_cast<float>(m.q));
    m.emHeight = height == 0 ? kDefaultEmHeight : std::abs(height);
    m.emWidth = width == 0 ? 0 : 2 * std::abs(width);
    if (!font.face) return m;
    const platform::FaceMetrics cell = font.face->metrics(m.emHeight, m.emWidth);
    m.ascent = cell.ascent;
    m.cx = codePoint == 0 ? 0 : font.face->advance(codePoint, m.emHeight, m.emWidth);
    m.cy = cell.ascent + cell.descent;
    // The cell is centred on the font's nominal size (both values of the plain font).
    m.cy += static_cast<int32_t>((font.resolved.size.value - font.textMetric.tmHeight) / 2);
    m.cx = std::clamp(m.cx, 0, kMaxGlyphPixels);
    m.cy = std::clamp(m.cy, 0, kMaxGlyphPixels);
    m.pixelWidth = m.cx / m.q;
    m.pixelHeight = m.cy / m.q;
    m.displayWidth = static_cast<float>(m.cx) / m.s / static_cast<float>(m.q);
    m.displayHeight = static_cast<float>(m.cy) / m.s / static_cast<float>(m.q);
    if (font.characterSetKind != CharacterSetKind::None) {
        m.displayHeight = static_cast<float>(font.DefaultHigth) / m.s / static_cast<float>(m.q);
    }
    return m;
}

TextGlyphs::TextGlyphs(FontTable& fonts) : fonts_(fonts), atlas_(std::make_shared<GlyphAtlas>()) {}

GlyphInfo& TextGlyphs::infoOf(GraphicSource& source) {
    auto* info = dynamic_cast<GlyphInfo*>(source.extension.get());
    if (info == nullptr) {
        auto made = std::make_unique<GlyphInfo>();
        info = made.get();
        source.extension = std::move(made);
    }
    return *info;
}

void TextGlyphs::measure(GraphicSource& source, GlyphInfo& info) {
    FontDefinition* font = fonts_.lookup(source.key().value1);
    info.measured = true;
    if (!info.picture.empty()) {
        // A character-set picture, scaled to the font's size from the set's cell size.
        const float size = font ? static_cast<float>(font->size()) : 0.0f;
        const float lfWidth = font ? static_cast<float>(std::abs(font->logFont.lfWidth)) : 0.0f;
        const int64_t cellW = font ? font->DefaultWidth : 0;
        const int64_t cellH = font ? font->DefaultHigth : 0;
        const int32_t pw = info.pixels ? info.pixels->width : 0;
        const int32_t ph = info.pixels ? info.pixels->height : 0;
        // A set without a cell size takes the picture's own size as its cell.
        const float cw =
            cellW > 0 ? static_cast<float>(cellW) : static_cast<float>(std::max(pw, 1));
        const float ch =
            cellH > 0 ? static_cast<float>(cellH) : static_cast<float>(std::max(ph, 1));
        info.drawScaleX = (lfWidth != 0.0f ? lfWidth : size) / cw;
        info.drawScaleY = size / ch;
        info.pixelWidth = pw;
        info.pixelHeight = ph;
        info.displayWidth = static_cast<float>(pw) * info.drawScaleX;
        info.displayHeight = ch * info.drawScaleY;
        return;
    }
    if (font == nullptr) {
        info.displayWidth = info.displayHeight = 0;
        info.pixelWidth = info.pixelHeight = 0;
        return;
    }
    const GlyphMetrics m = measureFontGlyph(*font, glyphCodePoint(source.name()));
    info.pixelWidth = m.pixelWidth;
    info.pixelHeight = m.pixelHeight;
    info.displayWidth = m.displayWidth;
    info.displayHeight = m.displayHeight;
    info.drawScaleX = info.drawScaleY = 1.0f / m.s;
}

SourceRef TextGlyphs::acquire(const std::string& character, int64_t fontNo, float& width,
                              float& height) {
    SourceRef source =
        sourceCache().acquire(kTextKind, character, static_cast<int32_t>(fontNo), 0, false);
    std::lock_guard lock(fonts_.mutex());
    GlyphInfo& info = infoOf(*source);
    if (!info.measured) measure(*source, info);
    width = info.displayWidth;
    height = info.displayHeight;
    return source;
}

bool TextGlyphs::realize(GraphicSource& source, RenderBackend& backend) {
    std::lock_guard lock(fonts_.mutex());
    GlyphInfo& info = infoOf(source);
    if (!info.measured) measure(source, info);
    if (!info.picture.empty() && !info.pixels) return false;  // unreadable picture: nothing
    source.releaseTextures();
    if (info.atlas && info.region.valid()) {
        info.atlas->release(info.region);
        info.region = GlyphAtlas::Region{};
    }
    const int32_t w = info.pixelWidth;
    const int32_t h = info.pixelHeight;
    std::vector<uint8_t> bgra(static_cast<size_t>(w) * h * 4, 0);
    bool keepColours = false;
    if (w > 0 && h > 0) {
        if (!info.picture.empty()) {
            // Colour sets keep their pixels; mask sets become coverage from the blue byte.
            keepColours = info.pictureKind == CharacterSetKind::Colour;
            const DecodedImage& picture = *info.pixels;
            for (size_t i = 0; i < static_cast<size_t>(w) * h; ++i) {
                const uint8_t* from = &picture.bgra[i * 4];
                uint8_t* to = &bgra[i * 4];
                if (keepColours) {
                    std::copy(from, from + 4, to);
                } else {
                    to[0] = to[1] = to[2] = 255;
                    to[3] = from[0];
                }
            }
        } else {
            FontDefinition* font = fonts_.lookup(source.key().value1);
            if (font == nullptr || !font->face) return false;
            const uint32_t codePoint = glyphCodePoint(source.name());
            const GlyphMetrics m = measureFontGlyph(*font, codePoint);
            const int32_t cw = w * m.q;
            const int32_t ch = h * m.q;
            std::vector<uint8_t> canvas(static_cast<size_t>(cw) * ch, 0);
            font->face->render(codePoint, m.emHeight, m.emWidth, canvas.data(), cw, ch);
            std::vector<uint8_t> coverage;
            if (m.q == 2) {
                reduceHalf(canvas, w, h, coverage);
            } else {
                coverage.swap(canvas);
            }
            for (size_t i = 0; i < coverage.size(); ++i) {
                uint8_t* to = &bgra[i * 4];
                to[0] = to[1] = to[2] = 255;
                to[3] = coverage[i];
            }
        }
        if (!info.atlas) info.atlas = atlas_;
        if (!info.atlas->allocate(w, h, backend.maxTextureSize(), info.region)) return false;
        int32_t side = 0;
        const TextureId page = info.atlas->upload(info.region, bgra.data(), backend, side);
        if (page == 0) return false;
        setGlyphTile(source, page, info.region, side);
    }
    source.width = w;
    source.height = h;
    source.tileWidth = source.paddedWidth = w;
    source.tileHeight = source.paddedHeight = h;
    source.scale = Float3{info.drawScaleX, info.drawScaleY, 1.0f};
    source.sharedTextures = true;
    source.backend = &backend;
    source.state = 1;
    ++source.changeCount;
    return true;
}

bool TextGlyphs::tintFor(GraphicObject& object, RenderBackend&, uint32_t& rgb) {
    if (!object.source || object.source->kind() != SourceKind::TextSurface) return false;
    std::lock_guard lock(fonts_.mutex());
    GlyphInfo& info = infoOf(*object.source);
    if (info.rebuild) {
        info.rebuild = false;
        info.measured = false;
        object.source->releaseTextures();
    }
    if (!info.picture.empty() && info.pictureKind == CharacterSetKind::Colour) return false;
    // Only a colour whose bits above the low 24 are all clear tints; any other leaves the
    // glyph in the colour it last took.
    if (object.color.given && (object.color.value >> 24) == 0) {
        info.lastTint = static_cast<uint32_t>(object.color.value) & 0xFFFFFFu;
    }
    rgb = info.lastTint;
    return true;
}

bool TextGlyphs::loadCharacterSet(
    int64_t fontNo, const std::string& listFile, int64_t defaultWidth, int64_t defaultHeight,
    CharacterSetKind kind,
    const std::function<bool(const std::string&, std::vector<uint8_t>&)>& readFile,
    const PictureReader& readPicture) {
    std::lock_guard lock(fonts_.mutex());
    FontDefinition* font = fonts_.find(fontNo);
    if (font == nullptr) return false;
    font->DefaultWidth = defaultWidth;
    font->DefaultHigth = defaultHeight;
    font->characterSetKind = kind;
    std::vector<uint8_t> bytes;
    std::string text;
    if (!readFile || !readFile(listFile, bytes) ||
        !io::decodeTextFile(bytes.data(), bytes.size(), io::kEncodingAnsi, text)) {
        return true;
    }
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find("\r\n", start);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(start, end - start);
        start = end + 2;
        uint32_t codePoint = 0;
        std::string picture;
        if (line.empty() || !parseListLine(line, codePoint, picture)) continue;
        if (font->characterSet.count(codePoint) != 0) continue;  // the first picture stays
        std::string character = codePoint == 0 ? std::string() : io::codePointToUtf8(codePoint);
        SourceRef source =
            sourceCache().acquire(kTextKind, character, static_cast<int32_t>(fontNo), 0, false);
        GlyphInfo& info = infoOf(*source);
        info.picture = picture;
        info.pictureKind = kind;
        auto pixels = std::make_shared<DecodedImage>();
        if (readPicture && readPicture(picture, *pixels) && pixels->width > 0 &&
            pixels->height > 0 &&
            pixels->bgra.size() >= static_cast<size_t>(pixels->width) * pixels->height * 4) {
            info.pixels = std::move(pixels);
        } else {
            info.pixels.reset();
        }
        info.measured = false;
        // A glyph already on screen changes to the picture at its next draw.
        if (source->ready()) info.rebuild = true;
        font->characterSet.emplace(codePoint, std::move(source));
    }
    // Glyph sources of this font measured before now see the set's cell height.
    sourceCache().forEach([fontNo](GraphicSource& source) {
        if (source.kind() == SourceKind::TextSurface &&
            source.key().value1 == static_cast<int32_t>(fontNo)) {
            if (auto* info = dynamic_cast<GlyphInfo*>(source.extension.get())) {
                info->measured = false;
            }
        }
    });
    return true;
}

}  // namespace vaxo2::graphics
