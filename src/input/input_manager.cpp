#include "input/input_manager.h"

#include <algorithm>

#include "core/app_context.h"
#include "graphics/graphic_commands.h"
#include "graphics/tree_draw.h"
#include "input/area_hit.h"
#include "input/input_scene.h"
#include "platform/clock.h"

namespace vaxo2::input {

namespace wm = platform::wm;
namespace vk = platform::vk;
using graphics::GraphicObject;

GamePoint mapToGame(int x, int y, int32_t viewportWidth, int32_t viewportHeight) {
    if (viewportWidth <= 0 || viewportHeight <= 0) {
        return GamePoint{static_cast<float>(x), static_cast<float>(y)};
    }
    const float gw = static_cast<float>(graphics::kDesignWidth);
    const float gh = static_cast<float>(graphics::kDesignHeight);
    const float w = static_cast<float>(viewportWidth);
    const float h = static_cast<float>(viewportHeight);
    float scale, offsetX = 0, offsetY = 0;
    // Window aspect at least the design aspect, compared without rounding: bars left and right.
    if (int64_t{viewportWidth} * graphics::kDesignHeight >=
        int64_t{viewportHeight} * graphics::kDesignWidth) {
        scale = h / gh;
        offsetX = static_cast<float>(static_cast<int32_t>((w - gw * scale) / 2));
    } else {
        scale = w / gw;
        offsetY = static_cast<float>(static_cast<int32_t>((h - gh * scale) / 2));
    }
    return GamePoint{(static_cast<float>(x) - offsetX) / scale,
                     (static_cast<float>(y) - offsetY) / scale};
}

// What one message's offering has found out about the scene, shared by every context it
// reaches.
struct InputManager::Offer {
    GraphicObject* root = nullptr;
    graphics::CameraSetup camera;
    GamePoint point;
    int systemScript = -1;  // unknown until a context asks
};

InputManager::InputManager(InputScene* scene) : scene_(scene) {}

InputManager::~InputManager() = default;

// ---- key table ---------------------------------------------------------------------------

const KeyState* InputManager::keyState(int64_t virtualKey) const {
    if (virtualKey < 0 || virtualKey >= static_cast<int64_t>(keys_.size())) return nullptr;
    return &keys_[static_cast<size_t>(virtualKey)];
}

bool InputManager::keyHeld(int64_t virtualKey) const {
    const KeyState* k = keyState(virtualKey);
    return k != nullptr && k->held.load() != 0;
}

uint64_t InputManager::pressCount(int64_t virtualKey) const {
    const KeyState* k = keyState(virtualKey);
    return k != nullptr ? k->pressCount.load() : 0;
}

void InputManager::press(int64_t virtualKey) {
    if (virtualKey < 0 || virtualKey >= static_cast<int64_t>(keys_.size())) return;
    KeyState& key = keys_[static_cast<size_t>(virtualKey)];
    key.pressCount.fetch_add(1);
    key.held.store(1);
}

void InputManager::release(int64_t virtualKey) {
    if (virtualKey < 0 || virtualKey >= static_cast<int64_t>(keys_.size())) return;
    keys_[static_cast<size_t>(virtualKey)].held.store(0);
}

// ---- messages ----------------------------------------------------------------------------

namespace {

// Key-table entry of a mouse-button message, or 0.
int32_t buttonOf(uint32_t kind, bool& down) {
    down = kind == wm::kLButtonDown || kind == wm::kRButtonDown || kind == wm::kMButtonDown;
    switch (kind) {
        case wm::kLButtonDown:
        case wm::kLButtonUp:
            return button::kLeft;
        case wm::kRButtonDown:
        case wm::kRButtonUp:
            return button::kRight;
        case wm::kMButtonDown:
        case wm::kMButtonUp:
            return button::kMiddle;
        default:
            return 0;
    }
}

bool isPointerMessage(uint32_t kind) {
    return kind == wm::kLButtonDown || kind == wm::kRButtonDown || kind == wm::kMButtonDown ||
           kind == wm::kMouseWheel || kind == wm::kMouseMove;
}

int16_t wheelDelta(uint64_t wParam) {
    return static_cast<int16_t>((wParam >> 16) & 0xFFFF);
}

}  // namespace

void InputManager::handleMessage(const platform::WindowMessage& original) {
    platform::WindowMessage message = original;
    // Alt and F10 arrive as system keys; they count like any other key. Other keys pressed
    // with Alt do not.
    if ((message.kind == wm::kSysKeyDown || message.kind == wm::kSysKeyUp) &&
        (message.wParam == vk::kMenu || message.wParam == vk::kF10)) {
        message.kind = message.kind == wm::kSysKeyDown ? wm::kKeyDown : wm::kKeyUp;
    }

    bool down = false;
    if (const int32_t b = buttonOf(message.kind, down)) {
        down ? press(b) : release(b);
    } else if (message.kind == wm::kKeyDown || message.kind == wm::kKeyUp) {
        // Codes beyond the table (a wParam above 255, or one too large for a signed value)
        // have no entry.
        const int64_t code = message.wParam <= 0xFFFFu ? static_cast<int64_t>(message.wParam) : -1;
        message.kind == wm::kKeyDown ? press(code) : release(code);
    }

    Offer offer;
    if (isPointerMessage(message.kind)) {
        int32_t w = 0, h = 0;
        if (scene_ == nullptr || !scene_->viewportSize(w, h)) w = h = 0;
        offer.point = mapToGame(wm::lParamX(message.lParam), wm::lParamY(message.lParam), w, h);
        offer.camera = cameraForViewport(w, h);
        if (message.kind == wm::kMouseMove) {
            mouseX_.store(offer.point.x);
            mouseY_.store(offer.point.y);
        }
    }

    std::lock_guard lock(mutex_);
    auto offerToAll = [&] {
        bool taken = false;
        for (const std::unique_ptr<InputContext>& c : contexts_) {
            InputContext& context = *c;
            if (!activeLocked(context, offer)) continue;
            // A raised stop flag wakes every waiter it concerns, not only the first one.
            if (stopWakes(context)) {
                context.event_.set();
                taken = true;
                continue;
            }
            if (!taken) taken = offerLocked(context, message, offer);
        }
    };
    if (scene_ != nullptr && needsSceneLocked(message)) {
        scene_->withScreenTree([&](GraphicObject* root) {
            offer.root = root;
            offerToAll();
        });
    } else {
        offerToAll();
    }
}

bool InputManager::needsSceneLocked(const platform::WindowMessage& message) const {
    const bool pointer = isPointerMessage(message.kind);
    for (const std::unique_ptr<InputContext>& c : contexts_) {
        if (!c->waiting()) continue;
        if (!c->ownerPath_.empty()) return true;
        if (!pointer) continue;
        for (const std::unique_ptr<InputTrigger>& t : c->triggers_) {
            if (t->kind != TriggerKind::Key && !t->area.empty()) return true;
        }
    }
    return false;
}

bool InputManager::stopWakes(const InputContext& context) const {
    const core::AppContext* app = core::appContext();
    if (app == nullptr) return false;
    return (app->quitRequested.load() == 1 && !(context.stopMask_ & stop_mask::kQuit)) ||
           (app->restartRequested.load() == 1 && !(context.stopMask_ & stop_mask::kRestart)) ||
           (app->dataLoadRequested.load() == 1 && !(context.stopMask_ & stop_mask::kDataLoad));
}

bool InputManager::activeLocked(const InputContext& context, Offer& offer) {
    if (!context.waiting()) return false;
    if (context.ignoreDuringSystemScript_) {
        if (offer.systemScript < 0) {
            offer.systemScript = scene_ != nullptr && scene_->systemScriptActive() ? 1 : 0;
        }
        if (offer.systemScript == 1) return false;
    }
    if (!context.ownerPath_.empty() &&
        !objectShown(GraphicObject::find(offer.root, context.ownerPath_))) {
        return false;
    }
    return true;
}

InputTrigger* InputManager::firstHitLocked(InputContext& context, TriggerKind kind, int32_t code,
                                           bool needArea, Offer& offer) {
    for (const std::unique_ptr<InputTrigger>& t : context.triggers_) {
        if (t->disabled || t->kind != kind) continue;
        if (code != 0 && t->code != code) continue;
        if (t->area.empty()) {
            if (needArea) continue;
            return t.get();
        }
        const GraphicObject* object = GraphicObject::find(offer.root, t->area);
        if (object != nullptr && pictureContains(*object, offer.point, offer.camera))
            return t.get();
    }
    return nullptr;
}

bool InputManager::offerLocked(InputContext& context, const platform::WindowMessage& message,
                               Offer& offer) {
    bool down = false;
    if (const int32_t b = buttonOf(message.kind, down); b != 0 && down) {
        InputTrigger* t = firstHitLocked(context, TriggerKind::MouseButton, b, false, offer);
        if (t == nullptr) return false;
        fireLocked(context, *t);
        return true;
    }
    switch (message.kind) {
        case wm::kMouseWheel: {
            const int16_t delta = wheelDelta(message.wParam);
            if (delta == 0) return false;
            const TriggerKind kind = delta > 0 ? TriggerKind::WheelAway : TriggerKind::WheelToward;
            InputTrigger* t = firstHitLocked(context, kind, 0, false, offer);
            if (t == nullptr) return false;
            fireLocked(context, *t);
            return true;
        }
        case wm::kMouseMove: {
            // A button under the pointer is hovered whichever mouse button it answers to.
            const InputTrigger* hovered =
                firstHitLocked(context, TriggerKind::MouseButton, 0, true, offer);
            updateHoverStatesLocked(context, hovered);
            if (context.commandQueue_ != nullptr) context.commandQueue_->release();
            return hovered != nullptr;
        }
        case wm::kKeyDown: {
            if (message.wParam > 0x7FFFFFFFu) return false;
            const int32_t code = static_cast<int32_t>(message.wParam);
            for (const std::unique_ptr<InputTrigger>& t : context.triggers_) {
                if (!t->disabled && t->kind == TriggerKind::Key && t->code == code) {
                    fireLocked(context, *t);
                    return true;
                }
            }
            return false;
        }
        default:
            return false;
    }
}

void InputManager::fireLocked(InputContext& context, InputTrigger& trigger) {
    context.fired_ = &trigger;
    context.firedInThisWait_ = true;
    if (!trigger.pressedImage.empty() || !trigger.overlayHoverImage.empty()) {
        setDisplayStateLocked(trigger, DisplayState::Pressed);
        if (context.commandQueue_ != nullptr) context.commandQueue_->release();
    }
    context.waiting_.store(0);
    context.event_.set();
}

// ---- display states -----------------------------------------------------------------------

namespace {

std::unique_ptr<graphics::classQue_GraphicAlter> alterFor(const LayerPath& path) {
    auto alter = std::make_unique<graphics::classQue_GraphicAlter>();
    alter->targetMask = queue::kTargetScreen | queue::kTargetTransition;
    alter->path = path;
    return alter;
}

}  // namespace

void InputManager::setDisplayStateLocked(InputTrigger& trigger, DisplayState state) {
    queue::CommandQueue* q = trigger.context != nullptr ? trigger.context->commandQueue_ : nullptr;
    const std::string* image = &trigger.normalImage;
    if (state == DisplayState::Hover) image = &trigger.hoverImage;
    if (state == DisplayState::Pressed) image = &trigger.pressedImage;
    if (state == DisplayState::Disabled) image = &trigger.disabledImage;
    if (*image != trigger.currentImage) {
        if (q != nullptr && !image->empty()) {
            auto alter = alterFor(trigger.area);
            alter->file = *image;
            q->push(std::move(alter));
        }
        trigger.currentImage = *image;
    }
    if (trigger.overlayHoverImage.empty()) return;
    std::string overlay;
    if (state == DisplayState::Normal) overlay = trigger.overlayNormalImage;
    if (state == DisplayState::Hover) overlay = trigger.overlayHoverImage;
    if (overlay == trigger.currentOverlayImage) return;
    if (q != nullptr) {
        auto alter = alterFor(trigger.overlayPath);
        alter->hide.set(overlay.empty());
        alter->file = overlay;
        q->push(std::move(alter));
    }
    trigger.currentOverlayImage = overlay;
}

void InputManager::updateHoverStatesLocked(InputContext& context, const InputTrigger* hovered) {
    for (const std::unique_ptr<InputTrigger>& t : context.triggers_) {
        DisplayState state = DisplayState::Normal;
        if (t->disabled) {
            state = DisplayState::Disabled;
        } else if (t.get() == hovered) {
            state = DisplayState::Hover;
        }
        setDisplayStateLocked(*t, state);
    }
}

void InputManager::updateHoverStates(InputContext& context, const InputTrigger* hovered) {
    std::lock_guard lock(mutex_);
    updateHoverStatesLocked(context, hovered);
    if (context.commandQueue_ != nullptr) context.commandQueue_->release();
}

// ---- contexts and triggers ---------------------------------------------------------------

InputContext* InputManager::createContext(int64_t priority) {
    std::unique_ptr<InputContext> context(new InputContext(priority));
    context->commandQueue_ = &queue::systemCommandQueue();
    InputContext* result = context.get();
    std::lock_guard lock(mutex_);
    auto at = std::find_if(contexts_.begin(), contexts_.end(),
                           [&](const auto& c) { return c->priority_ < priority; });
    contexts_.insert(at, std::move(context));
    std::lock_guard wakeLock(wakeMutex_);
    wakeList_.push_back(result);
    return result;
}

void InputManager::destroyContext(InputContext* context) {
    if (context == nullptr) return;
    std::lock_guard lock(mutex_);
    {
        std::lock_guard wakeLock(wakeMutex_);
        wakeList_.erase(std::remove(wakeList_.begin(), wakeList_.end(), context), wakeList_.end());
    }
    contexts_.erase(std::remove_if(contexts_.begin(), contexts_.end(),
                                   [&](const auto& c) { return c.get() == context; }),
                    contexts_.end());
}

void InputManager::setStopMask(InputContext& context, int32_t mask) {
    std::lock_guard lock(mutex_);
    context.stopMask_ = mask;
}

void InputManager::setOwnerPath(InputContext& context, LayerPath path) {
    std::lock_guard lock(mutex_);
    context.ownerPath_ = std::move(path);
}

void InputManager::setIgnoreDuringSystemScript(InputContext& context, bool ignore) {
    std::lock_guard lock(mutex_);
    context.ignoreDuringSystemScript_ = ignore;
}

void InputManager::setCommandQueue(InputContext& context, queue::CommandQueue* commandQueue) {
    std::lock_guard lock(mutex_);
    context.commandQueue_ = commandQueue;
}

InputTrigger* InputManager::addTrigger(InputContext& context, TriggerKind kind, int32_t code,
                                       bool repeat) {
    auto trigger = std::make_unique<InputTrigger>();
    trigger->kind = kind;
    trigger->code = code;
    trigger->repeat = repeat;
    trigger->context = &context;
    InputTrigger* result = trigger.get();
    std::lock_guard lock(mutex_);
    context.triggers_.push_back(std::move(trigger));
    return result;
}

void InputManager::clearTriggers(InputContext& context) {
    std::lock_guard lock(mutex_);
    context.fired_ = nullptr;
    context.firedInThisWait_ = false;
    context.triggers_.clear();
}

void InputManager::setArea(InputTrigger& trigger, LayerPath area) {
    std::lock_guard lock(mutex_);
    trigger.area = std::move(area);
}

void InputManager::setImages(InputTrigger& trigger, std::string normal, std::string hover,
                             std::string pressed, std::string disabled) {
    std::lock_guard lock(mutex_);
    trigger.normalImage = std::move(normal);
    trigger.hoverImage = std::move(hover);
    trigger.pressedImage = std::move(pressed);
    trigger.disabledImage = std::move(disabled);
}

void InputManager::setOverlay(InputTrigger& trigger, LayerPath path, std::string normal,
                              std::string hover) {
    std::lock_guard lock(mutex_);
    trigger.overlayPath = std::move(path);
    trigger.overlayNormalImage = std::move(normal);
    trigger.overlayHoverImage = std::move(hover);
}

void InputManager::setDisabled(InputTrigger& trigger, bool disabled) {
    std::lock_guard lock(mutex_);
    trigger.disabled = disabled;
}

void InputManager::setRepeat(InputTrigger& trigger, bool repeat) {
    std::lock_guard lock(mutex_);
    trigger.repeat = repeat;
}

// ---- waiting -------------------------------------------------------------------------------

InputTrigger* InputManager::wait(InputContext& context, uint32_t timeoutMs) {
    // Deadlines are compared on the wrapping 32-bit clock, which orders only times less than
    // half its range apart: a longer time-out (KeyWait without Time asks for the largest) is
    // no limit at all.
    if (timeoutMs >= 0x7FFFFFFFu) timeoutMs = platform::kInfinite;
    {
        std::lock_guard lock(mutex_);
        if (timeoutMs == platform::kInfinite && context.triggers_.empty()) return nullptr;
        if (context.fired_ != nullptr && context.fired_->repeat && keyHeld(button::kLeft)) {
            context.waitResult_ = platform::kWaitObject0;
            return context.fired_;
        }
        // Forget earlier signals before the context takes messages, both under the lock that
        // the offering holds: a click that arrives from now on is kept for this wait. (Marking
        // the context as waiting first and resetting the event afterwards would let a click
        // taken in between be lost.)
        context.event_.reset();
        context.firedInThisWait_ = false;
        context.waiting_.store(1);
        // A stop raised before the wait began has already sent its wake-up.
        const core::AppContext* app = core::appContext();
        if (stopWakes(context) || (app != nullptr && app->windowClosed.load() != 0)) {
            context.waiting_.store(0);
            context.waitResult_ = platform::kWaitObject0;
            return nullptr;
        }
    }
    if (armedProbe_) armedProbe_();
    const bool woken = context.event_.wait(timeoutMs);
    std::lock_guard lock(mutex_);
    context.waiting_.store(0);
    context.waitResult_ = woken ? platform::kWaitObject0 : platform::kWaitTimeout;
    // A trigger that fired as the time ran out still counts: its message was taken.
    return context.firedInThisWait_ ? context.fired_ : nullptr;
}

void InputManager::wakeAll() {
    std::lock_guard lock(wakeMutex_);
    for (InputContext* context : wakeList_)
        context->event_.set();
}

}  // namespace vaxo2::input
