// Shell costs: time from start-up to the first presented frame (headless), and the CPU that the
// shell spends per idle frame at the real frame rate.
#include <benchmark/benchmark.h>
#include <time.h>

#include <chrono>

#include "app/runtime.h"
#include "platform/clock.h"

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
        hooks.runScenario = [&](app::AppContext&) {
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
        hooks.runScenario = [&](app::AppContext& ctx) {
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

}  // namespace

BENCHMARK_MAIN();
