#pragma once
// The main window's message handling: closing, sizing, the full-screen toggle, the cursor and the
// system menu in full screen. Everything not handled here also goes to the input manager.
#include <cstdint>
#include <functional>

#include "core/app_context.h"
#include "platform/window.h"

namespace vaxo2::app {

// What the window needs of the display device: its mode and its request values. The device
// performs the changes on the render thread.
class DisplayControl {
  public:
    virtual ~DisplayControl() = default;
    virtual bool fullScreen() const = 0;
    virtual bool exclusiveFullScreen() const = 0;
    // Ask for a device reset at clock time `at`.
    virtual void requestReset(uint32_t at) = 0;
    // Ask for the opposite of the current full-screen setting.
    virtual void requestFullScreenToggle() = 0;
    // Clears and returns the "centre the next windowed layout" mark.
    virtual bool takeRecentre() = 0;
};

class WindowProcedure {
  public:
    using InputSink = std::function<void(const platform::WindowMessage&)>;

    WindowProcedure(core::AppContext& context, platform::Window& window, DisplayControl& display)
        : context_(context), window_(window), display_(display) {}

    void setInputSink(InputSink sink) { input_ = std::move(sink); }

    // Handles one message; returns the window procedure's result (0 when handled).
    int64_t dispatch(const platform::WindowMessage& msg);

  private:
    // The row actions; true when the message counts as handled.
    bool handle(const platform::WindowMessage& msg);
    void defaultHandling(const platform::WindowMessage& msg);

    core::AppContext& context_;
    platform::Window& window_;
    DisplayControl& display_;
    InputSink input_;
};

// After a mode change: borderless over the monitor, nothing for exclusive full screen, or the
// windowed frame (centred when the device asked for it).
void applyWindowFrame(core::AppContext& context, platform::Window& window, DisplayControl& display);
// Centres a windowed window that gives the context's client size.
void windowedLayout(core::AppContext& context, platform::Window& window, DisplayControl& display);

}  // namespace vaxo2::app
