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
    w.key("no");
    w.integer(slot.No);
    w.key("time");
    w.integer(slot.Time);
    // How far the current cycle has run.
    const int64_t total = slot.total();
    w.key("elapsed");
    w.integer(slot.finished() ? total : total - slot.remaining);
    w.key("loop");
    w.integer(slot.Loop);
    w.key("done");
    w.boolean(slot.finished());
    w.key("remaining");
    w.integer(slot.remaining);
    w.key("startDelay");
    w.integer(slot.StartDelay);
    w.key("delay");
    w.integer(slot.Delay);
    w.key("afterDelay");
    w.integer(slot.AfterDelay);
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
    w.key("roll");
    w.number(slot.Roll);
    w.key("transmittance");
    w.number(slot.Transmittance);
    w.close('}');
}

void writeGlyph(Writer& w, const GraphicObject& glyph) {
    w.open('{');
    w.key("char");
    w.string(glyph.source ? glyph.source->name() : std::string());
    w.key("font");
    w.integer(glyph.source ? glyph.source->key().value1 : 0);
    w.key("color");
    if (glyph.color.given) {
        w.integer(glyph.color.value);
    } else {
        w.null();
    }
    auto base = glyph.slots.find(0);
    w.key("x");
    w.number(base != glyph.slots.end() ? base->second.Position.x : 0.0);
    w.key("y");
    w.number(base != glyph.slots.end() ? base->second.Position.y : 0.0);
    const GlyphInfo* info =
        glyph.source ? dynamic_cast<const GlyphInfo*>(glyph.source->extension.get()) : nullptr;
    w.key("width");
    w.number(info ? info->displayWidth : 0.0);
    w.key("height");
    w.number(info ? info->displayHeight : 0.0);
    w.key("visible");
    w.boolean(glyph.hide != 1 && glyph.transmittance < 1.0f);
    w.key("ruby");
    w.boolean(glyph.slots.count(999) != 0);
    w.key("picture");
    w.string(info ? info->picture : std::string());
    w.close('}');
}

void writeObject(Writer& w, const GraphicObject& object, std::vector<int64_t>& path) {
    w.open('{');
    w.key("path");
    w.open('[');
    for (int64_t level : path)
        w.integer(level);
    w.close(']');
    w.key("file");
    w.string(object.source ? object.source->name() : std::string());
    w.key("kind");
    w.string(kindName(object));
    const auto& m = object.worldMatrix.m;
    w.key("x");
    w.number(m[3][0]);
    w.key("y");
    w.number(m[3][1]);
    w.key("z");
    w.number(m[3][2]);
    w.key("scaleX");
    w.number(std::sqrt(double{m[0][0]} * m[0][0] + double{m[0][1]} * m[0][1] +
                       double{m[0][2]} * m[0][2]));
    w.key("scaleY");
    w.number(std::sqrt(double{m[1][0]} * m[1][0] + double{m[1][1]} * m[1][1] +
                       double{m[1][2]} * m[1][2]));
    w.key("roll");
    w.number(std::atan2(double{m[0][1]}, double{m[0][0]}) / 3.14159265358979323846);
    w.key("transmittance");
    w.number(object.transmittance);
    w.key("hidden");
    w.boolean(object.hide == 1);
    w.key("stencilAction");
    w.integer(object.StencilAction);
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
        w.key("penX");
        w.number(t.penX);
        w.key("penY");
        w.number(t.penY);
        w.key("lineIndent");
        w.integer(t.lineIndent);
        w.key("glyphCount");
        w.integer(t.glyphCount);
        w.key("appearDelay");
        w.integer(t.appearDelay);
        w.key("drawnText");
        w.string(object.text);
        w.key("pending");
        w.integer(static_cast<int64_t>(object.textRequests.size()));
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
    w.key("time");
    w.integer(timeMs);
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
