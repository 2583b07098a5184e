#pragma once
// The table of script commands: names and parameter names exactly as scenario scripts spell
// them, and the handler each one runs. Subsystems above the script engine register their
// handlers at start-up with setCommandHandler; until then their commands do nothing.
#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "script/script_value.h"

namespace vaxo2::script {

class ScriptInterpreter;

// (interpreter, argument vector, argument count, result of the executing context). Only the
// first `count` arguments belong to the statement; later entries are left-overs.
using CommandHandler =
    std::function<void(ScriptInterpreter& interpreter, const std::vector<ScriptValue>& arguments,
                       int32_t count, ScriptValue* result)>;

constexpr int kCommandCount = 48;
constexpr int kMaxParameters = 29;

struct CommandEntry {
    const char* name;
    std::array<const char*, kMaxParameters> parameters;  // unused ones are null
};

// The 48 entries in table order (entries 15 and 16 repeat 4 and 1 and are never selected).
const std::array<CommandEntry, kCommandCount>& commandTable();

// Index of the first entry from 1 onward whose name equals `name` (case-sensitive); 0 when
// there is none, so "Dammy" (entry 0) is never found.
int lookupCommand(std::string_view name);

// Parameter names of entry `index`, in table order; empty for an index outside the table.
std::vector<std::string> parameterNames(int index);
// Number of parameters of entry `index` (0 outside the table).
int parameterCount(int index);
// Position of `parameter` among the entry's parameters, or -1.
int parameterIndex(int index, std::string_view parameter);

// Sets the handler of every entry named `name` (a null handler restores "do nothing").
// False when no entry has that name. Call before the scenario thread starts.
bool setCommandHandler(std::string_view name, CommandHandler handler);

// Runs the handler of entry `index` if it has one.
void callHandler(int index, ScriptInterpreter& interpreter,
                 const std::vector<ScriptValue>& arguments, int32_t count, ScriptValue* result);

// Convenience for handlers: argument `position` when it belongs to the statement, else null.
inline const ScriptValue* argumentAt(const std::vector<ScriptValue>& arguments, int32_t count,
                                     int position) {
    if (position < 0 || position >= count || static_cast<size_t>(position) >= arguments.size())
        return nullptr;
    return &arguments[static_cast<size_t>(position)];
}

}  // namespace vaxo2::script
