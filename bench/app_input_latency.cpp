// Input latency of the whole runtime (headless, real clock): from a click message posted to the
// window to the first presented frame that shows the next page, for a script that waits with
// KeyWait and then changes a picture and applies. 200 clicks at varied moments of the frame.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <fstream>
#include <map>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "app/runtime.h"
#include "platform/screenshot.h"

namespace {

using namespace vaxo2;
using Clock = std::chrono::steady_clock;

std::string makePagingGame() {
    const std::string dir = "/tmp/vaxo2_bench_input_game";
    std::system(("mkdir -p " + dir).c_str());
    auto picture = [&](const std::string& name, int w, int h, uint8_t r, uint8_t g, uint8_t b) {
        std::vector<uint8_t> px(static_cast<size_t>(w) * h * 4);
        for (size_t i = 0; i < px.size(); i += 4) {
            px[i] = r;
            px[i + 1] = static_cast<uint8_t>(g ^ (i / 4 % 29));
            px[i + 2] = b;
            px[i + 3] = 255;
        }
        std::string error;
        platform::writePng(dir + "/" + name, px.data(), w, h, error);
    };
    picture("bg.png", 1280, 720, 60, 90, 140);
    picture("a.png", 300, 500, 200, 80, 80);
    picture("b.png", 300, 500, 80, 80, 200);
    std::ofstream(dir + "/Start.vxs") << "Graphic(Layer=0, File=\"bg.png\", StencilAction=1)\n"
                                         "Graphic(Layer=10, File=\"a.png\")\n"
                                         "Apply()\n"
                                         "ScriptJump(File=\"pages.vxs\")\n";
    std::ofstream(dir + "/pages.vxs") << "KeyWait()\n"
                                         "GraphicAlter(Layer=10, File=\"b.png\")\n"
                                         "Apply()\n"
                                         "KeyWait()\n"
                                         "GraphicAlter(Layer=10, File=\"a.png\")\n"
                                         "Apply()\n"
                                         "ScriptJump(File=\"pages.vxs\")\n";
    return dir;
}

struct Presents {
    std::mutex mutex;
    std::condition_variable changed;
    uint64_t count = 0;
    Clock::time_point last;
    int32_t lastFrame = 0;  // frameStarted of the last presented frame
    std::atomic<core::AppContext*> context{nullptr};
};

void BM_ClickToNextPage(benchmark::State& state) {
    const std::string game = makePagingGame();
    constexpr int kClicks = 200;
    for (auto _ : state) {
        Presents presents;
        app::RunOptions o;
        o.headless = true;
        o.gameFolder = game;
        app::RuntimeHooks hooks;
        hooks.framePresented = [&](core::AppContext& ctx) {
            const Clock::time_point now = Clock::now();
            presents.context = &ctx;
            std::lock_guard lock(presents.mutex);
            ++presents.count;
            presents.last = now;
            presents.lastFrame = ctx.frameStarted.load();
            presents.changed.notify_all();
        };
        app::Runtime runtime(o, hooks);
        std::vector<double> latencies, toFrame, frameWork;
        int missed = 0;
        auto ms = [](Clock::duration d) {
            return std::chrono::duration<double, std::milli>(d).count();
        };
        std::thread player([&] {
            std::mt19937 random(7);
            std::uniform_int_distribution<int> pause(0, 16);
            {
                std::unique_lock lock(presents.mutex);
                presents.changed.wait(lock, [&] { return presents.count > 0; });
            }
            core::AppContext& ctx = *presents.context.load();
            platform::Window* window = ctx.window;
            namespace wm = platform::wm;
            for (int i = 0; i < kClicks; ++i) {
                // Click only into a settled page: two whole frames have passed since the last
                // presented one (so no frame is in flight and KeyWait waits again); then a
                // pause puts the click at another moment of the frame.
                auto settled = [&] {
                    std::lock_guard lock(presents.mutex);
                    return ctx.frameDone.load() - (presents.lastFrame + 2) >= 0;
                };
                while (!settled())
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                std::this_thread::sleep_for(std::chrono::milliseconds(pause(random)));
                uint64_t before;
                {
                    std::lock_guard lock(presents.mutex);
                    before = presents.count;
                }
                const Clock::time_point t0 = Clock::now();
                window->postMessage({wm::kLButtonDown, wm::kMkLButton, wm::makeLParam(640, 360)});
                window->postMessage({wm::kLButtonUp, 0, wm::makeLParam(640, 360)});
                // Until the next present, note when each frame starts, to split the latency into
                // the wait for a frame and that frame's own work.
                std::map<int32_t, Clock::time_point> frameStarts;
                int32_t seen = ctx.frameStarted.load();
                bool presented = false;
                while (!presented && Clock::now() - t0 < std::chrono::seconds(2)) {
                    const int32_t f = ctx.frameStarted.load();
                    if (f != seen) frameStarts[seen = f] = Clock::now();
                    std::unique_lock lock(presents.mutex);
                    presented = presents.changed.wait_for(lock, std::chrono::microseconds(200),
                                                          [&] { return presents.count > before; });
                }
                if (!presented) {
                    ++missed;
                    continue;
                }
                std::lock_guard lock(presents.mutex);
                latencies.push_back(ms(presents.last - t0));
                auto start = frameStarts.find(presents.lastFrame);
                if (start != frameStarts.end()) {
                    toFrame.push_back(ms(start->second - t0));
                    frameWork.push_back(ms(presents.last - start->second));
                }
            }
            window->postMessage({wm::kClose, 0, 0});
        });
        runtime.run();
        player.join();
        auto quantile = [](std::vector<double>& v, double q) {
            if (v.empty()) return 0.0;
            std::sort(v.begin(), v.end());
            return v[std::min(v.size() - 1,
                              static_cast<size_t>(q * static_cast<double>(v.size())))];
        };
        const double median = quantile(latencies, 0.5);
        state.SetIterationTime(median / 1000.0);
        state.counters["clicks"] = static_cast<double>(latencies.size());
        state.counters["missed"] = missed;
        state.counters["median_ms"] = median;
        state.counters["p90_ms"] = quantile(latencies, 0.9);
        state.counters["worst_ms"] = quantile(latencies, 1.0);
        // The split: click to the start of the frame that shows the page (the pacing wait,
        // at most one interval when the machine keeps up), and that frame's own work (drain,
        // update, draw, present).
        state.counters["to_frame_median_ms"] = quantile(toFrame, 0.5);
        state.counters["to_frame_worst_ms"] = quantile(toFrame, 1.0);
        state.counters["frame_median_ms"] = quantile(frameWork, 0.5);
        state.counters["frame_worst_ms"] = quantile(frameWork, 1.0);
    }
}
BENCHMARK(BM_ClickToNextPage)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
