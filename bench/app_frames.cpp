// Shell costs: time from start-up to the first presented frame (headless), and the CPU that the
// shell spends per idle frame at the real frame rate.
#include <benchmark/benchmark.h>
#include <time.h>

#include <chrono>
#include <thread>

#include "app/runtime.h"
#include "platform/clock.h"
#include "platform/screenshot.h"

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace {

using namespace vaxo2;

double processCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

void BM_StartToFirstPresentedFrame(benchmark::State& state) {
    for (auto _ : state) {
        app::RunOptions o;
        o.headless = true;
        const auto t0 = std::chrono::steady_clock::now();
        std::chrono::steady_clock::time_point firstFrame;
        app::RuntimeHooks hooks;
        // The scenario starts right after the first complete frame: stamp it there.
        hooks.runScenario = [&](core::AppContext&) {
            firstFrame = std::chrono::steady_clock::now();
            return 0u;
        };
        app::Runtime runtime(o, hooks);
        runtime.run();
        state.SetIterationTime(std::chrono::duration<double>(firstFrame - t0).count());
    }
}
BENCHMARK(BM_StartToFirstPresentedFrame)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);

// Measured between the scenario's start and the window closing, so start-up (GL context
// creation) and shutdown are not counted.
void BM_IdleFrameCpu(benchmark::State& state) {
    for (auto _ : state) {
        app::RunOptions o;
        o.headless = true;
        o.exitAfter = 3000;
        o.redrawIdleFrames = state.range(0) != 0;
        double cpu0 = 0, cpu1 = 0;
        std::chrono::steady_clock::time_point t0, t1;
        int32_t frames0 = 0, frames1 = 0;
        app::RuntimeHooks hooks;
        hooks.runScenario = [&](core::AppContext& ctx) {
            cpu0 = processCpuSeconds();
            t0 = std::chrono::steady_clock::now();
            frames0 = ctx.frameDone.load();
            while (!ctx.windowClosed)
                platform::Clock::instance().sleep(16);
            cpu1 = processCpuSeconds();
            t1 = std::chrono::steady_clock::now();
            frames1 = ctx.frameDone.load();
            return 0u;
        };
        app::Runtime runtime(o, hooks);
        runtime.run();
        const double wall = std::chrono::duration<double>(t1 - t0).count();
        const double frames = frames1 - frames0;
        state.counters["frame_steps"] = frames;
        state.counters["frames_presented"] = runtime.report().framesDrawn;
        state.counters["cpu_us_per_frame"] = frames > 0 ? (cpu1 - cpu0) * 1e6 / frames : 0;
        state.counters["cpu_percent_of_a_core"] = wall > 0 ? 100.0 * (cpu1 - cpu0) / wall : 0;
    }
}
BENCHMARK(BM_IdleFrameCpu)
    ->ArgName("redraw_idle")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

// A still page like a visual novel's: a full-screen background, two character pictures and a
// translucent message window, drawn once and then left alone for three seconds.
std::string makeStillGame() {
    const std::string dir = "/tmp/vaxo2_bench_still_game";
    std::system(("mkdir -p " + dir).c_str());
    auto picture = [&](const std::string& name, int w, int h, uint8_t r, uint8_t g, uint8_t b,
                       uint8_t a) {
        std::vector<uint8_t> px(static_cast<size_t>(w) * h * 4);
        for (size_t i = 0; i < px.size(); i += 4) {
            px[i] = static_cast<uint8_t>(r ^ (i / 4 % 37));
            px[i + 1] = g;
            px[i + 2] = b;
            px[i + 3] = a;
        }
        std::string error;
        vaxo2::platform::writePng(dir + "/" + name, px.data(), w, h, error);
    };
    picture("bg.png", 1280, 720, 90, 140, 200, 255);
    picture("a.png", 300, 500, 200, 80, 80, 255);
    picture("b.png", 300, 500, 80, 80, 200, 255);
    picture("window.png", 1200, 220, 20, 20, 40, 192);
    std::ofstream(dir + "/Start.vxs") << "Graphic(Layer=0, File=\"bg.png\", StencilAction=1)\n"
                                         "Graphic(Layer=10, File=\"a.png\", x=-300)\n"
                                         "Graphic(Layer=11, File=\"b.png\", x=300)\n"
                                         "Graphic(Layer=100, File=\"window.png\", y=-240)\n"
                                         "Apply()\nWait(Time=600000)\n";
    return dir;
}

void BM_StillSceneCpu(benchmark::State& state) {
    const std::string game = makeStillGame();
    for (auto _ : state) {
        app::RunOptions o;
        o.headless = true;
        o.gameFolder = game;
        o.exitAfter = 4000;
        o.redrawIdleFrames = state.range(0) != 0;
        app::Runtime runtime(o, {});
        // Measure the last three seconds, after start-up and the scene's first frames.
        double cpu0 = 0;
        std::chrono::steady_clock::time_point t0;
        std::thread sampler([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(900));
            cpu0 = processCpuSeconds();
            t0 = std::chrono::steady_clock::now();
        });
        runtime.run();
        const double cpu = processCpuSeconds() - cpu0;
        const double wall =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        sampler.join();
        state.counters["frames_presented"] = runtime.report().framesDrawn;
        state.counters["cpu_percent_of_a_core"] = wall > 0 ? 100.0 * cpu / wall : 0;
    }
}
BENCHMARK(BM_StillSceneCpu)
    ->ArgName("redraw_idle")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

// A 1000 ms crossfade from the still page to the same page with another background: the
// CPU of the whole process from the Transition statement to its end. With redraw_idle the
// snapshot is rendered into its target again every frame (as it was before unchanged
// snapshots were kept); without it, once.
void BM_StillCrossfadeCpu(benchmark::State& state) {
    const std::string game = makeStillGame();
    {
        std::ofstream(game + "/Scene.vxs") << "Graphic(Layer=0, File=\"bg.png\", StencilAction=1)\n"
                                              "Graphic(Layer=10, File=\"a.png\", x=-300)\n"
                                              "Graphic(Layer=11, File=\"b.png\", x=300)\n"
                                              "Graphic(Layer=100, File=\"window.png\", y=-240)\n"
                                              "Apply()\nWait(Time=500)\n";
        std::ofstream(game + "/Fade.vxs") << "Graphic(Layer=0, File=\"a.png\", StencilAction=1)\n"
                                             "Transition(Time=1000)\n";
    }
    double wallSum = 0, cpuSum = 0, framesSum = 0;
    for (auto _ : state) {
        app::RunOptions o;
        o.headless = true;
        o.gameFolder = game;
        o.redrawIdleFrames = state.range(0) != 0;
        // A small window, so that the machine reaches the full frame rate either way and the
        // saving shows as CPU rather than as more frames.
        o.clientWidth = static_cast<int>(state.range(1));
        o.clientHeight = static_cast<int>(state.range(1)) * 9 / 16;
        double cpu0 = 0, cpu1 = 0;
        std::chrono::steady_clock::time_point t0, t1;
        int32_t frames0 = 0, frames1 = 0;
        app::RuntimeHooks hooks;
        hooks.runScenario = [&](core::AppContext& ctx) {
            ctx.scriptRunner->runScripts(std::string("Scene.vxs"));
            cpu0 = processCpuSeconds();
            t0 = std::chrono::steady_clock::now();
            frames0 = ctx.frameDone.load();
            ctx.scriptRunner->runScripts(std::string("Fade.vxs"));
            cpu1 = processCpuSeconds();
            t1 = std::chrono::steady_clock::now();
            frames1 = ctx.frameDone.load();
            return 0u;
        };
        app::Runtime runtime(o, hooks);
        runtime.run();
        wallSum += std::chrono::duration<double>(t1 - t0).count();
        cpuSum += cpu1 - cpu0;
        framesSum += frames1 - frames0;
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["fade_ms"] = wallSum * 1000 / n;
    state.counters["frames"] = framesSum / n;
    state.counters["cpu_ms"] = cpuSum * 1000 / n;
    state.counters["cpu_ms_per_frame"] = framesSum > 0 ? cpuSum * 1000 / framesSum : 0;
    state.counters["cpu_percent_of_a_core"] = wallSum > 0 ? 100.0 * cpuSum / wallSum : 0;
}
BENCHMARK(BM_StillCrossfadeCpu)
    ->ArgNames({"redraw_idle", "width"})
    ->Args({0, 1280})
    ->Args({1, 1280})
    ->Args({0, 320})
    ->Args({1, 320})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
