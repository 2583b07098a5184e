#pragma once
// The display device: one GL context and GPU on the render thread, the camera under which one
// world unit at z = 0 is one design pixel, the frame's device part (set up, draw and finish the
// screen tree and the transition tree, present) under the device lock, and resets that apply
// changed display options with commit and revert.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "graphics/math.h"
#include "graphics/partial_redraw.h"
#include "graphics/render_backend.h"
#include "platform/gpu.h"
#include "platform/window.h"

namespace vaxo2::graphics {

class GraphicObject;

// A display option with a value the configuration asks for and the value last put into effect.
struct PendingOption {
    bool value = false;
    bool committed = false;
    bool changed = false;

    void request(bool v) {
        value = v;
        changed = value != committed;
    }
    void commit() {
        committed = value;
        changed = false;
    }
    void revert() {
        value = committed;
        changed = false;
    }
};

struct DisplayOptions {
    PendingOption fullScreen;
    PendingOption exclusiveFullScreen;  // full screen with a display-mode change
    PendingOption flipSwap;             // present on the vertical blank; the loop only yields
    bool anyChanged() const {
        return fullScreen.changed || exclusiveFullScreen.changed || flipSwap.changed;
    }
};

// The camera and viewport of one tree for a viewport of the given size.
struct CameraSetup {
    float dist = 0;
    float windowAspect = 0;
    float visibleHeight = 0;
    float fovY = 0;
    Mat4 view;
    Mat4 projection;
};
CameraSetup cameraFor(int32_t designWidth, int32_t designHeight, int32_t viewportWidth,
                      int32_t viewportHeight, uint8_t handedness);

// The back-buffer size for the options, client size, design size and monitor rectangle.
void backBufferSizeFor(bool fullScreen, bool exclusive, int32_t clientWidth, int32_t clientHeight,
                       int32_t designWidth, int32_t designHeight, const platform::Rect& monitor,
                       int32_t& width, int32_t& height);

struct FrameResult {
    bool drawn = false;               // the frame check let this frame draw
    bool presented = false;           // a picture was drawn and presented
    bool transitionFinished = false;  // the transition root reached transmittance 1: delete it
};

// Pixels handed to a capture request: RGBA rows, top row first.
using CaptureCallback = std::function<void(const uint8_t* rgba, int width, int height)>;

// The texts and caption of the start-up check's messages.
inline constexpr const char* kDeviceErrorCaption = "Direct3D DeviceCreateError";
inline constexpr const char* kCreateFailedText = "Direct3DCreate False";
inline constexpr const char* kShaderNotReadyText =
    "Programmable Shader 2.0 Not Ready\n\nCreation of the graphic device went wrong.";

class DisplayDevice {
  public:
    // Shows a message and returns false; replaced in tests.
    using MessageSink = std::function<void(const std::string& text, const std::string& caption)>;
    // Makes the GPU over the context current on this thread; replaced in tests.
    using GpuFactory = std::function<std::unique_ptr<platform::Gpu>(std::string& error)>;
    // Reads a data file (the resource layer by default).
    using FileReader = std::function<bool(const std::string& name, std::vector<uint8_t>& bytes)>;

    DisplayDevice();
    ~DisplayDevice();
    DisplayDevice(const DisplayDevice&) = delete;
    DisplayDevice& operator=(const DisplayDevice&) = delete;

    void setMessageSink(MessageSink sink) { messages_ = std::move(sink); }
    void setGpuFactory(GpuFactory factory) { gpuFactory_ = std::move(factory); }
    void setFileReader(FileReader reader) { fileReader_ = std::move(reader); }
    // Called when a request from another thread needs a frame (a reset, a full-screen switch,
    // a capture, a lost context): the render thread may be asleep at a still page.
    void setWakeHandler(std::function<void()> wake) { wake_ = std::move(wake); }
    // Options owned by the configuration; null gives the device's own.
    void setOptions(DisplayOptions* options);
    DisplayOptions& options() { return *options_; }

    // Start-up check on the render thread: takes the window's GL context (null when it could
    // not be made) and builds the GPU over it. On failure shows the message and returns false;
    // the render thread then ends without a frame loop.
    bool check(std::unique_ptr<platform::GlContext> context);
    // Stores the window, design size and handedness (0 right-handed, 1 left-handed) unless a
    // device exists, then sets the device up for the current options.
    void create(platform::Window* window, int32_t designWidth, int32_t designHeight,
                uint8_t handedness);
    bool ready() const { return gpu_ != nullptr && created_; }
    // Releases every texture, the GPU and the context, on the render thread that made them
    // (the render thread's end); the device can be checked and created again afterwards.
    void release();

    // The frame's device part: takes the device lock, runs the frame check and, when the frame
    // may draw and something changed (or a capture waits), draws the screen tree, then the
    // transition tree while its fade runs, serves a capture and presents.
    FrameResult renderFrame(GraphicObject* screenRoot, GraphicObject* transitionRoot, uint32_t now);
    // Something visible changed (commands executed, a tree update reported a change, the
    // window asked for a repaint): the next frame is drawn. Any thread.
    void invalidate() { dirty_ = true; }
    // The window's picture is lost or must be drawn whole (an exposure, a measurement): the next
    // frame is drawn everywhere, not only where it changed. Any thread.
    void redrawWhole() {
        wholeRedraw_ = true;
        dirty_ = true;
    }

    // Asks for a reset at clock time `when` (the window procedure: 100 ms after WM_SIZE).
    void requestReset(uint32_t when);
    // The configuration's new option values (under the device lock); a change schedules a
    // reset at `when`, which commits them or reverts them when they cannot be applied.
    void requestOptions(bool fullScreen, bool exclusiveFullScreen, bool flipSwap, uint32_t when);
    // Asks for the opposite full-screen setting, applied by a reset at the next frame.
    void toggleFullScreenRequest();
    bool takeModeChanged() { return modeChanged_.exchange(false); }
    bool takeRecentre() { return recentre_.exchange(false); }
    bool modeChanged() const { return modeChanged_; }
    bool recentre() const { return recentre_; }
    bool fullScreen() const { return fullScreen_; }
    bool exclusiveFullScreen() const { return exclusive_; }
    bool flipSwap() const { return flipSwap_; }
    // Served with the next presented frame, read before the swap. Any thread.
    void requestCapture(CaptureCallback callback);

    // Present failure (the context was lost): no drawing until a reset went through.
    void markLost() {
        lost_ = true;
        wake();
    }
    bool lost() const { return lost_; }

    std::mutex& lockObject() { return mutex_; }
    void lock() { mutex_.lock(); }
    void unlock() { mutex_.unlock(); }

    int32_t backBufferWidth() const { return backBufferWidth_; }
    int32_t backBufferHeight() const { return backBufferHeight_; }
    const platform::Rect& monitorRect() const { return monitor_; }
    uint32_t resetScheduledAt() const { return resetAt_; }
    uint64_t frameCount() const { return frames_; }
    const Mat4& lastView() const { return lastView_; }
    const Mat4& lastProjection() const { return lastProjection_; }
    // The camera of the last tree set-up.
    const CameraSetup& lastCamera() const { return camera_; }
    platform::Gpu* gpu() { return gpu_.get(); }
    // What the layer tree draws through; null until the GPU exists.
    RenderBackend* backend();

    // Frame check (under the lock): true when this frame may draw.
    bool frameCheck(uint32_t now);
    // Applies changed options or recovers; false when even the reverted options failed.
    bool reset();

  private:
    class Backend;

    bool buildGpu(bool showMessage);
    void readClientRect();
    // Back buffer, swap interval and exclusive mode for the options; false when they cannot be
    // put into effect.
    bool configurePresentation(bool exclusive, bool fullScreen, bool flipSwap);
    void createDevice();
    bool resetWith(bool retrying);
    void resetStates();
    void setupTree(GraphicObject& root);
    void drawTree(GraphicObject& root);
    void releaseRenderTargets();
    void say(const std::string& text);
    void wake() {
        if (wake_) wake_();
    }

    std::mutex mutex_;
    MessageSink messages_;
    GpuFactory gpuFactory_;
    FileReader fileReader_;
    std::function<void()> wake_;
    DisplayOptions ownOptions_;
    DisplayOptions* options_ = &ownOptions_;
    std::unique_ptr<platform::GlContext> context_;
    std::unique_ptr<platform::Gpu> gpu_;
    // gpu_ itself when the window keeps its picture between presents; frames then redraw only
    // what changed.
    PartialRedrawGpu* partial_ = nullptr;
    std::unique_ptr<Backend> backend_;
    platform::Window* window_ = nullptr;
    bool created_ = false;
    uint8_t handedness_ = 0;
    int32_t designWidth_ = 1280;
    int32_t designHeight_ = 720;
    platform::Rect monitor_;
    int32_t clientWidth_ = 0;
    int32_t clientHeight_ = 0;
    bool clientKnown_ = false;
    int32_t backBufferWidth_ = 0;
    int32_t backBufferHeight_ = 0;
    std::atomic<uint32_t> resetAt_{0};
    std::atomic<bool> toggleRequested_{false};
    std::atomic<bool> modeChanged_{false};
    std::atomic<bool> recentre_{false};
    std::atomic<bool> lost_{false};
    std::atomic<bool> dirty_{true};
    std::atomic<bool> wholeRedraw_{false};
    std::atomic<bool> fullScreen_{false};
    std::atomic<bool> exclusive_{false};
    std::atomic<bool> flipSwap_{false};
    bool drawnSinceReset_ = false;
    Mat4 lastView_ = Mat4::identity();
    Mat4 lastProjection_ = Mat4::identity();
    CameraSetup camera_;
    uint64_t frames_ = 0;
    std::mutex captureMutex_;
    std::vector<CaptureCallback> captures_;
};

}  // namespace vaxo2::graphics
