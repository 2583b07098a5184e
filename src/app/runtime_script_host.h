#pragma once
// What the script commands need from the running application: the main queue, the render
// thread's frames and the cleanup that Restart queues.
#include "core/app_context.h"
#include "graphics/text_engine.h"
#include "script/script_host.h"

namespace vaxo2::app {

class RuntimeScriptHost : public script::ScriptHost {
  public:
    explicit RuntimeScriptHost(core::AppContext& context) : context_(context) {}

    void releaseMainQueue() override;
    void queueRestartCleanup() override;
    void queueTextDrawingAllFinish() override;
    void queueStopVoice(int64_t value) override;
    void waitForFrame() override;
    std::optional<int64_t> currentVoiceLength() override;
    bool anyVoicePlaying() override;

    // Message text: the automatic-play time of the page at layer 100, and
    // the guard KeyWait consults while characters appear.
    void setTextEngine(graphics::TextEngine* engine) { textEngine_ = engine; }
    std::optional<int64_t> messageDisplayTime() override;
    bool messageTextDrawing() override;
    void clearMessageTextGuard() override;
    // Voices record themselves in the same history as message text.
    void openHistoryEntry() override;
    void appendHistory(const std::string& text) override;

  private:
    core::AppContext& context_;
    graphics::TextEngine* textEngine_ = nullptr;
};

}  // namespace vaxo2::app
