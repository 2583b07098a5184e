#include "script/script_value.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

namespace vaxo2::script {

ScriptValue ScriptValue::makeInteger(int64_t v) {
    ScriptValue r;
    r.type = ScriptValueType::Integer;
    r.integer = v;
    return r;
}

ScriptValue ScriptValue::makeReal(double v) {
    ScriptValue r;
    r.type = ScriptValueType::Real;
    r.real = v;
    return r;
}

ScriptValue ScriptValue::makeString(std::string v) {
    ScriptValue r;
    r.type = ScriptValueType::String;
    r.text = std::move(v);
    return r;
}

ScriptValue ScriptValue::makeList(std::vector<ScriptValue> v) {
    ScriptValue r;
    r.type = ScriptValueType::List;
    r.items = std::move(v);
    return r;
}

ScriptValue ScriptValue::makeLabelRef(std::string name, int64_t index) {
    ScriptValue r;
    r.type = ScriptValueType::LabelRef;
    r.text = std::move(name);
    r.integer = index;
    return r;
}

void ScriptValue::reset() {
    type = ScriptValueType::None;
    integer = 0;
    real = 0.0;
    text.clear();
    items.clear();
}

std::optional<int64_t> ScriptValue::toInteger() const {
    switch (type) {
        case ScriptValueType::Integer:
            return integer;
        case ScriptValueType::Real: {
            // A plain cast is undefined outside the 64-bit range; clamp instead.
            if (std::isnan(real)) return std::nullopt;
            if (real >= 9223372036854775807.0) return std::numeric_limits<int64_t>::max();
            if (real <= -9223372036854775808.0) return std::numeric_limits<int64_t>::min();
            return static_cast<int64_t>(real);
        }
        case ScriptValueType::String:
            return static_cast<int64_t>(std::strtoll(text.c_str(), nullptr, 0));
        default:
            return std::nullopt;
    }
}

std::optional<double> ScriptValue::toReal() const {
    switch (type) {
        case ScriptValueType::Integer:
            return static_cast<double>(integer);
        case ScriptValueType::Real:
            return real;
        case ScriptValueType::String:
            return std::strtod(text.c_str(), nullptr);
        default:
            return std::nullopt;
    }
}

std::optional<std::string> ScriptValue::toString() const {
    switch (type) {
        case ScriptValueType::Integer: {
            char buf[32];
            std::snprintf(buf, sizeof buf, "%lld", static_cast<long long>(integer));
            return std::string(buf);
        }
        case ScriptValueType::Real: {
            int n = std::snprintf(nullptr, 0, "%lf", real);
            if (n < 0) return std::nullopt;
            std::string s(static_cast<size_t>(n) + 1, '\0');
            std::snprintf(s.data(), s.size(), "%lf", real);
            s.resize(static_cast<size_t>(n));
            return s;
        }
        case ScriptValueType::String:
            return text;
        default:
            return std::nullopt;
    }
}

bool flattenToReals(const ScriptValue& value, std::vector<double>& out) {
    // Explicit stack: a deeply nested list must not exhaust the thread's stack.
    std::vector<const ScriptValue*> pending{&value};
    while (!pending.empty()) {
        const ScriptValue* v = pending.back();
        pending.pop_back();
        if (v->type == ScriptValueType::List) {
            for (auto it = v->items.rbegin(); it != v->items.rend(); ++it)
                pending.push_back(&*it);
        } else if (v->type == ScriptValueType::Integer || v->type == ScriptValueType::Real ||
                   v->type == ScriptValueType::String) {
            out.push_back(*v->toReal());
        }
    }
    return !out.empty();
}

}  // namespace vaxo2::script
