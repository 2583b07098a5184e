// The compiler and the lint pass on arbitrary text: no crash, no over-read, and the image they
// make is internally consistent and survives the binary round trip.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "script/compiler.h"
#include "script/interpreter.h"
#include "script/lint.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace vaxo2::script;
    if (size > 64 * 1024) return 0;
    std::string_view text(reinterpret_cast<const char*>(data), size);
    ScriptContext context;
    compileScript(text, context.image);
    const ScriptImage& img = context.image;
    for (int32_t idx : img.commandList) {
        const ScriptElement* e = img.element(idx);
        if (!e) std::abort();  // the compiler only lists elements it made
        if (e->kind == static_cast<int32_t>(ElementKind::Command) && !img.argumentList(e->link))
            std::abort();
    }
    if (img.temporaryCount < 0) std::abort();
    context.sizeTemporaries();
    std::vector<ScriptValue> args;
    for (const ScriptElement& e : img.elementTable) {
        if (e.kind == static_cast<int32_t>(ElementKind::Command))
            ScriptInterpreter::bindArguments(context, e.link, args);
    }
    std::vector<uint8_t> bytes = writeImage(img);
    ScriptImage back;
    if (!parseImage(bytes.data(), bytes.size(), back) || back.commandList != img.commandList ||
        back.argumentLists != img.argumentLists || back.elementTable != img.elementTable ||
        back.dataPool != img.dataPool || back.temporaryCount != img.temporaryCount)
        std::abort();
    lintScript(text);
    return 0;
}
