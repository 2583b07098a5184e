#pragma once
// The run-time value of one command argument. Handlers read their parameters through the
// conversions below; a value that does not convert leaves the parameter at its default.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vaxo2::script {

enum class ScriptValueType : int32_t {
    None = 0,
    List = 1,
    Integer = 2,
    Real = 3,
    String = 4,
    LabelRef = 5,
};

struct ScriptValue {
    ScriptValueType type = ScriptValueType::None;
    int64_t integer = 0;  // Integer value; command index of a LabelRef
    double real = 0.0;
    std::string text;                // String value; label name of a LabelRef
    std::vector<ScriptValue> items;  // List items

    static ScriptValue makeInteger(int64_t v);
    static ScriptValue makeReal(double v);
    static ScriptValue makeString(std::string v);
    static ScriptValue makeList(std::vector<ScriptValue> v);
    static ScriptValue makeLabelRef(std::string name, int64_t index);

    void reset();
    bool isNone() const { return type == ScriptValueType::None; }

    // Integer: itself; Real: truncated toward zero (clamped to the 64-bit range, nothing for
    // NaN); String: parsed with automatic base like strtoll(.., 0). Nothing for other types.
    std::optional<int64_t> toInteger() const;
    // Integer: converted; Real: itself; String: parsed like atof.
    std::optional<double> toReal() const;
    // Integer: "%lld"; Real: "%lf"; String: itself.
    std::optional<std::string> toString() const;
};

// Appends every Integer, Real or String (as a real) found in `value`, descending into Lists
// depth first. True when `out` is non-empty afterwards.
bool flattenToReals(const ScriptValue& value, std::vector<double>& out);

}  // namespace vaxo2::script
