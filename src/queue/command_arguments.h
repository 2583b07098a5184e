#pragma once
// What every command handler does with its arguments: find them by the names of the command
// table (so the table stays the single source of truth for positions), convert them, and copy
// the given ones into the queued command. A value that does not convert counts as not given.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "queue/layer_path.h"
#include "queue/queued_command.h"
#include "script/command_table.h"
#include "script/script_value.h"

namespace vaxo2::queue {

using Arguments = std::vector<script::ScriptValue>;

// The argument `name` of `command` when the statement gave it, else null.
inline const script::ScriptValue* namedArgument(const Arguments& args, int32_t count,
                                                const char* command, const char* name) {
    return script::argumentAt(args, count,
                              script::parameterIndex(script::lookupCommand(command), name));
}

inline std::optional<int64_t> integerArgument(const script::ScriptValue* value) {
    return value ? value->toInteger() : std::nullopt;
}

inline std::optional<double> realArgument(const script::ScriptValue* value) {
    return value ? value->toReal() : std::nullopt;
}

// The text of an argument; empty when it is missing or does not convert.
inline std::string stringArgument(const script::ScriptValue* value) {
    return value ? value->toString().value_or(std::string()) : std::string();
}

inline void setInt(OptionalInt& to, const script::ScriptValue* value) {
    if (auto integer = integerArgument(value)) to.set(*integer);
}

inline void setFloat(OptionalFloat& to, const script::ScriptValue* value) {
    if (auto real = realArgument(value)) to.set(static_cast<float>(*real));
}

// A command addressed by Layer, on the trees Target names (the screen tree by default).
template <typename Command>
std::unique_ptr<Command> addressed(const Arguments& args, int32_t count, const char* command) {
    auto out = std::make_unique<Command>();
    out->targetMask = static_cast<uint64_t>(
        integerArgument(namedArgument(args, count, command, "Target")).value_or(kTargetScreen));
    out->path = layerPathFrom(namedArgument(args, count, command, "Layer"));
    return out;
}

}  // namespace vaxo2::queue
