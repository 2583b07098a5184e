#include "app/runtime.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>

#include "app/frame_pacing.h"
#include "app/runtime_input_scene.h"
#include "app/ticker.h"
#include "core/frame_sync.h"
#include "core/trace.h"
#include "graphics/game_fonts.h"
#include "graphics/gpu_backend.h"
#include "graphics/picture_prefetch.h"
#include "graphics/script_commands.h"
#include "graphics/text_commands.h"
#include "graphics/transition.h"
#include "graphics/tree_dump.h"
#include "input/context_waiter.h"
#include "io/cursor_file.h"
#include "platform/clock.h"
#include "platform/screenshot.h"
#include "platform/system.h"
#include "queue/command_queue.h"
#include "queue/sound_commands.h"
#include "sound/script_commands.h"

namespace vaxo2::app {

using platform::Clock;
using platform::WindowMessage;
namespace wm = platform::wm;

namespace {
constexpr uint32_t kThreadStopMs = 1000;
constexpr const char* kGameTitle = "Vaxo2";
constexpr const char* kCursorFile = "system\\ceol.cur";
constexpr const char* kFirstScript = "Start.vxs";
// Pictures decoded ahead on this many threads once the window is up (the machine's cores,
// typically): the render thread only uploads what they made.
constexpr int kDecodeThreads = 2;

// The sound layers' fades and stream refills, every 100 ms on the ticker thread while any
// layer plays or fades.
class SoundTick final : public TickTarget {
  public:
    // `pump`: bring a device without hardware up to the clock first (on the real clock; the
    // stepped clock's driver does that with every frame).
    SoundTick(sound::SoundSystem& system, bool pump) : system_(system), pump_(pump) {}
    void tick(uint32_t elapsedMs) override {
        // A device without hardware consumes the mix only when asked: the layers then see what
        // has played.
        if (pump_) system_.pump(Clock::instance().now());
        system_.manager().update(elapsedMs);
    }
    bool wantsTicks() const override { return system_.manager().needsUpdates(); }

  private:
    sound::SoundSystem& system_;
    bool pump_;
};
}  // namespace

Runtime::Runtime(RunOptions options, RuntimeHooks hooks)
    : options_(std::move(options)), hooks_(std::move(hooks)) {
    screenshotTaken_.assign(options_.screenshots.size(), false);
    treeDumpWritten_.assign(options_.treeDumps.size(), false);
}

Runtime::~Runtime() = default;

int Runtime::run() {
    Clock& clock = Clock::instance();
    if (options_.stepped) clock.useStepped(0);
    runStart_ = clock.now();
    if (!options_.traceFile.empty() && !core::Trace::on()) core::Trace::start(options_.traceFile);
    core::Trace::mark("setup");
    // In stepped mode the main thread is one of the threads the clock waits for.
    Clock::Participant mainParticipant;

    // Set-up: the context, then the queues (they are process-wide and exist already), then the
    // random seed from the clock.
    context_ = std::make_unique<core::AppContext>();
    published_ = std::make_unique<core::ScopedAppContext>(*context_);
    context_->gameFolder = options_.gameFolder.empty() ? "." : options_.gameFolder;
    screenRoot_ = std::make_unique<graphics::GraphicObject>();
    context_->screenRoot = screenRoot_.get();
    context_->device = &device_;
    device_.setWakeHandler([this] { core::requestFrame(*context_); });
    device_.setMessageSink([](const std::string& text, const std::string& caption) {
        platform::showMessageBox(text, caption, platform::mb::kIconWarning);
    });
    sound_ = std::make_unique<sound::SoundSystem>();
    context_->soundManager = &sound_->manager();
    queue::setSoundCommandTarget(&sound_->manager());
    sound::registerSoundCommands();
    if (!options_.audioOut.empty()) {
        std::string error;
        if (!sound_->openCapture(options_.audioOut, error)) {
            std::fprintf(stderr, "vaxo2: --audio-out: %s\n", error.c_str());
            queue::setSoundCommandTarget(nullptr);
            published_.reset();
            context_.reset();
            sound_.reset();
            report_.exitCode = 2;
            return report_.exitCode;
        }
    }
    textEngine_ = std::make_unique<graphics::TextEngine>();
    textEngine_->install();
    movies_ = std::make_unique<graphics::MoviePlayback>();
    movies_->setMixer(&sound_->manager().mixer());
    movies_->install();
    scriptHost_ = std::make_unique<RuntimeScriptHost>(*context_);
    scriptHost_->setTextEngine(textEngine_.get());
    inputScene_ = std::make_unique<RuntimeInputScene>(*context_, device_);
    inputManager_ = std::make_unique<input::InputManager>(inputScene_.get());
    context_->inputManager = inputManager_.get();
    runner_ = std::make_unique<script::ScriptRunner>();
    runner_->setHost(scriptHost_.get());
    runner_->setInputWaiter(std::make_unique<input::ContextWaiter>(*inputManager_));
    runner_->loader().preConverter().allowGameFolder(options_.gameConverter);
    context_->scriptRunner = runner_.get();
    graphics::registerGraphicCommands();
    graphics::registerTextCommands();
    // Commands left in the process-wide queues by an earlier run in this process are stale.
    queue::mainCommandQueue().clear();
    queue::systemCommandQueue().clear();
    queue::spareCommandQueue().clear();
    std::srand(clock.now());

    core::Trace::mark("subsystems");
    if (hooks_.loadSystemData) hooks_.loadSystemData(*context_);
    if (hooks_.loadAlreadyData) hooks_.loadAlreadyData(*context_);

    context_->title = kGameTitle;
    context_->clientWidth = options_.clientWidth;
    context_->clientHeight = options_.clientHeight;

    startPreload();
    // The scenario thread joins the preload, and a join lets the stepped clock go on without
    // it: a preload still running when the first frames are drawn would move the scenario's
    // first frame from run to run. Stepped runs therefore finish it before there are frames.
    if (clock.stepped()) preloadThread_.stop(platform::kInfinite);
    if (!createMainWindow()) {
        preloadThread_.stop(platform::kInfinite);
        graphics::PicturePrefetch::instance().stop();
        report_.exitCode = 1;
        std::fprintf(stderr, "vaxo2: %s\n", report_.error.c_str());
        queue::setSoundCommandTarget(nullptr);
        published_.reset();
        context_.reset();
        return report_.exitCode;
    }

    core::Trace::mark("window");
    scenarioThread_.setName("scenario");
    scenarioThread_.start([this](platform::WorkerThread& t) { return scenarioThreadProc(t); });

    messageLoop();

    scenarioThread_.stop(kThreadStopMs);
    report_.shutdownSteps.push_back("scenarioStopped");
    if (hooks_.saveSystemData) hooks_.saveSystemData(*context_);
    report_.shutdownSteps.push_back("saveSystem");
    if (hooks_.saveAlreadyData) hooks_.saveAlreadyData(*context_);
    report_.shutdownSteps.push_back("saveAlready");

    if (renderThread_.running() || scenarioThread_.running()) {
        // A thread outlived its stop wait and may still use the window, the device and the
        // context. The saves are written; end the process here, as the design intends, rather
        // than pull the objects from under it.
        std::fprintf(stderr, "vaxo2: a worker thread did not stop in time; exiting\n");
        finishTrace();
        std::fflush(nullptr);
        std::_Exit(report_.exitCode);
    }
    procedure_.reset();
    runner_.reset();
    context_->inputManager = nullptr;
    inputManager_.reset();
    inputScene_.reset();
    scriptHost_.reset();
    queue::setSoundCommandTarget(nullptr);
    context_->soundManager = nullptr;
    movies_.reset();
    sound_.reset();
    transitionTree_.reset();
    screenRoot_.reset();
    textEngine_.reset();
    window_.reset();
    published_.reset();
    context_.reset();
    report_.shutdownSteps.push_back("tornDown");
    finishTrace();
    return report_.exitCode;
}

bool Runtime::createMainWindow() {
    platform::WindowOptions wo;
    wo.title = context_->title;
    wo.clientWidth = context_->clientWidth;
    wo.clientHeight = context_->clientHeight;
    wo.headless = options_.headless;
    std::string error;
    window_ = platform::createWindow(wo, error);
    if (!window_) {
        report_.error = "cannot open the window (" + error + ")" +
                        (options_.headless ? "" : "; without a display, run with --headless");
        return false;
    }
    context_->window = window_.get();
    procedure_ = std::make_unique<WindowProcedure>(*context_, *window_, *this);
    // Timed input from --input arrives through the window's queue like any other message, so
    // it reaches the input manager along the same path.
    procedure_->setInputSink([this](const WindowMessage& msg) {
        inputManager_->handleMessage(msg);
        if (hooks_.inputManager) hooks_.inputManager(msg);
    });
    window_->show(true);
    return true;
}

void Runtime::feedTimedInput() {
    const uint32_t since = Clock::instance().now() - runStart_;
    while (nextInput_ < options_.input.size() && options_.input[nextInput_].at <= since) {
        window_->postMessage(options_.input[nextInput_].message);
        ++nextInput_;
    }
    if (options_.exitAfter && !exitPosted_ && since >= *options_.exitAfter) {
        exitPosted_ = true;
        window_->postMessage({wm::kClose, 0, 0});
    }
}

uint32_t Runtime::millisecondsToNextTimedEvent() const {
    // Messages wake the loop; only the quit signals are noted without waking it, and a quarter
    // of a second is soon enough for those.
    constexpr uint32_t kMaxWait = 250;
    const uint32_t since = Clock::instance().now() - runStart_;
    uint32_t wait = kMaxWait;
    auto consider = [&](uint32_t at) { wait = std::min(wait, at > since ? at - since : 0u); };
    if (nextInput_ < options_.input.size()) consider(options_.input[nextInput_].at);
    if (options_.exitAfter && !exitPosted_) consider(*options_.exitAfter);
    return wait;
}

void Runtime::messageLoop() {
    Clock& clock = Clock::instance();
    renderThread_.setClockParticipant(false);
    renderThread_.setName("render");
    renderThread_.start([this](platform::WorkerThread& t) { return renderThreadProc(t); });
    WindowMessage msg;
    bool quit = false;
    while (!quit) {
        if (platform::takeQuitSignal() != 0) window_->postMessage({wm::kClose, 0, 0});
        feedTimedInput();
        if (window_->peekMessage(msg)) {
            if (msg.kind == wm::kQuit) {
                quit = true;
            } else {
                // Exposure and size changes need the picture again even in an idle scene.
                if (msg.kind == wm::kPaint || msg.kind == wm::kSize ||
                    msg.kind == wm::kActivateApp) {
                    device_.redrawWhole();
                    core::requestFrame(*context_);
                }
                procedure_->dispatch(msg);
            }
            continue;
        }
        // An empty queue: in stepped mode wait for the next frame; in real time block until a
        // message arrives (posted messages wake it) or the next timed event is due, instead of
        // spinning a core.
        if (clock.stepped()) {
            clock.sleep(0);
        } else {
            window_->waitMessage(millisecondsToNextTimedEvent());
        }
    }
    context_->windowClosed = 1;
    // No message will reach the waiters any more: let them see the closed window now.
    inputManager_->wakeAll();
    core::requestFrame(*context_);
    renderThread_.stop(kThreadStopMs);
    report_.shutdownSteps.push_back("renderStopped");
}

uint32_t Runtime::renderThreadProc(platform::WorkerThread& self) {
    Clock& clock = Clock::instance();
    clock.becomeDriver();
    // The run's mode: at the end a stepped run hands its waits to the real clock.
    const bool stepped = clock.stepped();
    // The sound device opens beside the GL context and the first frames: the audio libraries'
    // probing for a server that is not there can take longer than the context (about 100 ms
    // here in one run out of two). Until it is open the sound commands still drive the
    // manager, and the mix starts from there once the device pulls. The stepped clock's device
    // opens at once and keeps every run alike.
    platform::WorkerThread soundOpen([this, stepped](platform::WorkerThread&) {
        sound_->openDevice(stepped);
        // A sleeping still scene looks at the device at its next frame: make that now.
        core::requestFrame(*context_);
        return 0u;
    });
    soundOpen.setName("sound-open");
    soundOpen.setClockParticipant(false);
    bool soundJoined = false;
    auto joinSoundOpen = [&] {
        soundOpen.stop(platform::kInfinite);
        soundJoined = true;
        // No sound device is not fatal: the mix then goes to a device without hardware.
        if (!sound_->deviceError().empty()) {
            std::fprintf(stderr, "vaxo2: no sound device (%s); playing on without sound\n",
                         sound_->deviceError().c_str());
        }
        core::Trace::mark("sound");
    };
    if (stepped) {
        sound_->openDevice(stepped);
        joinSoundOpen();
    } else {
        soundOpen.start();
    }
    std::string error;
    std::unique_ptr<platform::GlContext> gl = window_->createGlContext(error);
    if (!gl) std::fprintf(stderr, "vaxo2: OpenGL context: %s\n", error.c_str());
    const bool usable = device_.check(std::move(gl));
    if (usable) device_.create(window_.get(), 1280, 720, 0);
    core::Trace::mark("gl");
    // Pictures named by commands are decoded ahead (the threads started with the preload),
    // but only where the device reads them through the resource layer as the prefetch does.
    const bool prefetch = usable && device_.backend() && device_.backend()->readsLikePrefetch();
    if (prefetch) {
        graphics::PicturePrefetch::instance().growTo(kDecodeThreads);
    } else {
        graphics::PicturePrefetch::instance().stop();
    }
    SoundTick soundTick(*sound_, !stepped);
    Ticker& ticker = Ticker::instance();
    ticker.add(&soundTick, 1);
    sound_->manager().setActivityHandler([&ticker] { ticker.wake(); });
    ticker.startTicking();
    if (usable) {
        // On the real clock the first frame comes at once: the scenario starts after it, and
        // the loop's cadence below begins from it rather than from a wait before it. Stepped
        // runs keep their first frame one interval in, so that their recorded timelines stay
        // as they were.
        if (!stepped) frameStep();
        uint32_t last = clock.now();
        while (!self.stopRequested()) {
            if (!soundJoined && sound_->deviceOpen()) joinSoundOpen();
            if (sceneStill_ && !clock.stepped() && !context_->windowClosed) {
                // Nothing moves and nothing is due: sleep until something asks for a frame
                // (released commands, a repaint, a thread waiting for a frame boundary, the
                // window closing) or a timed screenshot, tree dump or device reset comes due;
                // then draw at once and keep the cadence from there.
                clock.waitUntil(
                    [&] { return context_->frameWanted.load() != 0 || self.stopRequested(); },
                    millisecondsToNextDueFrame());
                if (self.stopRequested()) break;
                last = clock.now();
                slept_ = true;
                frameStep();
                continue;
            }
            const uint32_t now = clock.now();
            const PacingStep step = nextPacingStep(
                now, last, frameIntervalMs(context_->frameInterval), device_.flipSwap());
            switch (step.kind) {
                case PacingStep::Kind::Yield:
                    clock.sleep(0);
                    last = now;
                    break;
                case PacingStep::Kind::ShortWait:
                    clock.sleep(step.waitMs);
                    last = timeAfterShortWait(now, step);
                    break;
                case PacingStep::Kind::FullSleep:
                    clock.sleep(step.waitMs);
                    last = clock.now();
                    break;
            }
            frameStep();
        }
    }
    if (!soundJoined) joinSoundOpen();
    if (prefetch) graphics::PicturePrefetch::instance().stop();
    // The trees hold textures of this thread's context: release them while it is current.
    {
        std::lock_guard lock(graphics::treeMutex());
        transitionTree_.reset();
        context_->transitionRoot = nullptr;
        screenRoot_->deleteAll();
    }
    device_.release();
    // Nothing drives the stepped clock any more: let the remaining waits (the ticker's sleep
    // among them) run on real time so that they end and see the stop flags.
    if (clock.stepped()) clock.useReal();
    ticker.stopTicking();
    ticker.remove(&soundTick);
    sound_->manager().setActivityHandler(nullptr);
    // The mix up to the end of the run (a device without hardware lags until pumped).
    if (!stepped) sound_->pump(clock.now());
    sound_->closeDevice();
    window_->postMessage({wm::kDestroy, 0, 0});
    return 0;
}

void Runtime::frameStep() {
    core::AppContext& ctx = *context_;
    // Whatever asked for a frame before this point is served by this one.
    ctx.frameWanted.store(0);
    core::publishFrameCounter(ctx, ctx.frameStarted, ctx.frameStarted.load() + 1);
    // On the real clock a device without hardware catches up before sound commands run, so a
    // sound starts where the clock is, however long nothing asked for the mix.
    if (!Clock::instance().stepped()) sound_->pump(Clock::instance().now());
    // After a sleep the trees first pass the time slept (nothing of theirs moved meanwhile) up
    // to one frame interval ago, as the frames skipped would have: what the commands start now
    // then advances by one interval in this frame, as in any frame, and not by the whole sleep.
    if (slept_) {
        slept_ = false;
        const uint32_t upTo = Clock::instance().now() - frameIntervalMs(ctx.frameInterval);
        if (static_cast<int32_t>(upTo - screenRoot_->lastUpdate) > 0)
            graphics::updateTrees(upTo, ctx);
    }
    const graphics::GraphicObject* before = transitionTree_.get();
    const size_t executed = graphics::drainCommandQueues(ctx, transitionTree_);
    if (executed > 0 && core::Trace::on()) {
        core::Trace::mark("commands", std::to_string(executed));
        if (transitionTree_ && transitionTree_.get() != before) core::Trace::mark("transition");
    }
    const uint32_t now = Clock::instance().now();
    textEngine_->setBackend(device_.backend());
    const bool changed = graphics::updateTrees(now, ctx);
    writeDueTreeDumps(now - runStart_);
    // An idle frame (nothing executed, nothing changed, no repaint asked for) is not drawn or
    // presented again: the picture on screen stays, the frame counters still advance.
    if (options_.redrawIdleFrames) {
        device_.redrawWhole();
    } else if (executed > 0 || changed) {
        device_.invalidate();
    }
    // Measuring what keeping a still snapshot saves: render it again every frame as well.
    if (options_.redrawIdleFrames && transitionTree_) transitionTree_->markSubtreeChanged();
    requestDueScreenshots(now - runStart_);
    const graphics::FrameResult result =
        device_.renderFrame(screenRoot_.get(), transitionTree_.get(), now);
    if (result.transitionFinished && graphics::retireFinishedTransition(ctx, transitionTree_))
        core::Trace::mark("transition-end");
    if (result.presented && core::Trace::on())
        core::Trace::mark("present", std::to_string(report_.framesDrawn + 1));
    if (result.presented && report_.framesDrawn++ == 0) report_.firstPresentMs = now - runStart_;
    if (result.presented && hooks_.framePresented) hooks_.framePresented(ctx);
    // A device without hardware follows the frames (on the stepped clock only they move it).
    sound_->pump(now);
    ++report_.frameSteps;
    if (device_.takeModeChanged()) applyWindowFrame(ctx, *window_, *this);
    // A still scene: nothing ran, nothing changed, nothing will change by itself, and the
    // device drew what it was asked to.
    sceneStill_ = executed == 0 && !changed && result.drawn && !result.transitionFinished &&
                  !options_.redrawIdleFrames && !graphics::treesAnimating(ctx);
    core::publishFrameCounter(ctx, ctx.frameDone, ctx.frameStarted.load());
}

uint32_t Runtime::millisecondsToNextDueFrame() const {
    // A wake-up that nothing asked for is cheap; one that never comes would hang a frame wait
    // that some path forgot to announce. So sleep at most this long.
    constexpr uint32_t kLongestSleep = 1000;
    const uint32_t now = Clock::instance().now();
    const uint32_t since = now - runStart_;
    uint32_t wait = kLongestSleep;
    auto consider = [&](uint32_t at) { wait = std::min(wait, at > since ? at - since : 0u); };
    for (size_t i = 0; i < options_.screenshots.size(); ++i) {
        if (!screenshotTaken_[i]) consider(options_.screenshots[i].at);
    }
    for (size_t i = 0; i < options_.treeDumps.size(); ++i) {
        if (!treeDumpWritten_[i]) consider(options_.treeDumps[i].at);
    }
    if (const uint32_t reset = device_.resetScheduledAt(); reset != 0) {
        const int32_t until = static_cast<int32_t>(reset - now);
        wait = std::min(wait, until > 0 ? static_cast<uint32_t>(until) : 0u);
    }
    return wait;
}

void Runtime::finishTrace() {
    if (!core::Trace::finish())
        std::fprintf(stderr, "vaxo2: --trace: cannot write %s\n", options_.traceFile.c_str());
}

void Runtime::requestDueScreenshots(uint32_t sinceStart) {
    for (size_t i = 0; i < options_.screenshots.size(); ++i) {
        if (screenshotTaken_[i] || options_.screenshots[i].at > sinceStart) continue;
        screenshotTaken_[i] = true;
        // Served by the device with the frame it presents next (this one), read before the swap.
        device_.requestCapture(
            [file = options_.screenshots[i].file](const uint8_t* rgba, int w, int h) {
                std::string error;
                // The window shows the picture opaque whatever alpha the blending left in the
                // back buffer; so does the screenshot.
                std::vector<uint8_t> opaque;
                if (rgba) {
                    opaque.assign(rgba, rgba + static_cast<size_t>(w) * h * 4);
                    for (size_t a = 3; a < opaque.size(); a += 4)
                        opaque[a] = 255;
                }
                if (!rgba || !platform::writePng(file, opaque.data(), w, h, error)) {
                    std::fprintf(stderr, "vaxo2: screenshot %s failed %s\n", file.c_str(),
                                 error.c_str());
                }
            });
    }
}

void Runtime::writeDueTreeDumps(uint32_t sinceStart) {
    for (size_t i = 0; i < options_.treeDumps.size(); ++i) {
        if (treeDumpWritten_[i] || options_.treeDumps[i].at > sinceStart) continue;
        treeDumpWritten_[i] = true;
        std::string json;
        {
            std::lock_guard lock(graphics::treeMutex());
            json = graphics::dumpTreeJson(sinceStart, screenRoot_.get(), transitionTree_.get());
        }
        const std::string& file = options_.treeDumps[i].file;
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out << json;
        if (!out.good()) std::fprintf(stderr, "vaxo2: tree dump %s failed\n", file.c_str());
    }
}

uint32_t Runtime::runScenarioScripts() {
    core::AppContext& ctx = *context_;
    runner_->runScripts(std::string(kFirstScript));
    // A loaded save slot stops the runner; resume from what it restored, under the system's
    // pre-load script, as often as loads happen.
    while (ctx.dataLoadRequested && !ctx.windowClosed && !ctx.quitRequested) {
        ctx.dataLoadRequested = 0;
        runner_->reloadStep();
    }
    return 0;
}

void Runtime::loadCursor() {
    io::CursorImage image;
    std::string error;
    if (!io::loadCursorImage(kCursorFile, image, &error)) {
        // A missing or broken cursor leaves the arrow cursor; only a broken one is worth a word.
        if (!error.empty() && error.find("not found") == std::string::npos) {
            std::fprintf(stderr, "vaxo2: %s: %s\n", kCursorFile, error.c_str());
        }
        return;
    }
    cursor_ = platform::createCursor(image.bgra.data(), image.width, image.height, image.hotspotX,
                                     image.hotspotY);
    if (!cursor_) return;
    context_->cursor = cursor_.get();
    // Show it at once rather than at the next pointer movement.
    window_->postMessage({wm::kSetCursor, 0, 1});
}

void Runtime::waitForDrawnFrame() {
    core::AppContext& ctx = *context_;
    core::waitForFrameAfter(ctx, ctx.frameStarted.load(), [&ctx] { return ctx.windowClosed != 0; });
}

void Runtime::startPreload() {
    // One decode thread while the window comes up, beside the thread that makes it; a second
    // joins with the GL context, when that thread has finished.
    graphics::PicturePrefetch::instance().start(graphics::GpuRenderBackend::readPicture,
                                                graphics::GpuRenderBackend::decodePicture, 1);
    // The default fonts, resolved once: the game's own font files, then the installed faces.
    // Asking the system's font configuration takes milliseconds that the window need not wait
    // for; text is laid out only once the scenario runs, after this thread has ended (and the
    // font table's lock holds back anything earlier).
    auto startFonts = [this] {
        textEngine_->startFonts(graphics::gameFaceResolver(context_->gameFolder));
    };
    // A scenario of the caller's own runs no first script.
    if (hooks_.runScenario) {
        startFonts();
        return;
    }
    preloadThread_.setName("preload");
    preloadThread_.setClockParticipant(false);
    preloadThread_.setBackground(true);
    preloadThread_.start([this, startFonts](platform::WorkerThread&) {
        script::ScriptLoader& loader = runner_->loader();
        loader.preload(kFirstScript);
        core::Trace::mark("preloaded", kFirstScript);
        if (const script::ScriptContext* first = loader.preloadedScript())
            graphics::prefetchLeadingPictures(*first);
        startFonts();
        core::Trace::mark("fonts");
        return 0u;
    });
}

uint32_t Runtime::scenarioThreadProc(platform::WorkerThread&) {
    // The first script is the preload's until it ends.
    preloadThread_.stop(platform::kInfinite);
    waitForDrawnFrame();
    core::Trace::mark("scenario");
    report_.scenarioStartFrame = context_->frameDone.load();
    uint32_t result = 0;
    if (!context_->windowClosed) {
        loadCursor();
        result = hooks_.runScenario ? hooks_.runScenario(*context_) : runScenarioScripts();
    }
    window_->postMessage({wm::kDestroy, 0, 0});
    return result;
}

}  // namespace vaxo2::app
