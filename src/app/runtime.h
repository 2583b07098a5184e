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

#include "app/command_line.h"
#include "app/runtime_script_host.h"
#include "app/window_procedure.h"
#include "core/app_context.h"
#include "graphics/display_device.h"
#include "graphics/graphic_object.h"
#include "graphics/movie_playback.h"
#include "graphics/text_engine.h"
#include "input/input_manager.h"
#include "platform/threads.h"
#include "platform/window.h"
#include "script/interpreter.h"
#include "sound/sound_system.h"

namespace vaxo2::app {

// The pieces later subsystems plug in. Every hook may be empty.
struct RuntimeHooks {
    std::function<void(core::AppContext&)> loadSystemData;
    std::function<void(core::AppContext&)> loadAlreadyData;
    std::function<void(core::AppContext&)> saveSystemData;
    std::function<void(core::AppContext&)> saveAlreadyData;
    // Runs on the scenario thread after the first drawn frame, fonts and cursor: the script
    // part of the scenario start. Its return value is the thread's exit code. Empty: the script
    // runner runs "Start.vxs" (and the load re-entries), which ends at once in an empty game.
    std::function<uint32_t(core::AppContext&)> runScenario;
    // Also receives every window message the window procedure does not handle itself, after
    // the input manager has seen it (an observer for tests).
    std::function<void(const platform::WindowMessage&)> inputManager;
    // Called on the render thread after each presented frame (benchmarks time input with it).
    std::function<void(core::AppContext&)> framePresented;
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
    core::AppContext& context() { return *context_; }

  private:
    // DisplayControl: the window's view of the display device.
    bool fullScreen() const override { return device_.fullScreen(); }
    bool exclusiveFullScreen() const override { return device_.exclusiveFullScreen(); }
    void requestReset(uint32_t at) override { device_.requestReset(at); }
    void requestFullScreenToggle() override { device_.toggleFullScreenRequest(); }
    bool takeRecentre() override { return device_.takeRecentre(); }

    bool createMainWindow();
    void messageLoop();
    void feedTimedInput();
    uint32_t millisecondsToNextTimedEvent() const;
    uint32_t renderThreadProc(platform::WorkerThread& self);
    uint32_t scenarioThreadProc(platform::WorkerThread& self);
    // Reads and compiles the first script and starts decoding the pictures it shows first,
    // while the window and the GL context come up.
    void startPreload();
    void frameStep();
    void requestDueScreenshots(uint32_t sinceStart);
    void writeDueTreeDumps(uint32_t sinceStart);
    uint32_t runScenarioScripts();
    void waitForDrawnFrame();
    void loadCursor();
    void finishTrace();
    uint32_t millisecondsToNextDueFrame() const;

    RunOptions options_;
    RuntimeHooks hooks_;
    RunReport report_;
    std::unique_ptr<core::AppContext> context_;
    std::unique_ptr<core::ScopedAppContext> published_;
    std::unique_ptr<platform::Window> window_;
    std::unique_ptr<WindowProcedure> procedure_;
    std::unique_ptr<platform::Cursor> cursor_;
    platform::WorkerThread renderThread_;
    platform::WorkerThread scenarioThread_;
    // Joined by the scenario thread before it runs the first script (it hands that over).
    platform::WorkerThread preloadThread_;
    uint32_t runStart_ = 0;
    size_t nextInput_ = 0;
    bool exitPosted_ = false;
    // The last frame found the scene still: the render thread may sleep until asked.
    bool sceneStill_ = false;
    // The render thread slept since the last frame.
    bool slept_ = false;
    std::vector<bool> screenshotTaken_;
    std::vector<bool> treeDumpWritten_;

    // The subsystems, built in dependency order and owned for the whole run. The context
    // points at them.
    graphics::DisplayDevice device_;
    std::unique_ptr<graphics::GraphicObject> screenRoot_;
    std::unique_ptr<graphics::GraphicObject> transitionTree_;
    std::unique_ptr<graphics::TextEngine> textEngine_;
    std::unique_ptr<graphics::MoviePlayback> movies_;
    std::unique_ptr<RuntimeScriptHost> scriptHost_;
    std::unique_ptr<input::InputScene> inputScene_;
    std::unique_ptr<input::InputManager> inputManager_;
    std::unique_ptr<script::ScriptRunner> runner_;
    std::unique_ptr<sound::SoundSystem> sound_;
};

}  // namespace vaxo2::app
