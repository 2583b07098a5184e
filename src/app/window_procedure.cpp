#include "app/window_procedure.h"

#include "platform/clock.h"

namespace vaxo2::app {

using platform::WindowMessage;
namespace wm = platform::wm;

constexpr uint32_t kWsMaximizeBox = 0x10000;
constexpr uint32_t kResetDelayMs = 100;

int64_t WindowProcedure::dispatch(const WindowMessage& msg) {
    const bool handled = handle(msg);
    if (!handled && input_) input_(msg);
    if (handled) return 0;
    defaultHandling(msg);
    return 0;
}

bool WindowProcedure::handle(const WindowMessage& msg) {
    switch (msg.kind) {
        case wm::kDestroy:
            context_.quitRequested = 1;
            context_.windowClosed = 1;
            window_.postMessage({wm::kQuit, 0, 0});
            return false;
        case wm::kSize:
            if (msg.wParam == wm::kSizeRestored) context_.sizeState = 0;
            if (msg.wParam == wm::kSizeMinimized) context_.sizeState = 1;
            if (msg.wParam == wm::kSizeMaximized) context_.sizeState = 2;
            display_.requestReset(platform::timeNow() + kResetDelayMs);
            return false;
        case wm::kSetCursor:
            window_.setCursor(context_.cursor);
            return false;
        case wm::kSysKeyDown:
            if (msg.wParam == platform::vk::kReturn && (msg.lParam & (1 << 29))) {
                display_.requestFullScreenToggle();
                return true;
            }
            return false;
        case wm::kSysCommand: {
            const uint64_t command = msg.wParam & 0xFFF0;
            if (display_.fullScreen() &&
                (command == wm::kScSize || command == wm::kScMove || command == wm::kScMaximize ||
                 command == wm::kScKeyMenu)) {
                return true;
            }
            if (command == wm::kScMaximize && !(context_.style & kWsMaximizeBox)) return true;
            if (command == wm::kScMove && context_.sizeState == 2) return true;
            return false;
        }
        default:
            return false;
    }
}

void WindowProcedure::defaultHandling(const WindowMessage& msg) {
    switch (msg.kind) {
        case wm::kDestroy:
            window_.postMessage({wm::kQuit, 0, 0});
            break;
        case wm::kClose:
            window_.destroy();
            break;
        case wm::kSysCommand:
            if ((msg.wParam & 0xFFF0) == wm::kScClose) window_.postMessage({wm::kClose, 0, 0});
            break;
        default:
            break;
    }
}

void applyWindowFrame(core::AppContext& context, platform::Window& window,
                      DisplayControl& display) {
    if (display.fullScreen()) {
        if (display.exclusiveFullScreen()) return;
        window.setBorderless(window.monitorRect());
        return;
    }
    if (display.takeRecentre()) {
        windowedLayout(context, window, display);
        return;
    }
    window.restoreFrame();
}

void windowedLayout(core::AppContext& context, platform::Window& window, DisplayControl& display) {
    if (display.fullScreen()) return;
    // The platform window sizes by client area; its frame is the window manager's.
    const int w = context.clientWidth;
    const int h = context.clientHeight;
    int x, y;
    if (display.exclusiveFullScreen()) {
        int modeW = 0, modeH = 0;
        window.displayModeSize(modeW, modeH);
        x = (modeW - w) / 2;
        y = (modeH - h) / 2;
    } else {
        const platform::Rect m = window.monitorRect();
        x = m.left + (m.width() - w) / 2;
        y = m.top + (m.height() - h) / 2;
    }
    window.setWindowed(x, y, w, h);
}

}  // namespace vaxo2::app
