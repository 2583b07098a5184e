#pragma once
// The script engine's input waiter over an input context: the waiting commands (Wait, KeyWait,
// GraphicWait, Transition) register their triggers here and block on the context.
#include <cstdint>
#include <vector>

#include "input/input_manager.h"
#include "script/input_waiter.h"

namespace vaxo2::input {

class ContextWaiter final : public script::InputWaiter {
  public:
    // The script's waits take clicks after the contexts of higher priority (the toolbar's).
    static constexpr int64_t kScriptPriority = 0;

    explicit ContextWaiter(InputManager& manager, int64_t priority = kScriptPriority);
    ~ContextWaiter() override;
    ContextWaiter(const ContextWaiter&) = delete;
    ContextWaiter& operator=(const ContextWaiter&) = delete;

    void clearTriggers() override;
    // `flag` is the trigger's repeat setting.
    int addTrigger(script::TriggerKind kind, int32_t code, int32_t flag) override;
    void setDisabled(int triggerId, bool disabled) override;
    int wait(uint32_t timeoutMs) override;
    bool keyHeld(int32_t virtualKey) const override;
    void latchLeftClicks() override;

    InputContext& context() { return *context_; }

  private:
    InputManager& manager_;
    InputContext* context_;
    std::vector<InputTrigger*> triggers_;  // index = id
};

}  // namespace vaxo2::input
