#pragma once
// Turning a script's Layer argument into the path of layer numbers it names.
#include "queue/queued_command.h"
#include "script/script_value.h"

namespace vaxo2::queue {

// A list gives its elements in order, nested lists flattened depth first; integers as they
// stand, reals truncated, strings read as decimal integers, anything else skipped. A single
// value gives a path of one level. A value that is not given gives the empty path, which
// addresses nothing.
LayerPath layerPathFrom(const script::ScriptValue& value);
// The same for an argument that may be missing.
LayerPath layerPathFrom(const script::ScriptValue* value);

}  // namespace vaxo2::queue
