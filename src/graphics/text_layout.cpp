#include "graphics/text_layout.h"

#include <array>
#include <cmath>
#include <limits>

#include "graphics/tree_draw.h"
#include "io/text_encoding.h"

namespace vaxo2::graphics {

namespace {

constexpr std::array<std::string_view, 20> kLineStartForbidden = {
    "」", ",",  ")",  "]",  "｝", "、", "〕", "〉", "》", "』",
    "】", "〙", "〗", "〟", "’",  "”",  "｠", "»",  "。", "？"};

constexpr float kQuoteIndent = 30.0f;
constexpr int32_t kLineGap = 20;
constexpr int32_t kRubyFont = 1;

// The byte length of the character at `at` (0 for a byte that cannot lead).
size_t lengthAt(std::string_view text, size_t at) {
    return static_cast<size_t>(io::utf8SequenceLength(static_cast<uint8_t>(text[at])));
}

// The character at `at`, cut short at the end of the text.
std::string_view characterAt(std::string_view text, size_t at, size_t length) {
    return text.substr(at, std::min(length, text.size() - at));
}

bool startsWith(std::string_view text, size_t at, std::string_view prefix) {
    return text.substr(at, prefix.size()) == prefix;
}

// Position of the ")", CR or LF that ends a code starting at `at`, or npos.
size_t codeEnd(std::string_view text, size_t at) {
    return text.find_first_of(")\r\n", at);
}

struct Page {
    GraphicObject& object;
    LayoutServices& services;
    int32_t boxW = 0;
    int32_t boxH = 0;
    int32_t baseSize = 0;  // |lfHeight| of the base font

    TextLayoutState& state() { return object.textLayout; }

    void lineBreak() {
        TextLayoutState& t = state();
        if (t.noLineBreak) return;
        t.penX = static_cast<float>(t.lineIndent);
        t.penY -= static_cast<float>(baseSize + kLineGap);
        t.lineStart = 1;
    }

    GraphicObject& newGlyph(const TextRequest& request) {
        const int64_t key =
            object.glyphChildren.empty() ? 0 : object.glyphChildren.rbegin()->first + 1;
        auto child = std::make_unique<GraphicObject>(key, &object);
        GraphicObject& glyph = *child;
        object.glyphChildren.emplace(key, std::move(child));
        const TextLayoutState& t = state();
        glyph.color.set(t.colorOverride.given ? t.colorOverride.value : request.color);
        return glyph;
    }

    void addAppearance(GraphicObject& glyph, const TextRequest& r) {
        if (r.charInterval == 0) return;
        const int64_t delay = state().appearDelay;
        StirSlot hidden;
        hidden.No = 1;
        hidden.Transmittance = 1.0f;
        StirSlot reveal;
        reveal.No = 2;
        reveal.Transmittance = -1.0f;
        reveal.Loop = 1;
        if (r.appearMode == 1) {
            reveal.StartDelay = r.appearStart;
            reveal.Delay = delay;
            if (r.repeatAppearance) {
                reveal.Loop = -1;
                reveal.Delay = 0;
                reveal.AfterDelay = delay;
                reveal.Time = r.repeatPeriod - delay;
            }
        } else {
            reveal.StartDelay = 0;
            reveal.Delay = delay;
            if (r.repeatAppearance) {
                reveal.Loop = -1;
                reveal.Time = r.repeatPeriod;
            }
        }
        glyph.slots[1] = hidden;
        glyph.slots[2] = reveal;
        services.placedAppearing = true;
    }

    void placeBase(std::string_view c, const TextRequest& r, std::string_view next) {
        TextLayoutState& t = state();
        GraphicObject& glyph = newGlyph(r);
        const int64_t font = t.fontOverride.given ? t.fontOverride.value : r.fontNo;
        float w = 0;
        float h = 0;
        glyph.setSource(services.glyphs.acquire(std::string(c), font, w, h));
        const int32_t tw = static_cast<int32_t>(w);
        const int32_t th = static_cast<int32_t>(h);
        StirSlot& base = glyph.slots[0];
        base.Position.x = static_cast<float>(-(boxW / 2) + tw / 2) + t.penX;
        base.Position.y = static_cast<float>(boxH / 2 - kLineGap + th / 2) + t.penY;
        addAppearance(glyph, r);
        if (r.charInterval != 0) t.appearDelay += r.charInterval;
        t.glyphCount += 1;
        t.penX += static_cast<float>(tw);
        if (t.penX > static_cast<float>(boxW) && !lineStartForbidden(next)) lineBreak();
    }

    void placeRuby(std::string_view ruby, const TextRequest& r, float offset) {
        TextLayoutState& t = state();
        const float n = static_cast<float>(characterCount(ruby) + 1);
        size_t at = 0;
        int index = 0;
        while (at < ruby.size()) {
            const size_t length = lengthAt(ruby, at);
            if (length == 0) {
                ++at;
                continue;
            }
            const std::string_view c = characterAt(ruby, at, length);
            at += length;
            GraphicObject& glyph = newGlyph(r);
            float w = 0;
            float h = 0;
            glyph.setSource(services.glyphs.acquire(std::string(c), kRubyFont, w, h));
            const int32_t tw = static_cast<int32_t>(w);
            const int32_t th = static_cast<int32_t>(h);
            StirSlot half;
            half.No = 999;
            half.Scale = Float3{0.5f, 0.5f, 1.0f};
            glyph.slots[999] = half;
            StirSlot& base = glyph.slots[0];
            base.Position.x = static_cast<float>(-(boxW / 2) + tw / 2) + t.penX +
                              static_cast<float>(index) * static_cast<float>(tw) * 0.5f + offset -
                              0.5f * n * static_cast<float>(tw) / 2.0f;
            base.Position.y = static_cast<float>(boxH / 2 + th / 2) + t.penY + 2.0f;
            addAppearance(glyph, r);
            t.glyphCount += 1;
            ++index;
        }
    }

    // "@r(base,ruby)": returns the position after the code, or npos when it has no end.
    size_t ruby(std::string_view text, size_t at, const TextRequest& r) {
        const size_t end = codeEnd(text, at);
        if (end == std::string_view::npos) return end;
        std::string_view code = text.substr(at + 3, end + 1 - (at + 3));
        if (!code.empty() && code.back() == ')') code.remove_suffix(1);
        const size_t comma = code.find(',');
        const std::string_view baseText = code.substr(0, comma);
        const std::string_view rubyText =
            comma == std::string_view::npos ? std::string_view() : code.substr(comma + 1);
        if (!baseText.empty()) {
            TextLayoutState& t = state();
            const float estimate =
                static_cast<float>(characterCount(baseText)) * static_cast<float>(baseSize);
            if (static_cast<float>(boxW) < estimate + t.penX) lineBreak();
            const float x0 = t.penX;
            size_t p = 0;
            while (p < baseText.size()) {
                const size_t length = lengthAt(baseText, p);
                if (length == 0) {
                    ++p;
                    continue;
                }
                placeBase(characterAt(baseText, p, length), r, std::string_view());
                p += length;
            }
            if (!rubyText.empty()) placeRuby(rubyText, r, -(t.penX - x0) / 2.0f);
        }
        return end + 1;
    }

    void run(const TextRequest& r) {
        const std::string_view text = r.text;
        size_t at = 0;
        while (at < text.size()) {
            TextLayoutState& t = state();
            const bool atLineStart = t.lineStart != 0;
            t.lineStart = 0;
            if (t.glyphCount == 0 && startsWith(text, 0, "「")) {
                t.lineIndent = static_cast<int64_t>(kQuoteIndent);
            }
            const size_t length = lengthAt(text, at);
            if (length == 0) {
                ++at;
                continue;
            }
            const std::string_view c = characterAt(text, at, length);
            if (atLineStart && (c == " " || c == "　")) {
                at += length;
                continue;
            }
            if (startsWith(text, at, "\\n")) {
                lineBreak();
                at += 2;
            } else if (startsWith(text, at, "@f(")) {
                const size_t end = codeEnd(text, at);
                if (end == std::string_view::npos) {
                    ++at;
                    continue;
                }
                std::string_view value = text.substr(at + 3, end + 1 - (at + 3));
                while (!value.empty() && value.back() == ')')
                    value.remove_suffix(1);
                t.fontOverride.set(decimalValue(value));
                at = end + 1;
            } else if (startsWith(text, at, "@u+(")) {
                const size_t end = codeEnd(text, at);
                if (end == std::string_view::npos) {
                    ++at;
                    continue;
                }
                std::string_view value = text.substr(at + 4, end + 1 - (at + 4));
                while (!value.empty() && value.back() == ')')
                    value.remove_suffix(1);
                const int64_t codePoint = decimalValue(value);
                // Values outside the 31-bit scheme have no encoding: an empty character.
                const std::string encoded =
                    codePoint > 0 && codePoint < 0x7FFFFFFF
                        ? io::codePointToUtf8(static_cast<uint32_t>(codePoint))
                        : std::string();
                placeBase(encoded, r, std::string_view());
                at = end + 1;
            } else if (startsWith(text, at, "@r(")) {
                const size_t next = ruby(text, at, r);
                at = next == std::string_view::npos ? at + 1 : next;
            } else {
                const size_t nextAt = at + c.size();
                std::string_view next;
                if (nextAt < text.size()) {
                    const size_t nextLength = std::max<size_t>(lengthAt(text, nextAt), 1);
                    next = characterAt(text, nextAt, nextLength);
                }
                placeBase(c, r, next);
                at += c.size();
            }
        }
    }
};

}  // namespace

bool lineStartForbidden(std::string_view character) {
    for (std::string_view f : kLineStartForbidden) {
        if (character == f) return true;
    }
    return false;
}

int64_t decimalValue(std::string_view text) {
    size_t at = 0;
    while (at < text.size() && (text[at] == ' ' || (text[at] >= '\t' && text[at] <= '\r')))
        ++at;
    bool negative = false;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) negative = text[at++] == '-';
    int64_t value = 0;
    constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
    while (at < text.size() && text[at] >= '0' && text[at] <= '9') {
        const int digit = text[at++] - '0';
        value = value > (kMax - digit) / 10 ? kMax : value * 10 + digit;
    }
    return negative ? -value : value;
}

size_t characterCount(std::string_view text) {
    size_t count = 0;
    size_t at = 0;
    while (at < text.size()) {
        const size_t length = lengthAt(text, at);
        at += length == 0 ? 1 : length;
        ++count;
    }
    return count;
}

bool processPendingText(GraphicObject& object, LayoutServices& services) {
    if (object.textRequests.empty()) return false;
    Page page{object, services};
    if (object.source) {
        GraphicSource& own = *object.source;
        if (!own.ready() && services.backend != nullptr) realizeSource(own, *services.backend);
        if (own.ready()) {
            page.boxW = own.width;
            page.boxH = own.height;
        }
    }
    const int64_t baseFont = object.source && object.source->kind() == SourceKind::TextSurface
                                 ? object.source->key().value1
                                 : 0;
    if (const FontDefinition* font = services.fonts.lookup(baseFont)) page.baseSize = font->size();
    while (!object.textRequests.empty()) {
        const TextRequest request = std::move(object.textRequests.front());
        object.textRequests.pop_front();
        page.run(request);
        object.text += request.text;
    }
    return true;
}

void feedPage(GraphicObject& object) {
    object.glyphChildren.clear();
    object.text.clear();
    object.textRequests.clear();
    TextLayoutState& t = object.textLayout;
    t.glyphCount = 0;
    t.appearDelay = 0;
    t.penX = t.penY = t.penZ = 0;
    t.lineIndent = 0;
    t.lineStart = 1;
    object.markChanged();
}

void relayoutText(GraphicObject& object, int64_t textColor, LayoutServices& services) {
    TextRequest request;
    request.text = object.text;
    request.fontNo = 0;
    request.color = textColor;
    request.charInterval = 0;
    request.appearMode = 0;
    request.appearStart = 0;
    request.repeatAppearance = 0;
    request.repeatPeriod = 0;
    feedPage(object);
    object.textRequests.push_back(std::move(request));
    processPendingText(object, services);
}

}  // namespace vaxo2::graphics
