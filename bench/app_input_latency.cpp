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
    std::atomic<platform::Window*> window{nullptr};
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
            presents.window = ctx.window;
            std::lock_guard lock(presents.mutex);
            ++presents.count;
            presents.last = now;
            presents.changed.notify_all();
        };
        app::Runtime runtime(o, hooks);
        std::vector<double> latencies;
        int missed = 0;
        std::thread player([&] {
            std::mt19937 random(7);
            std::uniform_int_distribution<int> pause(25, 60);
            {
                std::unique_lock lock(presents.mutex);
                presents.changed.wait(lock, [&] { return presents.count > 0; });
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the first page settles
            platform::Window* window = presents.window.load();
            namespace wm = platform::wm;
            for (int i = 0; i < kClicks; ++i) {
                uint64_t before;
                {
                    std::lock_guard lock(presents.mutex);
                    before = presents.count;
                }
                const Clock::time_point t0 = Clock::now();
                window->postMessage({wm::kLButtonDown, wm::kMkLButton, wm::makeLParam(640, 360)});
                window->postMessage({wm::kLButtonUp, 0, wm::makeLParam(640, 360)});
                std::unique_lock lock(presents.mutex);
                if (presents.changed.wait_for(lock, std::chrono::seconds(2),
                                              [&] { return presents.count > before; })) {
                    latencies.push_back(
                        std::chrono::duration<double, std::milli>(presents.last - t0).count());
                } else {
                    ++missed;
                }
                lock.unlock();
                // The next click lands at another moment of the frame.
                std::this_thread::sleep_for(std::chrono::milliseconds(pause(random)));
            }
            window->postMessage({wm::kClose, 0, 0});
        });
        runtime.run();
        player.join();
        std::sort(latencies.begin(), latencies.end());
        const double median = latencies.empty() ? 0 : latencies[latencies.size() / 2];
        const double worst = latencies.empty() ? 0 : latencies.back();
        state.SetIterationTime(median / 1000.0);
        state.counters["clicks"] = static_cast<double>(latencies.size());
        state.counters["missed"] = missed;
        state.counters["median_ms"] = median;
        state.counters["p90_ms"] = latencies.empty() ? 0 : latencies[latencies.size() * 9 / 10];
        state.counters["worst_ms"] = worst;
    }
}
BENCHMARK(BM_ClickToNextPage)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
