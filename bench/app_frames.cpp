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
BENCHMARK(BM_StartToFirstPresentedFrame)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_IdleFrameCpu(benchmark::State& state) {
    for (auto _ : state) {
        app::RunOptions o;
        o.headless = true;
        o.exitAfter = 2000;
        app::RuntimeHooks hooks;
        hooks.runScenario = [](app::AppContext& ctx) {
            while (!ctx.windowClosed) platform::Clock::instance().sleep(16);
            return 0u;
        };
        app::Runtime runtime(o, hooks);
        const double cpu0 = processCpuSeconds();
        const auto t0 = std::chrono::steady_clock::now();
        runtime.run();
        const double cpu = processCpuSeconds() - cpu0;
        const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        const double frames = runtime.report().framesDrawn;
        state.counters["frames"] = frames;
        state.counters["cpu_ms_per_frame"] = frames > 0 ? cpu * 1000.0 / frames : 0;
        state.counters["cpu_percent_of_a_core"] = 100.0 * cpu / wall;
    }
}
BENCHMARK(BM_IdleFrameCpu)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
