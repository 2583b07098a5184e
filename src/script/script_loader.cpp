#include "script/script_loader.h"

#include <algorithm>

#include "core/app_context.h"
#include "io/resource_loader.h"
#include "io/text_encoding.h"
#include "platform/system.h"
#include "script/command_table.h"
#include "script/compiler.h"
#include "script/interpreter.h"
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

struct ScriptLoader::Preloaded {
    bool gotImage = false;
    ScriptContext script;
};

ScriptLoader::~ScriptLoader() = default;

bool ScriptLoader::readImage(const std::string& name, ScriptImage& image) {
    std::vector<uint8_t> bytes;
    if (!reader_(name, bytes) || bytes.empty()) return false;
    if (hasImageMagic(bytes.data(), bytes.size()))
        return parseImage(bytes.data(), bytes.size(), image);
    std::string text;
    io::decodeTextFile(bytes.data(), bytes.size(), io::kEncodingAnsi, text);
    if (preConverterEnabled_) {
        if (const core::AppContext* app = core::appContext())
            preConverter_.setGameFolder(app->gameFolder);
        preConverter_.convert(name, text);
    }
    if (text.empty()) return false;
    ScriptCompiler().compile(text, image);
    return true;
}

void ScriptLoader::preload(const std::string& name) {
    auto preloaded = std::make_unique<Preloaded>();
    preloaded->script.name = name;
    if (!name.empty()) preloaded->gotImage = readImage(name, preloaded->script.image);
    if (!preloaded->gotImage) preloaded->script.image.clear();
    preloaded->script.sizeTemporaries();
    preloaded_ = std::move(preloaded);
}

const ScriptContext* ScriptLoader::preloadedScript() const {
    return preloaded_ && preloaded_->gotImage ? &preloaded_->script : nullptr;
}

std::vector<std::string> leadingFileArguments(const ScriptContext& context,
                                              const std::function<bool(std::string_view)>& wanted,
                                              const std::function<bool(std::string_view)>& ends,
                                              size_t statements, size_t limit) {
    std::vector<std::string> files;
    const ScriptImage& image = context.image;
    std::vector<ScriptValue> args;
    for (size_t i = 0; i < image.commandList.size() && i < statements && files.size() < limit;
         ++i) {
        const ScriptElement* e = image.element(image.commandList[i]);
        if (!e || static_cast<ElementKind>(e->kind) != ElementKind::Command) continue;
        const std::string_view name = image.text(e->name).value_or("");
        if (ends(name)) break;
        if (!wanted(name)) continue;
        const int filePos = parameterIndex(lookupCommand(name), "File");
        if (filePos < 0) continue;
        if (ScriptInterpreter::bindArguments(context, e->link, args, filePos + 1) <= filePos)
            continue;
        const ScriptValue& v = args[static_cast<size_t>(filePos)];
        if (v.type != ScriptValueType::String || v.text.empty()) continue;
        if (std::find(files.begin(), files.end(), v.text) == files.end()) files.push_back(v.text);
    }
    return files;
}

bool ScriptLoader::loadScript(ScriptContext& context, ScriptHost* host) {
    bool gotImage = false;
    context.image.clear();
    context.readMarks = nullptr;
    if (preloaded_ && preloaded_->script.name == context.name) {
        gotImage = preloaded_->gotImage;
        context.image = std::move(preloaded_->script.image);
        preloaded_.reset();
    } else if (!context.name.empty()) {
        gotImage = readImage(context.name, context.image);
        if (!gotImage) context.image.clear();
    }
    if (gotImage && host)
        context.readMarks = host->readMarksFor(context.name, context.image.commandList.size());
    context.sizeTemporaries();
    return gotImage;
}

}  // namespace vaxo2::script
