#include "graphics/tree_dump.h"

#include <cmath>
#include <cstdio>
#include <vector>

#include "graphics/text_glyphs.h"

namespace vaxo2::graphics {

namespace {

const char* kindName(const GraphicObject& object) {
    if (!object.source) return "none";
    switch (object.source->kind()) {
        case SourceKind::Image:
            return "image";
        case SourceKind::Movie:
            return "movie";
        case SourceKind::TextSurface:
            return "text";
        case SourceKind::RenderTarget:
            return "target";
        case SourceKind::None:
            break;
    }
    return "none";
}

class Writer {
  public:
    std::string out;

    void raw(const char* text) { out += text; }
    void key(const char* name) {
        comma();
        out += '"';
        out += name;
        out += "\":";
        first_ = true;  // the value follows without a comma
        pendingValue_ = true;
    }
    void number(double value) {
        comma();
        if (!std::isfinite(value)) {
            out += "null";
            return;
        }
        char buffer[32];
        std::snprintf(buffer, sizeof buffer, "%.9g", value);
        out += buffer;
    }
    void integer(int64_t value) {
        comma();
        out += std::to_string(value);
    }
    void boolean(bool value) {
        comma();
        out += value ? "true" : "false";
    }
    void null() {
        comma();
        out += "null";
    }
    void string(const std::string& text) {
        comma();
        out += jsonString(text);
    }
    // A key with its value.
    void field(const char* name, double value) {
        key(name);
        number(value);
    }
    void integerField(const char* name, int64_t value) {
        key(name);
        integer(value);
    }
    void booleanField(const char* name, bool value) {
        key(name);
        boolean(value);
    }
    void stringField(const char* name, const std::string& value) {
        key(name);
        string(value);
    }
    void open(char bracket) {
        comma();
        out += bracket;
        first_ = true;
    }
    void close(char bracket) {
        out += bracket;
        first_ = false;
    }

  private:
    void comma() {
        if (pendingValue_) {
            pendingValue_ = false;
            first_ = false;
            return;
        }
        if (!first_) out += ',';
        first_ = false;
    }
    bool first_ = true;
    bool pendingValue_ = false;
};

void writeSlot(Writer& w, const StirSlot& slot) {
    w.open('{');
    w.integerField("no", slot.No);
    w.integerField("time", slot.Time);
    // How far the current cycle has run.
    const int64_t total = slot.total();
    w.integerField("elapsed", slot.finished() ? total : total - slot.remaining);
    w.integerField("loop", slot.Loop);
    w.booleanField("done", slot.finished());
    w.integerField("remaining", slot.remaining);
    w.integerField("startDelay", slot.StartDelay);
    w.integerField("delay", slot.Delay);
    w.integerField("afterDelay", slot.AfterDelay);
    w.key("position");
    w.open('[');
    w.number(slot.Position.x);
    w.number(slot.Position.y);
    w.number(slot.Position.z);
    w.close(']');
    w.key("scale");
    w.open('[');
    w.number(slot.Scale.x);
    w.number(slot.Scale.y);
    w.number(slot.Scale.z);
    w.close(']');
    w.field("roll", slot.Roll);
    w.field("transmittance", slot.Transmittance);
    w.close('}');
}

void writeGlyph(Writer& w, const GraphicObject& glyph) {
    w.open('{');
    w.stringField("char", glyph.source ? glyph.source->name() : std::string());
    w.integerField("font", glyph.source ? glyph.source->key().value1 : 0);
    w.key("color");
    if (glyph.color.given) {
        w.integer(glyph.color.value);
    } else {
        w.null();
    }
    auto base = glyph.slots.find(0);
    w.field("x", base != glyph.slots.end() ? base->second.Position.x : 0.0);
    w.field("y", base != glyph.slots.end() ? base->second.Position.y : 0.0);
    const GlyphInfo* info =
        glyph.source ? dynamic_cast<const GlyphInfo*>(glyph.source->extension.get()) : nullptr;
    w.field("width", info ? info->displayWidth : 0.0);
    w.field("height", info ? info->displayHeight : 0.0);
    w.booleanField("visible", glyph.hide != 1 && glyph.transmittance < 1.0f);
    w.booleanField("ruby", glyph.slots.count(999) != 0);
    w.stringField("picture", info ? info->picture : std::string());
    w.close('}');
}

void writeObject(Writer& w, const GraphicObject& object, std::vector<int64_t>& path) {
    w.open('{');
    w.key("path");
    w.open('[');
    for (int64_t level : path)
        w.integer(level);
    w.close(']');
    w.stringField("file", object.source ? object.source->name() : std::string());
    w.stringField("kind", kindName(object));
    const auto& m = object.worldMatrix.m;
    w.field("x", m[3][0]);
    w.field("y", m[3][1]);
    w.field("z", m[3][2]);
    w.field("scaleX", std::sqrt(double{m[0][0]} * m[0][0] + double{m[0][1]} * m[0][1] +
                                double{m[0][2]} * m[0][2]));
    w.field("scaleY", std::sqrt(double{m[1][0]} * m[1][0] + double{m[1][1]} * m[1][1] +
                                double{m[1][2]} * m[1][2]));
    w.field("roll", std::atan2(double{m[0][1]}, double{m[0][0]}) / 3.14159265358979323846);
    w.field("transmittance", object.transmittance);
    w.booleanField("hidden", object.hide == 1);
    w.integerField("stencilAction", object.StencilAction);
    w.key("slots");
    w.open('[');
    for (const auto& [number, slot] : object.slots)
        writeSlot(w, slot);
    w.close(']');
    w.key("children");
    w.open('[');
    for (const auto& [number, child] : object.layerChildren) {
        path.push_back(number);
        writeObject(w, *child, path);
        path.pop_back();
    }
    w.close(']');
    const bool hasText =
        !object.glyphChildren.empty() || !object.text.empty() || !object.textRequests.empty();
    if (hasText) {
        const TextLayoutState& t = object.textLayout;
        w.key("text");
        w.open('{');
        w.field("penX", t.penX);
        w.field("penY", t.penY);
        w.integerField("lineIndent", t.lineIndent);
        w.integerField("glyphCount", t.glyphCount);
        w.integerField("appearDelay", t.appearDelay);
        w.stringField("drawnText", object.text);
        w.integerField("pending", static_cast<int64_t>(object.textRequests.size()));
        w.key("fontOverride");
        if (t.fontOverride.given) {
            w.integer(t.fontOverride.value);
        } else {
            w.null();
        }
        w.close('}');
        w.key("glyphs");
        w.open('[');
        for (const auto& [key, glyph] : object.glyphChildren)
            writeGlyph(w, *glyph);
        w.close(']');
    }
    w.close('}');
}

void writeRoot(Writer& w, const GraphicObject* root) {
    w.open('[');
    if (root != nullptr) {
        std::vector<int64_t> path;
        for (const auto& [number, child] : root->layerChildren) {
            path.assign(1, number);
            writeObject(w, *child, path);
        }
    }
    w.close(']');
}

}  // namespace

std::string jsonString(const std::string& text) {
    std::string out = "\"";
    size_t at = 0;
    while (at < text.size()) {
        const auto c = static_cast<uint8_t>(text[at]);
        if (c < 0x80) {
            switch (c) {
                case '"':
                    out += "\\\"";
                    break;
                case '\\':
                    out += "\\\\";
                    break;
                case '\n':
                    out += "\\n";
                    break;
                case '\r':
                    out += "\\r";
                    break;
                case '\t':
                    out += "\\t";
                    break;
                default:
                    if (c < 0x20) {
                        char buffer[8];
                        std::snprintf(buffer, sizeof buffer, "\\u%04x", c);
                        out += buffer;
                    } else {
                        out += static_cast<char>(c);
                    }
            }
            ++at;
            continue;
        }
        // A well-formed sequence of 2 to 4 bytes for a code point up to U+10FFFF passes.
        size_t length = c >= 0xC2 && c <= 0xDF   ? 2
                        : c >= 0xE0 && c <= 0xEF ? 3
                        : c >= 0xF0 && c <= 0xF4 ? 4
                                                 : 0;
        bool ok = length != 0 && at + length <= text.size();
        uint32_t cp = length == 2 ? c & 0x1F : length == 3 ? c & 0x0F : c & 0x07;
        for (size_t i = 1; ok && i < length; ++i) {
            const auto t = static_cast<uint8_t>(text[at + i]);
            ok = (t & 0xC0) == 0x80;
            cp = (cp << 6) | (t & 0x3F);
        }
        ok = ok && !(length == 3 && (cp < 0x800 || (cp >= 0xD800 && cp < 0xE000))) &&
             !(length == 4 && (cp < 0x10000 || cp > 0x10FFFF));
        if (ok) {
            out.append(text, at, length);
            at += length;
        } else {
            out += "\\ufffd";
            ++at;
        }
    }
    out += '"';
    return out;
}

std::string dumpTreeJson(uint32_t timeMs, const GraphicObject* screenRoot,
                         const GraphicObject* transitionRoot) {
    Writer w;
    w.open('{');
    w.integerField("time", timeMs);
    w.key("screen");
    writeRoot(w, screenRoot);
    w.key("transition");
    writeRoot(w, transitionRoot);
    w.key("transitionFade");
    if (transitionRoot != nullptr) {
        w.number(transitionRoot->transmittance);
    } else {
        w.null();
    }
    w.close('}');
    w.out += '\n';
    return w.out;
}

}  // namespace vaxo2::graphics
