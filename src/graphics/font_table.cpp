#include "graphics/font_table.h"

#include <cstdlib>

#include "io/text_encoding.h"

namespace vaxo2::graphics {

FontDefinition::FontDefinition() {
    given.size.set(0);
    given.superSample.set(1);
    given.option2.set(0);
    given.option3.set(0);
}

std::u16string faceNameField(const std::string& utf8) {
    std::u16string name = io::toUtf16(utf8);
    if (name.size() > 31) {
        size_t cut = 31;
        // Never leave half of a surrogate pair at the end.
        if (name[cut - 1] >= 0xD800 && name[cut - 1] < 0xDC00) --cut;
        name.resize(cut);
    }
    return name;
}

void FontTable::createDefaults() {
    std::lock_guard lock(mutex_);
    FontSettings font0;
    font0.faceName = "メイリオ";
    font0.size.set(30);
    define(0, font0);
    FontSettings font1;
    font1.faceName = "ＭＳ ゴシック";
    font1.size.set(30);
    define(1, font1);
    FontSettings font10;
    font10.size.set(189);
    font10.width = 343;
    define(10, font10);
}

FontDefinition& FontTable::define(int64_t number, const FontSettings& settings) {
    std::lock_guard lock(mutex_);
    FontDefinition definition;
    definition.given.faceName = settings.faceName;
    if (settings.size.given) definition.given.size = settings.size;
    definition.given.width = settings.width;
    if (settings.superSample.given) definition.given.superSample = settings.superSample;
    if (settings.option2.given) definition.given.option2 = settings.option2;
    if (settings.option3.given) definition.given.option3 = settings.option3;
    definition.given.value1 = settings.value1;
    definition.given.value2 = settings.value2;
    auto& slot = fonts_[number];
    slot = std::move(definition);
    return slot;
}

void FontTable::resolve(const FaceResolver& resolver) {
    std::lock_guard lock(mutex_);
    std::map<std::string, std::shared_ptr<GlyphFace>> faces;
    FontSettings previous;  // all defaults for the first
    previous.size.set(0);
    previous.superSample.set(1);
    previous.option2.set(0);
    previous.option3.set(0);
    for (auto& [number, font] : fonts_) {
        FontSettings r = previous;
        if (!font.given.faceName.empty()) r.faceName = font.given.faceName;
        if (font.given.size.given) {
            r.size = font.given.size;
            r.width = font.given.width;
        }
        if (font.given.superSample.given) r.superSample = font.given.superSample;
        if (font.given.option2.given) r.option2 = font.given.option2;
        if (font.given.option3.given) r.option3 = font.given.option3;
        if (font.given.value1.given) r.value1 = font.given.value1;
        if (font.given.value2.given) r.value2 = font.given.value2;
        font.resolved = r;
        previous = r;

        const int64_t size = r.size.value;
        const int64_t magnitude = size < 0 ? -size : size;
        font.logFont.lfHeight = static_cast<int32_t>(-std::min<int64_t>(magnitude, 1 << 20));
        font.logFont.lfWidth =
            static_cast<int32_t>(std::clamp<int64_t>(r.width, -(1 << 20), 1 << 20));
        font.logFont.lfFaceName = faceNameField(r.faceName);

        auto known = faces.find(r.faceName);
        if (known == faces.end()) {
            known = faces.emplace(r.faceName, resolver ? resolver(r.faceName) : nullptr).first;
        }
        font.face = known->second;
        font.textMetric = TextMetric{};
        if (font.face) {
            const int32_t em = font.size() == 0 ? kDefaultEmHeight : font.size();
            const int32_t lfWidth = std::abs(font.logFont.lfWidth);
            const platform::FaceMetrics m = font.face->metrics(em, lfWidth == 0 ? 0 : 2 * lfWidth);
            font.textMetric.tmAscent = m.ascent;
            font.textMetric.tmDescent = m.descent;
            font.textMetric.tmHeight = m.ascent + m.descent;
        }
    }
}

FontDefinition* FontTable::find(int64_t number) {
    std::lock_guard lock(mutex_);
    auto it = fonts_.find(number);
    return it == fonts_.end() ? nullptr : &it->second;
}

FontDefinition* FontTable::lookup(int64_t number) {
    std::lock_guard lock(mutex_);
    auto it = fonts_.find(number);
    if (it == fonts_.end()) it = fonts_.find(0);
    if (it == fonts_.end()) it = fonts_.begin();
    return it == fonts_.end() ? nullptr : &it->second;
}

void FontTable::clear() {
    std::lock_guard lock(mutex_);
    fonts_.clear();
}

}  // namespace vaxo2::graphics
