#pragma once
// What the script commands need from the running application: the main queue, the render
// thread's frames and the cleanup that Restart queues.
#include "core/app_context.h"
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

  private:
    core::AppContext& context_;
};

}  // namespace vaxo2::app
