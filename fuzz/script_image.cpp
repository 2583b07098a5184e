// parseImage and argument binding on arbitrary bytes: every table is taken only when it lies
// inside the bytes, and every reference is checked when used.
#include <cstdint>
#include <cstdlib>

#include "script/command_table.h"
#include "script/interpreter.h"
#include "script/script_image.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace vaxo2::script;
    ScriptContext context;
    parseImage(data, size, context.image);
    context.sizeTemporaries();
    const ScriptImage& img = context.image;
    std::vector<ScriptValue> args;
    for (int32_t idx : img.commandList) {
        const ScriptElement* e = img.element(idx);
        if (e && e->kind == static_cast<int32_t>(ElementKind::Command)) {
            // Bound as the interpreter binds a statement: only its command's parameters.
            const auto name = img.text(e->name);
            ScriptInterpreter::bindArguments(context, e->link, args,
                                             parameterCount(name ? lookupCommand(*name) : 0));
        }
    }
    for (size_t i = 0; i < img.elementTable.size(); ++i) {
        ScriptValue v;
        ScriptInterpreter::bindElement(context, static_cast<int32_t>(i), v);
        std::vector<double> reals;
        flattenToReals(v, reals);
    }
    std::vector<uint8_t> bytes = writeImage(img);
    ScriptImage back;
    if (!parseImage(bytes.data(), bytes.size(), back) || back.elementTable != img.elementTable ||
        back.dataPool != img.dataPool || back.argumentLists != img.argumentLists)
        std::abort();
    return 0;
}
