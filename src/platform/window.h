#pragma once
// The main window, seen by the engine as a source of Windows-style messages. The backend
// translates its native events into WindowMessage with the Windows message kinds and virtual-key
// codes, so the window procedure and the input manager work on the same values everywhere and
// can be tested by feeding messages.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vaxo2::platform {

struct WindowMessage {
    uint32_t kind = 0;
    uint64_t wParam = 0;
    int64_t lParam = 0;
};

namespace wm {
constexpr uint32_t kNull = 0x0000;
constexpr uint32_t kDestroy = 0x0002;
constexpr uint32_t kSize = 0x0005;
constexpr uint32_t kActivate = 0x0006;
constexpr uint32_t kSetFocus = 0x0007;
constexpr uint32_t kKillFocus = 0x0008;
constexpr uint32_t kPaint = 0x000F;
constexpr uint32_t kClose = 0x0010;
constexpr uint32_t kQuit = 0x0012;
constexpr uint32_t kActivateApp = 0x001C;
constexpr uint32_t kSetCursor = 0x0020;
constexpr uint32_t kKeyDown = 0x0100;
constexpr uint32_t kKeyUp = 0x0101;
constexpr uint32_t kChar = 0x0102;
constexpr uint32_t kSysKeyDown = 0x0104;
constexpr uint32_t kSysKeyUp = 0x0105;
constexpr uint32_t kSysCommand = 0x0112;
constexpr uint32_t kMouseMove = 0x0200;
constexpr uint32_t kLButtonDown = 0x0201;
constexpr uint32_t kLButtonUp = 0x0202;
constexpr uint32_t kLButtonDblClk = 0x0203;
constexpr uint32_t kRButtonDown = 0x0204;
constexpr uint32_t kRButtonUp = 0x0205;
constexpr uint32_t kRButtonDblClk = 0x0206;
constexpr uint32_t kMButtonDown = 0x0207;
constexpr uint32_t kMButtonUp = 0x0208;
constexpr uint32_t kMouseWheel = 0x020A;

// WM_SIZE kinds
constexpr uint64_t kSizeRestored = 0;
constexpr uint64_t kSizeMinimized = 1;
constexpr uint64_t kSizeMaximized = 2;

// WM_SYSCOMMAND commands (after masking with 0xFFF0)
constexpr uint64_t kScSize = 0xF000;
constexpr uint64_t kScMove = 0xF010;
constexpr uint64_t kScMinimize = 0xF020;
constexpr uint64_t kScMaximize = 0xF030;
constexpr uint64_t kScClose = 0xF060;
constexpr uint64_t kScKeyMenu = 0xF100;
constexpr uint64_t kScRestore = 0xF120;

// Mouse-key state bits in wParam of mouse messages
constexpr uint64_t kMkLButton = 0x0001;
constexpr uint64_t kMkRButton = 0x0002;
constexpr uint64_t kMkShift = 0x0004;
constexpr uint64_t kMkControl = 0x0008;
constexpr uint64_t kMkMButton = 0x0010;

constexpr int kWheelDelta = 120;

inline int64_t makeLParam(int x, int y) {
    return static_cast<int64_t>(static_cast<uint32_t>((static_cast<uint32_t>(y) & 0xFFFF) << 16 |
                                                      (static_cast<uint32_t>(x) & 0xFFFF)));
}
inline int lParamX(int64_t l) {
    return static_cast<int16_t>(l & 0xFFFF);
}
inline int lParamY(int64_t l) {
    return static_cast<int16_t>((l >> 16) & 0xFFFF);
}
// Key data of a key message: repeat count 1, scan code, bit 29 when Alt is held, bit 30 when the
// key was already down, bit 31 on release.
inline int64_t keyLParam(bool alt, bool wasDown, bool release, uint32_t scanCode = 0) {
    uint32_t v = 1u | ((scanCode & 0xFF) << 16);
    if (alt) v |= 1u << 29;
    if (wasDown) v |= 1u << 30;
    if (release) v |= 1u << 31;
    return static_cast<int64_t>(v);
}
}  // namespace wm

// Windows virtual-key codes used by the engine.
namespace vk {
constexpr uint32_t kBack = 0x08;
constexpr uint32_t kTab = 0x09;
constexpr uint32_t kReturn = 0x0D;
constexpr uint32_t kShift = 0x10;
constexpr uint32_t kControl = 0x11;
constexpr uint32_t kMenu = 0x12;  // Alt
constexpr uint32_t kPause = 0x13;
constexpr uint32_t kEscape = 0x1B;
constexpr uint32_t kSpace = 0x20;
constexpr uint32_t kPrior = 0x21;  // Page Up
constexpr uint32_t kNext = 0x22;   // Page Down
constexpr uint32_t kEnd = 0x23;
constexpr uint32_t kHome = 0x24;
constexpr uint32_t kLeft = 0x25;
constexpr uint32_t kUp = 0x26;
constexpr uint32_t kRight = 0x27;
constexpr uint32_t kDown = 0x28;
constexpr uint32_t kInsert = 0x2D;
constexpr uint32_t kDelete = 0x2E;
constexpr uint32_t kF1 = 0x70;
constexpr uint32_t kF10 = 0x79;
constexpr uint32_t kF12 = 0x7B;
constexpr uint32_t kLShift = 0xA0;
constexpr uint32_t kRShift = 0xA1;
constexpr uint32_t kLControl = 0xA2;
constexpr uint32_t kRControl = 0xA3;
// '0'..'9' and 'A'..'Z' are their ASCII codes.
}  // namespace vk

struct Rect {
    int left = 0, top = 0, right = 0, bottom = 0;
    int width() const { return right - left; }
    int height() const { return bottom - top; }
};

// A mouse cursor made from an image; the arrow cursor is a null pointer.
class Cursor {
  public:
    virtual ~Cursor() = default;
};
// BGRA pixels, rows top to bottom. Null when the image cannot become a cursor.
std::unique_ptr<Cursor> createCursor(const uint8_t* bgra, int width, int height, int hotX,
                                     int hotY);

// An OpenGL context, made current on the thread that created it.
class GlContext {
  public:
    virtual ~GlContext() = default;
    virtual bool makeCurrent() = 0;
    virtual void swapBuffers() = 0;
    // 0 immediate, 1 wait for the vertical blank. False when the driver refuses.
    virtual bool setSwapInterval(int interval) = 0;
    virtual void drawableSize(int& width, int& height) = 0;
    // Clears the default framebuffer (used before the display device draws anything).
    virtual void clear(float r, float g, float b, float a) = 0;
    // Reads the back buffer of the default framebuffer as RGBA rows, top row first.
    virtual bool readBackBuffer(std::vector<uint8_t>& rgba, int& width, int& height) = 0;
    // Whether the picture drawn before a present is still there to draw over after it (an
    // offscreen surface has one buffer). A window's back buffer is undefined after a swap.
    virtual bool keepsPicture() const { return false; }
};

class Window {
  public:
    virtual ~Window() = default;

    // Takes the next message; false when none is waiting. Never blocks.
    virtual bool peekMessage(WindowMessage& msg) = 0;
    // Blocks until a message may be waiting or timeoutMs passed (main thread only).
    virtual void waitMessage(uint32_t timeoutMs) = 0;
    // Queues a message for the main thread's loop; any thread may call it.
    virtual void postMessage(const WindowMessage& msg) = 0;

    virtual void show(bool visible) = 0;
    virtual void setTitle(const std::string& utf8) = 0;
    virtual void setCursor(const Cursor* cursor) = 0;  // null: arrow
    // Windowed with a frame, client area of the given size at screen position x, y.
    virtual void setWindowed(int x, int y, int clientWidth, int clientHeight) = 0;
    // Back to a framed window, keeping its place and size.
    virtual void restoreFrame() = 0;
    // Borderless over the given rectangle (full screen without a mode change).
    virtual void setBorderless(const Rect& area) = 0;
    // Full screen with a display-mode change.
    virtual void setExclusiveFullScreen(int width, int height) = 0;
    virtual Rect monitorRect() = 0;
    virtual void displayModeSize(int& width, int& height) = 0;
    virtual bool clientRect(Rect& rect) = 0;
    // Destroys the native window; its WM_DESTROY follows through the message queue.
    virtual void destroy() = 0;
    virtual bool headless() const = 0;

    // Creates an OpenGL 3.3 core context for this window on the calling thread.
    virtual std::unique_ptr<GlContext> createGlContext(std::string& error) = 0;
};

struct WindowOptions {
    std::string title;
    int clientWidth = 1280;
    int clientHeight = 720;
    bool headless = false;  // offscreen: no display needed
};

// Creates the window hidden. Null with `error` set when the video system cannot start.
std::unique_ptr<Window> createWindow(const WindowOptions& options, std::string& error);

}  // namespace vaxo2::platform
