// SDL2 backend of the main window: native events become Windows-style messages, and the OpenGL
// context is created on whichever thread asks (the render thread).
#include <SDL.h>
#include <SDL_opengl.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <mutex>

#include "platform/window.h"

namespace vaxo2::platform {
namespace {

std::mutex gSdlInitMutex;

uint32_t vkFromKeycode(SDL_Keycode key) {
    if (key >= SDLK_a && key <= SDLK_z) return static_cast<uint32_t>('A' + (key - SDLK_a));
    if (key >= SDLK_0 && key <= SDLK_9) return static_cast<uint32_t>('0' + (key - SDLK_0));
    if (key >= SDLK_F1 && key <= SDLK_F12) return vk::kF1 + static_cast<uint32_t>(key - SDLK_F1);
    switch (key) {
        case SDLK_RETURN:
        case SDLK_KP_ENTER:
            return vk::kReturn;
        case SDLK_ESCAPE:
            return vk::kEscape;
        case SDLK_SPACE:
            return vk::kSpace;
        case SDLK_BACKSPACE:
            return vk::kBack;
        case SDLK_TAB:
            return vk::kTab;
        case SDLK_PAUSE:
            return vk::kPause;
        case SDLK_PAGEUP:
            return vk::kPrior;
        case SDLK_PAGEDOWN:
            return vk::kNext;
        case SDLK_END:
            return vk::kEnd;
        case SDLK_HOME:
            return vk::kHome;
        case SDLK_LEFT:
            return vk::kLeft;
        case SDLK_UP:
            return vk::kUp;
        case SDLK_RIGHT:
            return vk::kRight;
        case SDLK_DOWN:
            return vk::kDown;
        case SDLK_INSERT:
            return vk::kInsert;
        case SDLK_DELETE:
            return vk::kDelete;
        // Windows reports the generic codes in key messages.
        case SDLK_LSHIFT:
        case SDLK_RSHIFT:
            return vk::kShift;
        case SDLK_LCTRL:
        case SDLK_RCTRL:
            return vk::kControl;
        case SDLK_LALT:
        case SDLK_RALT:
            return vk::kMenu;
        default:
            return 0;
    }
}

uint64_t mouseKeyState(uint32_t buttons) {
    uint64_t mk = 0;
    if (buttons & SDL_BUTTON_LMASK) mk |= wm::kMkLButton;
    if (buttons & SDL_BUTTON_RMASK) mk |= wm::kMkRButton;
    if (buttons & SDL_BUTTON_MMASK) mk |= wm::kMkMButton;
    const SDL_Keymod mod = SDL_GetModState();
    if (mod & KMOD_SHIFT) mk |= wm::kMkShift;
    if (mod & KMOD_CTRL) mk |= wm::kMkControl;
    return mk;
}

class SdlCursor final : public Cursor {
  public:
    SdlCursor(SDL_Surface* surface, int hotX, int hotY)
        : surface_(surface), hotX_(hotX), hotY_(hotY) {}
    ~SdlCursor() override {
        if (cursor_) SDL_FreeCursor(cursor_);
        SDL_FreeSurface(surface_);
    }
    // SDL cursors are made on the thread that owns the window, at first use.
    SDL_Cursor* native() {
        if (!cursor_) cursor_ = SDL_CreateColorCursor(surface_, hotX_, hotY_);
        return cursor_;
    }

  private:
    SDL_Surface* surface_;
    SDL_Cursor* cursor_ = nullptr;
    int hotX_, hotY_;
};

class SdlGlContext final : public GlContext {
  public:
    SdlGlContext(SDL_Window* window, SDL_GLContext context, bool offscreen)
        : window_(window), context_(context), offscreen_(offscreen) {}
    ~SdlGlContext() override {
        SDL_GL_MakeCurrent(window_, nullptr);
        SDL_GL_DeleteContext(context_);
    }
    bool makeCurrent() override { return SDL_GL_MakeCurrent(window_, context_) == 0; }
    // The offscreen driver draws into a single-buffered surface that a swap leaves alone.
    bool keepsPicture() const override { return offscreen_; }
    void swapBuffers() override { SDL_GL_SwapWindow(window_); }
    bool setSwapInterval(int interval) override { return SDL_GL_SetSwapInterval(interval) == 0; }
    void drawableSize(int& width, int& height) override {
        SDL_GL_GetDrawableSize(window_, &width, &height);
    }
    void clear(float r, float g, float b, float a) override {
        int w = 0, h = 0;
        drawableSize(w, h);
        glViewport(0, 0, w, h);
        glClearColor(r, g, b, a);
        glClearStencil(0);
        glClearDepth(1.0);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
    }
    bool readBackBuffer(std::vector<uint8_t>& rgba, int& width, int& height) override {
        drawableSize(width, height);
        if (width <= 0 || height <= 0) return false;
        const size_t row = static_cast<size_t>(width) * 4;
        std::vector<uint8_t> flipped(row * static_cast<size_t>(height));
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glReadBuffer(GL_BACK);
        glReadPixels(0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE, flipped.data());
        if (glGetError() != GL_NO_ERROR) return false;
        rgba.resize(flipped.size());
        for (int y = 0; y < height; ++y) {
            std::memcpy(rgba.data() + row * static_cast<size_t>(y),
                        flipped.data() + row * static_cast<size_t>(height - 1 - y), row);
        }
        return true;
    }

  private:
    SDL_Window* window_;
    SDL_GLContext context_;
    bool offscreen_;
};

class SdlWindow final : public Window {
  public:
    SdlWindow(SDL_Window* window, bool headless) : window_(window), headless_(headless) {}
    ~SdlWindow() override {
        if (window_) SDL_DestroyWindow(window_);
        SDL_QuitSubSystem(SDL_INIT_VIDEO);
        // The last subsystem gone: let SDL free its global state too.
        if (SDL_WasInit(SDL_INIT_EVERYTHING) == 0) SDL_Quit();
    }

    bool peekMessage(WindowMessage& msg) override {
        {
            std::lock_guard lock(mutex_);
            if (!posted_.empty()) {
                msg = posted_.front();
                posted_.pop_front();
                return true;
            }
        }
        SDL_Event ev;
        while (SDL_PollEvent(&ev)) {
            if (translate(ev, msg)) return true;
        }
        return false;
    }

    void postMessage(const WindowMessage& msg) override {
        {
            std::lock_guard lock(mutex_);
            posted_.push_back(msg);
        }
        // Wake a main thread blocked in waitMessage.
        postedCv_.notify_all();
        if (!headless_) {
            SDL_Event wake{};
            wake.type = SDL_USEREVENT;
            SDL_PushEvent(&wake);
        }
    }

    void waitMessage(uint32_t timeoutMs) override {
        const uint32_t ms = timeoutMs > 1000 ? 1000 : timeoutMs;
        if (headless_) {
            // The offscreen driver has no events of its own and SDL would poll for them every
            // millisecond; only posted messages can arrive, so wait for those.
            std::unique_lock lock(mutex_);
            postedCv_.wait_for(lock, std::chrono::milliseconds(ms),
                               [this] { return !posted_.empty(); });
            return;
        }
        {
            std::lock_guard lock(mutex_);
            if (!posted_.empty()) return;
        }
        SDL_WaitEventTimeout(nullptr, static_cast<int>(ms));
    }

    void show(bool visible) override {
        if (!window_) return;
        if (visible) {
            SDL_ShowWindow(window_);
            SDL_RaiseWindow(window_);
        } else {
            SDL_HideWindow(window_);
        }
    }

    void setTitle(const std::string& utf8) override {
        if (window_) SDL_SetWindowTitle(window_, utf8.c_str());
    }

    void setCursor(const Cursor* cursor) override {
        auto* c = const_cast<SdlCursor*>(dynamic_cast<const SdlCursor*>(cursor));
        SDL_Cursor* native = c ? c->native() : nullptr;
        if (!native) {
            if (!arrow_) arrow_ = SDL_CreateSystemCursor(SDL_SYSTEM_CURSOR_ARROW);
            native = arrow_;
        }
        if (native) SDL_SetCursor(native);
    }

    void setWindowed(int x, int y, int clientWidth, int clientHeight) override {
        if (!window_) return;
        SDL_SetWindowFullscreen(window_, 0);
        SDL_SetWindowBordered(window_, SDL_TRUE);
        SDL_SetWindowSize(window_, clientWidth, clientHeight);
        // SDL places the client area; Windows placed the frame. Move by the frame's insets so
        // the frame lands where the layout put it.
        int top = 0, left = 0, bottom = 0, right = 0;
        SDL_GetWindowBordersSize(window_, &top, &left, &bottom, &right);
        SDL_SetWindowPosition(window_, x + left, y + top);
    }

    void restoreFrame() override {
        if (!window_) return;
        SDL_SetWindowFullscreen(window_, 0);
        SDL_SetWindowBordered(window_, SDL_TRUE);
    }

    void setBorderless(const Rect& area) override {
        if (!window_) return;
        SDL_SetWindowFullscreen(window_, 0);
        SDL_SetWindowBordered(window_, SDL_FALSE);
        SDL_SetWindowPosition(window_, area.left, area.top);
        SDL_SetWindowSize(window_, area.width(), area.height());
    }

    void setExclusiveFullScreen(int width, int height) override {
        if (!window_) return;
        SDL_DisplayMode want{};
        want.w = width;
        want.h = height;
        SDL_DisplayMode closest{};
        const int display = SDL_GetWindowDisplayIndex(window_);
        if (SDL_GetClosestDisplayMode(display < 0 ? 0 : display, &want, &closest)) {
            SDL_SetWindowDisplayMode(window_, &closest);
        }
        SDL_SetWindowFullscreen(window_, SDL_WINDOW_FULLSCREEN);
    }

    Rect monitorRect() override {
        SDL_Rect r{0, 0, 1280, 720};
        const int display = window_ ? SDL_GetWindowDisplayIndex(window_) : 0;
        SDL_GetDisplayBounds(display < 0 ? 0 : display, &r);
        return Rect{r.x, r.y, r.x + r.w, r.y + r.h};
    }

    void displayModeSize(int& width, int& height) override {
        SDL_DisplayMode mode{};
        const int display = window_ ? SDL_GetWindowDisplayIndex(window_) : 0;
        if (SDL_GetDesktopDisplayMode(display < 0 ? 0 : display, &mode) == 0) {
            width = mode.w;
            height = mode.h;
        } else {
            width = 1280;
            height = 720;
        }
    }

    bool clientRect(Rect& rect) override {
        if (!window_) return false;
        int w = 0, h = 0;
        SDL_GL_GetDrawableSize(window_, &w, &h);
        if (w <= 0 || h <= 0) SDL_GetWindowSize(window_, &w, &h);
        rect = Rect{0, 0, w, h};
        return true;
    }

    void destroy() override {
        if (window_ && !destroyed_) {
            destroyed_ = true;
            SDL_HideWindow(window_);
            postMessage({wm::kDestroy, 0, 0});
        }
    }

    bool headless() const override { return headless_; }

    std::unique_ptr<GlContext> createGlContext(std::string& error) override {
        if (!window_) {
            error = "no window";
            return nullptr;
        }
        SDL_GLContext ctx = SDL_GL_CreateContext(window_);
        if (!ctx) {
            error = SDL_GetError();
            return nullptr;
        }
        auto result = std::make_unique<SdlGlContext>(window_, ctx, headless_);
        if (!result->makeCurrent()) {
            error = SDL_GetError();
            return nullptr;
        }
        return result;
    }

  private:
    bool translate(const SDL_Event& ev, WindowMessage& msg) {
        switch (ev.type) {
            case SDL_QUIT:
                msg = {wm::kClose, 0, 0};
                return true;
            case SDL_WINDOWEVENT:
                return translateWindowEvent(ev.window, msg);
            case SDL_KEYDOWN:
            case SDL_KEYUP: {
                const uint32_t code = vkFromKeycode(ev.key.keysym.sym);
                if (code == 0) return false;
                const bool down = ev.type == SDL_KEYDOWN;
                const bool alt = (ev.key.keysym.mod & KMOD_ALT) != 0;
                // Windows sends Alt combinations, Alt itself and F10 as system keys.
                const bool sys = alt || code == vk::kMenu || code == vk::kF10;
                const uint32_t kind = down ? (sys ? wm::kSysKeyDown : wm::kKeyDown)
                                           : (sys ? wm::kSysKeyUp : wm::kKeyUp);
                msg = {kind, code,
                       wm::keyLParam(alt, down ? ev.key.repeat != 0 : true, !down,
                                     static_cast<uint32_t>(ev.key.keysym.scancode))};
                return true;
            }
            case SDL_MOUSEMOTION:
                msg = {wm::kMouseMove, mouseKeyState(ev.motion.state),
                       wm::makeLParam(ev.motion.x, ev.motion.y)};
                return true;
            case SDL_MOUSEBUTTONDOWN:
            case SDL_MOUSEBUTTONUP: {
                const bool down = ev.type == SDL_MOUSEBUTTONDOWN;
                uint32_t kind;
                switch (ev.button.button) {
                    case SDL_BUTTON_LEFT:
                        kind = down ? wm::kLButtonDown : wm::kLButtonUp;
                        break;
                    case SDL_BUTTON_RIGHT:
                        kind = down ? wm::kRButtonDown : wm::kRButtonUp;
                        break;
                    case SDL_BUTTON_MIDDLE:
                        kind = down ? wm::kMButtonDown : wm::kMButtonUp;
                        break;
                    default:
                        return false;
                }
                msg = {kind, mouseKeyState(SDL_GetMouseState(nullptr, nullptr)),
                       wm::makeLParam(ev.button.x, ev.button.y)};
                return true;
            }
            case SDL_MOUSEWHEEL: {
                // Client coordinates, like every other mouse message (the engine maps them to
                // the picture; screen coordinates would miss a wheel area by the window's place).
                int x = 0, y = 0;
                const uint32_t buttons = SDL_GetMouseState(&x, &y);
                int delta = ev.wheel.y * wm::kWheelDelta;
                if (ev.wheel.direction == SDL_MOUSEWHEEL_FLIPPED) delta = -delta;
                const uint64_t high = static_cast<uint64_t>(static_cast<uint16_t>(delta)) << 16;
                msg = {wm::kMouseWheel, high | mouseKeyState(buttons), wm::makeLParam(x, y)};
                return true;
            }
            default:
                return false;
        }
    }

    bool translateWindowEvent(const SDL_WindowEvent& w, WindowMessage& msg) {
        int cw = 0, ch = 0;
        if (window_) SDL_GetWindowSize(window_, &cw, &ch);
        switch (w.event) {
            case SDL_WINDOWEVENT_CLOSE:
                msg = {wm::kClose, 0, 0};
                return true;
            case SDL_WINDOWEVENT_SIZE_CHANGED:
            case SDL_WINDOWEVENT_RESTORED:
                msg = {wm::kSize, wm::kSizeRestored, wm::makeLParam(cw, ch)};
                return true;
            case SDL_WINDOWEVENT_MINIMIZED:
                msg = {wm::kSize, wm::kSizeMinimized, 0};
                return true;
            case SDL_WINDOWEVENT_MAXIMIZED:
                msg = {wm::kSize, wm::kSizeMaximized, wm::makeLParam(cw, ch)};
                return true;
            case SDL_WINDOWEVENT_ENTER:
                msg = {wm::kSetCursor, 0, 1 /* HTCLIENT */};
                return true;
            case SDL_WINDOWEVENT_EXPOSED:
                msg = {wm::kPaint, 0, 0};
                return true;
            case SDL_WINDOWEVENT_FOCUS_GAINED:
                msg = {wm::kActivateApp, 1, 0};
                return true;
            case SDL_WINDOWEVENT_FOCUS_LOST:
                msg = {wm::kActivateApp, 0, 0};
                return true;
            default:
                return false;
        }
    }

    SDL_Window* window_;
    bool headless_;
    bool destroyed_ = false;
    SDL_Cursor* arrow_ = nullptr;
    std::mutex mutex_;
    std::deque<WindowMessage> posted_;
    std::condition_variable postedCv_;
};

}  // namespace

std::unique_ptr<Cursor> createCursor(const uint8_t* bgra, int width, int height, int hotX,
                                     int hotY) {
    if (!bgra || width <= 0 || height <= 0 || width > 1024 || height > 1024) return nullptr;
    SDL_Surface* surface =
        SDL_CreateRGBSurfaceWithFormat(0, width, height, 32, SDL_PIXELFORMAT_BGRA32);
    if (!surface) return nullptr;
    for (int y = 0; y < height; ++y) {
        std::memcpy(
            static_cast<uint8_t*>(surface->pixels) + static_cast<size_t>(y) * surface->pitch,
            bgra + static_cast<size_t>(y) * width * 4, static_cast<size_t>(width) * 4);
    }
    return std::make_unique<SdlCursor>(surface, hotX, hotY);
}

std::unique_ptr<Window> createWindow(const WindowOptions& options, std::string& error) {
    std::lock_guard lock(gSdlInitMutex);
    if (options.headless) SDL_SetHint(SDL_HINT_VIDEODRIVER, "offscreen");
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
        error = std::string("video system: ") + SDL_GetError();
        return nullptr;
    }
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 3);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 3);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_CORE);
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 24);
    SDL_GL_SetAttribute(SDL_GL_STENCIL_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_RED_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_GREEN_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_BLUE_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_ALPHA_SIZE, 8);
    SDL_Window* w = SDL_CreateWindow(
        options.title.c_str(), SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, options.clientWidth,
        options.clientHeight, SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN | SDL_WINDOW_RESIZABLE);
    if (!w) {
        error = std::string("window: ") + SDL_GetError();
        SDL_QuitSubSystem(SDL_INIT_VIDEO);
        return nullptr;
    }
    return std::make_unique<SdlWindow>(w, options.headless);
}

}  // namespace vaxo2::platform
