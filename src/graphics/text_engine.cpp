#include "graphics/text_engine.h"

#include <algorithm>
#include <atomic>

#include "core/app_context.h"
#include "io/resource_loader.h"
#include "platform/image_decoder.h"

namespace vaxo2::graphics {

namespace {
std::atomic<TextEngine*> installedEngine{nullptr};

bool appearing(const GraphicObject& object) {
    if (!object.textRequests.empty()) return true;
    for (const auto& [key, glyph] : object.glyphChildren) {
        for (const auto& [number, slot] : glyph->slots) {
            if (slot.Loop >= 0 && !slot.finished()) return true;
        }
    }
    for (const auto& [key, child] : object.layerChildren) {
        if (appearing(*child)) return true;
    }
    return false;
}
}  // namespace

TextEngine::TextEngine()
    : glyphs_(fonts_),
      readFile_([](const std::string& name, std::vector<uint8_t>& bytes) {
          return io::loadResource(name, bytes, false);
      }),
      readPicture_([](const std::string& name, DecodedImage& out) {
          std::vector<uint8_t> bytes;
          if (!io::loadResource(name, bytes, false)) return false;
          platform::BgraImage image;
          std::string error;
          if (!platform::decodeImage(bytes.data(), bytes.size(), image, error)) return false;
          out.width = image.width;
          out.height = image.height;
          out.bgra = std::move(image.pixels);
          return true;
      }) {}

TextEngine::~TextEngine() {
    if (installed_) {
        TextEngine* self = this;
        if (installedEngine.compare_exchange_strong(self, nullptr)) {
            setTextEngineHooks(nullptr);
            setSourceRealizer(SourceKind::TextSurface, SourceRealizer());
        }
    }
}

void TextEngine::install() {
    installed_ = true;
    installedEngine.store(this);
    setTextEngineHooks(this);
    setSourceRealizer(SourceKind::TextSurface, [this](GraphicSource& source, RenderBackend& b) {
        return glyphs_.realize(source, b);
    });
}

TextEngine* TextEngine::current() {
    return installedEngine.load();
}

void TextEngine::startFonts(const FaceResolver& resolver) {
    fonts_.createDefaults();
    fonts_.resolve(resolver);
}

bool TextEngine::processPendingText(GraphicObject& object) {
    if (object.textRequests.empty()) return false;
    LayoutServices services{glyphs_, fonts_, backend_};
    const bool processed = graphics::processPendingText(object, services);
    if (services.placedAppearing) guard_ = true;
    return processed;
}

bool TextEngine::glyphTint(GraphicObject& object, RenderBackend& backend, uint32_t& rgb) {
    return glyphs_.tintFor(object, backend, rgb);
}

void TextEngine::relayout(GraphicObject& object) {
    const core::AppContext* app = core::appContext();
    LayoutServices services{glyphs_, fonts_, backend_};
    relayoutText(object, app ? app->textColor : 0xFFFFFF, services);
}

bool TextEngine::textAppearing(const GraphicObject& root) const {
    return guard_ && appearing(root);
}

int64_t messageDisplayTime(const GraphicObject& message) {
    const TextLayoutState& t = message.textLayout;
    const int64_t perGlyph = t.glyphCount > INT64_MAX / 100 ? INT64_MAX : t.glyphCount * 100;
    return std::max(perGlyph, t.appearDelay);
}

}  // namespace vaxo2::graphics
