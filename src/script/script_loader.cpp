#include "script/script_loader.h"

#include "core/app_context.h"
#include "io/resource_loader.h"
#include "io/text_encoding.h"
#include "platform/system.h"
#include "script/compiler.h"
#include "script/script_host.h"
#include "script/script_image.h"

namespace vaxo2::script {

PreConverter::PreConverter() : ownFolder_(platform::executableFolder()) {}
PreConverter::~PreConverter() = default;

void PreConverter::convert(const std::string& name, std::string& text) {
    if (!library_) {
        std::string error;
        auto tryFolder = [&](const std::string& folder) {
            if (!library_ && !folder.empty())
                library_ = platform::loadDynamicLibrary(folder + "/" + kPreConverterLibrary, error);
        };
        if (gameFolderAllowed_) tryFolder(gameFolder_);
        tryFolder(ownFolder_);
        // A bare name: the system's library path only (never the working folder).
        if (!library_) library_ = platform::loadDynamicLibrary(kPreConverterLibrary, error);
        if (!library_) return;  // tried again at the next script
    }
    auto convertFn =
        reinterpret_cast<ScriptPreConvertFunction>(library_->symbol("ScriptPreConvert"));
    auto freeFn =
        reinterpret_cast<ScriptPreConvertFreeFunction>(library_->symbol("ScriptPreConvertFree"));
    // Without its free function the plugin's result could not be given back: leave it unused.
    if (!convertFn || !freeFn) return;
    if (text.size() > static_cast<size_t>(INT32_MAX)) return;
    Text2vxsText* handle = nullptr;
    uint8_t ok =
        convertFn(name.c_str(), text.c_str(), static_cast<int32_t>(text.size()), 0, &handle);
    if (ok == 1 && handle && (handle->data || handle->size == 0))
        text.assign(handle->data ? handle->data : "", static_cast<size_t>(handle->size));
    if (handle) freeFn(handle);
}

ScriptLoader::ScriptLoader() {
    setResourceReader(nullptr);
}

void ScriptLoader::setResourceReader(ResourceReader reader) {
    if (reader) {
        reader_ = std::move(reader);
    } else {
        reader_ = [](const std::string& name, std::vector<uint8_t>& out) {
            return io::loadResource(name, out, true);
        };
    }
}

bool ScriptLoader::loadScript(ScriptContext& context, ScriptHost* host) {
    bool gotImage = false;
    context.image.clear();
    context.readMarks = nullptr;
    if (!context.name.empty()) {
        std::vector<uint8_t> bytes;
        if (reader_(context.name, bytes) && !bytes.empty()) {
            if (hasImageMagic(bytes.data(), bytes.size())) {
                gotImage = parseImage(bytes.data(), bytes.size(), context.image);
            } else {
                std::string text;
                io::decodeTextFile(bytes.data(), bytes.size(), io::kEncodingAnsi, text);
                if (preConverterEnabled_) {
                    if (const core::AppContext* app = core::appContext())
                        preConverter_.setGameFolder(app->gameFolder);
                    preConverter_.convert(context.name, text);
                }
                if (!text.empty()) {
                    ScriptCompiler().compile(text, context.image);
                    gotImage = true;
                }
            }
        }
    }
    if (gotImage && host)
        context.readMarks = host->readMarksFor(context.name, context.image.commandList.size());
    context.sizeTemporaries();
    return gotImage;
}

}  // namespace vaxo2::script
