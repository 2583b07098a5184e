#pragma once
// The queued command family: a script command handler on the scenario thread builds one of
// these, fills in what the script gave, and hands it to a CommandQueue; the render thread
// executes it between two frames.
#include <cstdint>
#include <vector>

namespace vaxo2::graphics {
class GraphicObject;
}

namespace vaxo2::queue {

// Addresses a GraphicObject downward from a root, one layer number per level.
using LayerPath = std::vector<int64_t>;

// A command parameter that applies only when the script gave it.
template <typename T>
struct OptionalValue {
    T value{};
    bool given = false;

    void set(const T& v) {
        value = v;
        given = true;
    }
    void clear() {
        value = T{};
        given = false;
    }
    // The value when given, else `fallback`.
    T valueOr(const T& fallback) const { return given ? value : fallback; }
};

struct Float3 {
    float x = 0.0f;
    float y = 0.0f;
    float z = 0.0f;
    bool operator==(const Float3&) const = default;
};

using OptionalInt = OptionalValue<int64_t>;
using OptionalFloat = OptionalValue<float>;
using OptionalBool = OptionalValue<bool>;
using OptionalFloat3 = OptionalValue<Float3>;

// What one drain hands to every command it executes.
struct QueExecuteContext {
    // The root from which the command resolves its LayerPath: the screen root for bit 0 of
    // the target mask, the transition root for bit 1, unset for commands without a tree.
    graphics::GraphicObject* target = nullptr;
    graphics::GraphicObject* screenRoot = nullptr;
    // Set by a transition command during this drain. Owning: whoever runs the drain takes it
    // over afterwards (and deletes a previous one).
    graphics::GraphicObject* transitionRoot = nullptr;
};

// Target mask bits.
constexpr uint64_t kTargetScreen = 1;
constexpr uint64_t kTargetTransition = 2;

class classQueBase {
  public:
    classQueBase() = default;
    virtual ~classQueBase() = default;
    classQueBase(const classQueBase&) = delete;
    classQueBase& operator=(const classQueBase&) = delete;

    virtual void execute(QueExecuteContext& context) = 0;

    uint32_t unused = 0;
    // Bit 0: applies to the screen tree; bit 1: to the transition tree. 0: no tree at all.
    uint64_t targetMask = 0;
};

}  // namespace vaxo2::queue
