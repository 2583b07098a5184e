#include "app/runtime_script_host.h"

#include <memory>

#include "core/frame_sync.h"
#include "graphics/graphic_commands.h"
#include "graphics/transition.h"
#include "platform/clock.h"
#include "queue/command_queue.h"
#include "queue/sound_commands.h"
#include "sound/sound_manager.h"

namespace vaxo2::app {

void RuntimeScriptHost::releaseMainQueue() {
    queue::mainCommandQueue().release();
}

void RuntimeScriptHost::queueRestartCleanup() {
    auto graphics = std::make_unique<graphics::classQue_GraphicAllDelete>();
    graphics->targetMask = 1;
    queue::mainCommandQueue().push(std::move(graphics));
    queue::mainCommandQueue().push(std::make_unique<queue::classQue_SoundAllDelete>());
}

void RuntimeScriptHost::queueTextDrawingAllFinish() {
    auto finish = std::make_unique<graphics::classQue_GraphicStdTextDrawingAllFinish>();
    finish->targetMask = queue::kTargetScreen;
    queue::mainCommandQueue().push(std::move(finish));
}

void RuntimeScriptHost::queueStopVoice(int64_t value) {
    auto stop = std::make_unique<queue::classQue_SoundStopToVoice>();
    stop->time.set(value);
    queue::mainCommandQueue().push(std::move(stop));
}

std::optional<int64_t> RuntimeScriptHost::currentVoiceLength() {
    if (!context_.soundManager || context_.lastVoiceFile.empty()) return std::nullopt;
    return context_.soundManager->soundLengthMs(context_.lastVoiceLayer);
}

bool RuntimeScriptHost::anyVoicePlaying() {
    return context_.soundManager && context_.soundManager->voicePlaying();
}

void RuntimeScriptHost::waitForFrame() {
    // One whole frame: the render thread starts a new one and finishes it.
    core::waitForFrameAfter(context_, context_.frameStarted.load(),
                            [this] { return context_.stopRequested(); });
}

std::optional<int64_t> RuntimeScriptHost::messageDisplayTime() {
    std::lock_guard lock(graphics::treeMutex());
    const graphics::GraphicObject* message =
        graphics::GraphicObject::find(context_.screenRoot, graphics::LayerPath{100});
    if (message == nullptr) return std::nullopt;
    return graphics::messageDisplayTime(*message);
}

bool RuntimeScriptHost::messageTextDrawing() {
    if (textEngine_ == nullptr || context_.screenRoot == nullptr) return false;
    std::lock_guard lock(graphics::treeMutex());
    return textEngine_->textAppearing(*context_.screenRoot);
}

void RuntimeScriptHost::clearMessageTextGuard() {
    if (textEngine_ != nullptr) textEngine_->clearGuard();
}

void RuntimeScriptHost::openHistoryEntry() {
    if (textEngine_ != nullptr && textEngine_->history() != nullptr)
        textEngine_->history()->openEntry();
}

void RuntimeScriptHost::appendHistory(const std::string& text) {
    if (textEngine_ != nullptr && textEngine_->history() != nullptr)
        textEngine_->history()->appendText(text);
}

}  // namespace vaxo2::app
