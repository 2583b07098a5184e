#include "input/context_waiter.h"

#include <algorithm>

#include "core/app_context.h"

namespace vaxo2::input {

ContextWaiter::ContextWaiter(InputManager& manager, int64_t priority)
    : manager_(manager), context_(manager.createContext(priority)) {}

ContextWaiter::~ContextWaiter() {
    manager_.destroyContext(context_);
}

void ContextWaiter::clearTriggers() {
    manager_.clearTriggers(*context_);
    triggers_.clear();
}

int ContextWaiter::addTrigger(script::TriggerKind kind, int32_t code, int32_t flag) {
    triggers_.push_back(manager_.addTrigger(*context_, kind, code, flag != 0));
    return static_cast<int>(triggers_.size()) - 1;
}

void ContextWaiter::setDisabled(int triggerId, bool disabled) {
    if (triggerId < 0 || static_cast<size_t>(triggerId) >= triggers_.size()) return;
    manager_.setDisabled(*triggers_[static_cast<size_t>(triggerId)], disabled);
}

int ContextWaiter::wait(uint32_t timeoutMs) {
    const InputTrigger* fired = manager_.wait(*context_, timeoutMs);
    if (fired == nullptr) return -1;
    auto it = std::find(triggers_.begin(), triggers_.end(), fired);
    return it == triggers_.end() ? -1 : static_cast<int>(it - triggers_.begin());
}

bool ContextWaiter::keyHeld(int32_t virtualKey) const {
    return manager_.keyHeld(virtualKey);
}

void ContextWaiter::latchLeftClicks() {
    if (core::AppContext* app = core::appContext())
        app->latchedLeftPresses.store(manager_.pressCount(button::kLeft));
}

}  // namespace vaxo2::input
