// Restoring script state records from arbitrary bytes (a damaged save slot).
#include <cstdint>
#include <cstdlib>

#include "script/interpreter.h"
#include "script/script_image.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace vaxo2::script;
    ScriptInterpreter interpreter;
    size_t n = interpreter.readAllStates(data, size);
    if (n != interpreter.pendingStack().size()) std::abort();
    std::vector<ScriptValue> args;
    for (const auto& context : interpreter.pendingStack()) {
        if (context->temporaries.size() > context->image.elementTable.size()) std::abort();
        for (int32_t idx : context->image.commandList) {
            const ScriptElement* e = context->image.element(idx);
            if (e && e->kind == static_cast<int32_t>(ElementKind::Command))
                ScriptInterpreter::bindArguments(*context, e->link, args);
        }
        // A restored record writes back to the same bytes it came from, name aside.
        std::vector<uint8_t> again = writeStateRecord(*context);
        std::vector<std::unique_ptr<ScriptContext>> back;
        if (readStateRecords(again.data(), again.size(), back) != 1 ||
            back[0]->image.elementTable != context->image.elementTable)
            std::abort();
    }
    return 0;
}
