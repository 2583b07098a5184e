#include "graphics/display_device.h"

#include <cmath>

#include "graphics/gpu_backend.h"
#include "graphics/graphic_object.h"
#include "graphics/graphic_source.h"
#include "graphics/tree_draw.h"
#include "io/resource_loader.h"
#include "platform/clock.h"
#include "platform/image_decoder.h"
#include "platform/system.h"

namespace vaxo2::graphics {

// The layer tree's backend on this device's GPU, reading files through the device's reader
// when one is set.
class DisplayDevice::Backend final : public GpuRenderBackend {
  public:
    Backend(platform::Gpu& gpu, DisplayDevice& device) : GpuRenderBackend(gpu), device_(device) {}

    bool readFile(const std::string& name, std::vector<uint8_t>& bytes) override {
        if (device_.fileReader_) return device_.fileReader_(name, bytes);
        return GpuRenderBackend::readFile(name, bytes);
    }
    bool readsLikePrefetch() const override { return !device_.fileReader_; }

  private:
    DisplayDevice& device_;
};

CameraSetup cameraFor(int32_t designWidth, int32_t designHeight, int32_t viewportWidth,
                      int32_t viewportHeight, uint8_t handedness) {
    CameraSetup c;
    c.dist = static_cast<float>(designWidth) * 10.0f;
    const float designAspect = static_cast<float>(designWidth) / static_cast<float>(designHeight);
    c.windowAspect = viewportWidth > 0 && viewportHeight > 0
                         ? static_cast<float>(viewportWidth) / static_cast<float>(viewportHeight)
                         : designAspect;
    c.visibleHeight = c.windowAspect >= designAspect
                          ? static_cast<float>(designHeight)
                          : static_cast<float>(designWidth) / c.windowAspect;
    c.fovY = 2.0f * std::atan(c.visibleHeight * 0.5f / c.dist);
    const Vec3 origin{0, 0, 0};
    const Vec3 up{0, 1, 0};
    if (handedness == 0) {
        c.view = lookAtRH(Vec3{0, 0, c.dist}, origin, up);
        c.projection = perspectiveFovRH(c.fovY, c.windowAspect, 0.0f, c.dist);
    } else {
        c.view = lookAtLH(Vec3{0, 0, -c.dist}, origin, up);
        c.projection = perspectiveFovLH(c.fovY, c.windowAspect, 0.0f, c.dist);
    }
    return c;
}

void backBufferSizeFor(bool fullScreen, bool exclusive, int32_t clientWidth, int32_t clientHeight,
                       int32_t designWidth, int32_t designHeight, const platform::Rect& monitor,
                       int32_t& width, int32_t& height) {
    if (!fullScreen) {
        width = designWidth;
        height = designHeight;
        if (int64_t{clientWidth} * 2 > designWidth) width = clientWidth;
        if (int64_t{clientHeight} * 2 > designHeight) height = clientHeight;
    } else if (exclusive) {
        width = designWidth;
        height = designHeight;
    } else {
        width = monitor.width();
        height = monitor.height();
    }
}

DisplayDevice::DisplayDevice()
    : messages_([](const std::string& text, const std::string& caption) {
          platform::showMessageBox(text, caption, platform::mb::kIconWarning);
      }),
      gpuFactory_([](std::string& error) { return platform::createGlGpu(error); }) {}

DisplayDevice::~DisplayDevice() {
    release();
}

void DisplayDevice::release() {
    std::lock_guard<std::mutex> guard(mutex_);
    // Textures made here go before the GPU that holds them; the sources rebuild on a next
    // device.
    if (backend_) {
        sourceCache().forEach([this](GraphicSource& source) {
            if (source.backend == backend_.get()) source.releaseTextures();
        });
    }
    backend_.reset();
    partial_ = nullptr;
    gpu_.reset();
    context_.reset();
    created_ = false;
}

void DisplayDevice::setOptions(DisplayOptions* options) {
    options_ = options ? options : &ownOptions_;
    fullScreen_ = options_->fullScreen.committed;
    exclusive_ = options_->exclusiveFullScreen.committed;
    flipSwap_ = options_->flipSwap.committed;
}

RenderBackend* DisplayDevice::backend() {
    return backend_.get();
}

void DisplayDevice::resetStates() {
    // Depth test on without writes, stencil on with mask 255, no blending.
    gpu_->setDepthState(true, false);
    const platform::StencilState stencil{};
    gpu_->setStencilState(stencil);
    gpu_->setBlendMode(platform::BlendMode::Off);
    backend_->resetStencil(stencil);
    backend_->setBackBufferSize(backBufferWidth_, backBufferHeight_);
}

void DisplayDevice::say(const std::string& text) {
    if (messages_) messages_(text, kDeviceErrorCaption);
}

bool DisplayDevice::check(std::unique_ptr<platform::GlContext> context) {
    std::lock_guard<std::mutex> guard(mutex_);
    if (!context) {
        say(kCreateFailedText);
        return false;
    }
    context_ = std::move(context);
    if (!buildGpu(true)) {
        context_.reset();
        return false;
    }
    return true;
}

bool DisplayDevice::buildGpu(bool showMessage) {
    if (!context_ || !context_->makeCurrent()) return false;
    std::string error;
    gpu_ = gpuFactory_ ? gpuFactory_(error) : nullptr;
    partial_ = nullptr;
    if (!gpu_) {
        if (showMessage) say(kShaderNotReadyText);
        return false;
    }
    if (context_->keepsPicture()) {
        auto partial = std::make_unique<PartialRedrawGpu>(std::move(gpu_));
        partial_ = partial.get();
        gpu_ = std::move(partial);
    }
    backend_ = std::make_unique<Backend>(*gpu_, *this);
    return true;
}

void DisplayDevice::create(platform::Window* window, int32_t designWidth, int32_t designHeight,
                           uint8_t handedness) {
    std::lock_guard<std::mutex> guard(mutex_);
    if (created_) return;
    window_ = window;
    designWidth_ = designWidth > 0 ? designWidth : 1280;
    designHeight_ = designHeight > 0 ? designHeight : 720;
    handedness_ = handedness;
    createDevice();
}

void DisplayDevice::createDevice() {
    int modeWidth = 0, modeHeight = 0;
    if (window_) window_->displayModeSize(modeWidth, modeHeight);
    monitor_ = platform::Rect{0, 0, modeWidth, modeHeight};
    readClientRect();
    DisplayOptions& o = *options_;
    if (!gpu_ ||
        !configurePresentation(o.exclusiveFullScreen.value, o.fullScreen.value, o.flipSwap.value)) {
        return;  // the frame check tries again
    }
    o.fullScreen.commit();
    o.exclusiveFullScreen.commit();
    o.flipSwap.commit();
    fullScreen_ = o.fullScreen.committed;
    exclusive_ = o.exclusiveFullScreen.committed;
    flipSwap_ = o.flipSwap.committed;
    created_ = true;
    dirty_ = true;
}

void DisplayDevice::readClientRect() {
    platform::Rect rect;
    clientKnown_ =
        window_ != nullptr && window_->clientRect(rect) && rect.width() > 0 && rect.height() > 0;
    if (clientKnown_) {
        clientWidth_ = rect.width();
        clientHeight_ = rect.height();
    }
    if (context_ && gpu_) {
        int w = 0, h = 0;
        context_->drawableSize(w, h);
        gpu_->setDefaultTargetSize(w, h);
    }
}

bool DisplayDevice::configurePresentation(bool exclusive, bool fullScreen, bool flipSwap) {
    backBufferSizeFor(fullScreen, exclusive, clientKnown_ ? clientWidth_ : designWidth_,
                      clientKnown_ ? clientHeight_ : designHeight_, designWidth_, designHeight_,
                      monitor_, backBufferWidth_, backBufferHeight_);
    if (!context_ || !gpu_ || backBufferWidth_ <= 0 || backBufferHeight_ <= 0) return false;
    // With flipSwap the frame waits for the vertical blank; without it the loop paces itself,
    // and presenting on the blank still keeps a real display free of tearing. A driver that
    // refuses the blank wait only fails the reset when the blank wait was asked for.
    if (!context_->setSwapInterval(1)) {
        if (flipSwap) return false;
        context_->setSwapInterval(0);
    }
    if (fullScreen && exclusive && window_ && !window_->headless()) {
        window_->setExclusiveFullScreen(backBufferWidth_, backBufferHeight_);
    }
    int w = 0, h = 0;
    context_->drawableSize(w, h);
    if (w <= 0 || h <= 0) return false;
    gpu_->setDefaultTargetSize(w, h);
    return true;
}

void DisplayDevice::releaseRenderTargets() {
    sourceCache().forEach([this](GraphicSource& source) {
        if (source.kind() == SourceKind::RenderTarget && backend_ &&
            source.backend == backend_.get()) {
            source.releaseTextures();
        }
    });
}

bool DisplayDevice::reset() {
    return resetWith(false);
}

bool DisplayDevice::resetWith(bool retrying) {
    DisplayOptions& o = *options_;
    if (o.fullScreen.value && !o.exclusiveFullScreen.value && window_) {
        monitor_ = window_->monitorRect();
    }
    releaseRenderTargets();
    if (partial_) partial_->invalidate();
    const bool ok =
        configurePresentation(o.exclusiveFullScreen.value, o.fullScreen.value, o.flipSwap.value);
    drawnSinceReset_ = false;
    dirty_ = true;
    if (!ok) {
        if (!retrying) {
            o.fullScreen.revert();
            o.exclusiveFullScreen.revert();
            o.flipSwap.revert();
            releaseRenderTargets();
            resetWith(true);
            recentre_ = true;
            modeChanged_ = true;
        }
        return false;
    }
    if (o.fullScreen.changed && !o.fullScreen.value) recentre_ = true;
    if (o.anyChanged()) modeChanged_ = true;
    o.fullScreen.commit();
    o.exclusiveFullScreen.commit();
    o.flipSwap.commit();
    fullScreen_ = o.fullScreen.committed;
    exclusive_ = o.exclusiveFullScreen.committed;
    flipSwap_ = o.flipSwap.committed;
    return true;
}

void DisplayDevice::requestReset(uint32_t when) {
    resetAt_ = when == 0 ? 1 : when;  // 0 means none
    wake();
}

void DisplayDevice::toggleFullScreenRequest() {
    toggleRequested_ = true;
    wake();
}

void DisplayDevice::requestOptions(bool fullScreen, bool exclusiveFullScreen, bool flipSwap,
                                   uint32_t when) {
    std::lock_guard<std::mutex> guard(mutex_);
    options_->fullScreen.request(fullScreen);
    options_->exclusiveFullScreen.request(exclusiveFullScreen);
    options_->flipSwap.request(flipSwap);
    if (options_->anyChanged()) requestReset(when);
}

void DisplayDevice::requestCapture(CaptureCallback callback) {
    {
        std::lock_guard<std::mutex> guard(captureMutex_);
        captures_.push_back(std::move(callback));
    }
    wake();
}

bool DisplayDevice::frameCheck(uint32_t now) {
    if (!gpu_) {
        buildGpu(false);
        return false;
    }
    if (!created_) {
        createDevice();
        return false;
    }
    readClientRect();
    if (lost_) {
        lost_ = false;
        requestReset(now);
        return false;
    }
    if (toggleRequested_.exchange(false)) {
        options_->fullScreen.request(!options_->fullScreen.value);
        requestReset(now);
    }
    uint32_t at = resetAt_;
    // A request that arrives meanwhile from the window's thread is kept for the next check.
    if (at != 0 && platform::timeReached(now, at) && resetAt_.compare_exchange_strong(at, 0)) {
        reset();
        return false;
    }
    return true;
}

void DisplayDevice::setupTree(GraphicObject& root) {
    int32_t vw = backBufferWidth_;
    int32_t vh = backBufferHeight_;
    if (!fullScreen_ && clientKnown_) {
        vw = clientWidth_;
        vh = clientHeight_;
    }
    camera_ = cameraFor(designWidth_, designHeight_, vw, vh, handedness_);
    lastView_ = camera_.view;
    lastProjection_ = camera_.projection;
    gpu_->setViewMatrix(toArray(camera_.view));
    gpu_->setProjectionMatrix(toArray(camera_.projection));
    gpu_->setViewport(0, 0, vw, vh);
    resetStates();
    // A tree drawn into a render target clears that target when it is made current.
    const bool intoTarget = root.source && root.source->kind() == SourceKind::RenderTarget;
    if (!intoTarget) gpu_->clear(true, 0, 0, 0, 1, true, 1.0f, true, 0);
}

void DisplayDevice::drawTree(GraphicObject& root) {
    setupTree(root);
    graphics::drawTree(root, *backend_, camera_.windowAspect);
}

FrameResult DisplayDevice::renderFrame(GraphicObject* screenRoot, GraphicObject* transitionRoot,
                                       uint32_t now) {
    std::lock_guard<std::mutex> guard(mutex_);
    FrameResult result;
    if (!frameCheck(now)) return result;
    result.drawn = true;
    const bool transitionRunning = transitionRoot && transitionRoot->transmittance < 1.0f;
    result.transitionFinished = transitionRoot && !transitionRunning;
    std::vector<CaptureCallback> captures;
    {
        std::lock_guard<std::mutex> captureGuard(captureMutex_);
        captures.swap(captures_);
    }
    const bool draw = dirty_.exchange(false) || !drawnSinceReset_ || !captures.empty() ||
                      transitionRunning || result.transitionFinished;
    if (!draw) return result;
    if (partial_) {
        if (wholeRedraw_.exchange(false)) partial_->invalidate();
        partial_->beginFrame();
    }
    if (screenRoot) {
        drawTree(*screenRoot);
    } else {
        gpu_->setViewport(0, 0, backBufferWidth_, backBufferHeight_);
        gpu_->clear(true, 0, 0, 0, 1, true, 1.0f, true, 0);
    }
    if (transitionRunning) drawTree(*transitionRoot);
    if (!captures.empty()) {
        std::vector<uint8_t> rgba;
        int32_t w = 0, h = 0;
        const bool ok = gpu_->readPixels(rgba, w, h);
        for (CaptureCallback& capture : captures) {
            if (ok) {
                capture(rgba.data(), w, h);
            } else {
                capture(nullptr, 0, 0);
            }
        }
    }
    if (partial_) partial_->resolveFrame();
    gpu_->flush();
    context_->swapBuffers();
    // Let at most this frame be in flight: a driver that does not throttle presentation (a
    // software rasterizer, an offscreen surface, a stepped clock running ahead of real time)
    // would otherwise queue frames without bound, and the picture and shutdown fall behind.
    gpu_->finish();
    ++frames_;
    drawnSinceReset_ = true;
    result.presented = true;
    return result;
}

}  // namespace vaxo2::graphics
