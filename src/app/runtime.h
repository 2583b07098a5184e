#pragma once
// The runtime object: builds the subsystems in order, owns them, runs the message loop on the
// calling (main) thread with the render, scenario and ticker threads beside it, and tears it all
// down in order.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/app_context.h"
#include "app/command_line.h"
#include "app/window_procedure.h"
#include "platform/threads.h"
#include "platform/window.h"

namespace vaxo2::app {

// The pieces later subsystems plug in. Every hook may be empty.
struct RuntimeHooks {
    std::function<void(AppContext&)> loadSystemData;
    std::function<void(AppContext&)> loadAlreadyData;
    std::function<void(AppContext&)> saveSystemData;
    std::function<void(AppContext&)> saveAlreadyData;
    // Runs on the scenario thread after the first drawn frame: the scenario start. Its return
    // value is the thread's exit code. Empty: an empty scenario, which ends at once.
    std::function<uint32_t(AppContext&)> runScenario;
    // Receives every window message the window procedure does not handle itself.
    std::function<void(const platform::WindowMessage&)> inputManager;
};

// What a run observed, for tests and benchmarks.
struct RunReport {
    int exitCode = 0;
    int32_t framesDrawn = 0;  // frames drawn and presented
    int32_t frameSteps = 0;   // frame steps run, idle ones included
    // frameDone as the scenario start saw it when it began (at least 1).
    int32_t scenarioStartFrame = -1;
    // Order of the shutdown steps, as names; "saveSystem" and "saveAlready" come after both
    // threads were stopped.
    std::vector<std::string> shutdownSteps;
    uint32_t firstPresentMs = 0;  // clock time of the first presented frame from the start
    std::string error;
};

class Runtime : public DisplayControl {
  public:
    Runtime(RunOptions options, RuntimeHooks hooks);
    ~Runtime() override;
    Runtime(const Runtime&) = delete;
    Runtime& operator=(const Runtime&) = delete;

    // Set-up through tear-down. Returns the process exit code.
    int run();
    const RunReport& report() const { return report_; }
    AppContext& context() { return *context_; }

  private:
    // DisplayControl (the device's request values until the full display device takes over).
    bool fullScreen() const override { return fullScreen_; }
    bool exclusiveFullScreen() const override { return exclusiveFullScreen_; }
    void requestReset(uint32_t at) override;
    void requestFullScreenToggle() override { fullScreenToggleRequested_ = 1; }
    bool takeRecentre() override { return recentre_.exchange(0) != 0; }

    bool createMainWindow();
    void messageLoop();
    void feedTimedInput();
    uint32_t millisecondsToNextTimedEvent() const;
    uint32_t renderThreadProc(platform::WorkerThread& self);
    uint32_t scenarioThreadProc(platform::WorkerThread& self);
    void frameStep(platform::GlContext* gl);
    bool applyModeRequests();
    bool screenshotDue(uint32_t sinceStart) const;
    void takeScreenshots(platform::GlContext& gl, uint32_t sinceStart);
    void waitForDrawnFrame();
    void loadCursor();

    RunOptions options_;
    RuntimeHooks hooks_;
    RunReport report_;
    std::unique_ptr<AppContext> context_;
    std::unique_ptr<ScopedAppContext> published_;
    std::unique_ptr<platform::Window> window_;
    std::unique_ptr<WindowProcedure> procedure_;
    std::unique_ptr<platform::Cursor> cursor_;
    platform::WorkerThread renderThread_;
    platform::WorkerThread scenarioThread_;
    uint32_t runStart_ = 0;
    size_t nextInput_ = 0;
    bool exitPosted_ = false;
    std::vector<bool> screenshotTaken_;

    std::atomic<uint8_t> fullScreen_{0};
    std::atomic<uint8_t> exclusiveFullScreen_{0};
    std::atomic<uint8_t> fullScreenToggleRequested_{0};
    std::atomic<uint8_t> modeChanged_{0};
    std::atomic<uint8_t> recentre_{0};
    std::atomic<uint32_t> resetAt_{0};
    std::atomic<uint8_t> redrawRequested_{0};
};

}  // namespace vaxo2::app
