#include "queue/layer_path.h"

#include <cerrno>
#include <cstdlib>
#include <limits>
#include <utility>

namespace vaxo2::queue {

namespace {

bool levelOf(const script::ScriptValue& value, int64_t& out) {
    using script::ScriptValueType;
    switch (value.type) {
        case ScriptValueType::Integer:
        case ScriptValueType::Real: {
            const auto number = value.toInteger();
            if (!number) {
                return false;
            }
            out = *number;
            return true;
        }
        case ScriptValueType::String: {
            errno = 0;
            long long parsed = std::strtoll(value.text.c_str(), nullptr, 10);
            out = static_cast<int64_t>(parsed);
            return true;
        }
        default:
            return false;
    }
}

}  // namespace

LayerPath layerPathFrom(const script::ScriptValue& value) {
    LayerPath path;
    if (value.type != script::ScriptValueType::List) {
        int64_t level = 0;
        if (levelOf(value, level)) {
            path.push_back(level);
        }
        return path;
    }
    // Depth first without recursion: a deeply nested list from a script cannot exhaust the
    // stack.
    std::vector<std::pair<const script::ScriptValue*, size_t>> stack;
    stack.emplace_back(&value, 0);
    while (!stack.empty()) {
        auto& [list, next] = stack.back();
        if (next >= list->items.size()) {
            stack.pop_back();
            continue;
        }
        const script::ScriptValue& item = list->items[next++];
        if (item.type == script::ScriptValueType::List) {
            stack.emplace_back(&item, 0);
            continue;
        }
        int64_t level = 0;
        if (levelOf(item, level)) {
            path.push_back(level);
        }
    }
    return path;
}

LayerPath layerPathFrom(const script::ScriptValue* value) {
    return value ? layerPathFrom(*value) : LayerPath{};
}

}  // namespace vaxo2::queue
