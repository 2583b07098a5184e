#pragma once
// A window that records what the shell asks of it, for feeding messages to the window procedure.
#include <deque>
#include <string>
#include <vector>

#include "platform/window.h"

namespace vaxo2::test {

class FakeWindow : public platform::Window {
  public:
    bool peekMessage(platform::WindowMessage& msg) override {
        if (queue.empty()) return false;
        msg = queue.front();
        queue.pop_front();
        return true;
    }
    void postMessage(const platform::WindowMessage& msg) override { queue.push_back(msg); }
    void waitMessage(uint32_t) override {}
    void show(bool) override {}
    void setTitle(const std::string&) override {}
    void setCursor(const platform::Cursor* c) override {
        cursorSets++;
        lastCursor = c;
    }
    void setWindowed(int x, int y, int w, int h) override {
        calls.push_back("windowed " + std::to_string(x) + "," + std::to_string(y) + " " +
                        std::to_string(w) + "x" + std::to_string(h));
    }
    void restoreFrame() override { calls.push_back("restoreFrame"); }
    void setBorderless(const platform::Rect& r) override {
        calls.push_back("borderless " + std::to_string(r.left) + "," + std::to_string(r.top) + " " +
                        std::to_string(r.width()) + "x" + std::to_string(r.height()));
    }
    void setExclusiveFullScreen(int, int) override { calls.push_back("exclusive"); }
    platform::Rect monitorRect() override { return monitor; }
    void displayModeSize(int& w, int& h) override {
        w = modeWidth;
        h = modeHeight;
    }
    bool clientRect(platform::Rect& r) override {
        r = {0, 0, 1280, 720};
        return true;
    }
    void destroy() override {
        calls.push_back("destroy");
        postMessage({platform::wm::kDestroy, 0, 0});
    }
    bool headless() const override { return true; }
    std::unique_ptr<platform::GlContext> createGlContext(std::string& error) override {
        error = "no GL in the fake window";
        return nullptr;
    }

    std::deque<platform::WindowMessage> queue;
    std::vector<std::string> calls;
    int cursorSets = 0;
    const platform::Cursor* lastCursor = nullptr;
    platform::Rect monitor{1920, 0, 1920 + 2560, 1440};
    int modeWidth = 1920, modeHeight = 1080;
};

}  // namespace vaxo2::test
