// Interpreter speed on simple statements (FlagSet). Target: at least 5 million per second.
#include <benchmark/benchmark.h>

#include <string>

#include "script/compiler.h"
#include "script/flags.h"
#include "script/interpreter.h"

namespace {

using namespace vaxo2::script;

constexpr int kStatements = 100000;

std::string flagScript() {
    std::string s;
    for (int i = 0; i < kStatements; ++i)
        s += "FlagSet(Flag=" + std::to_string(i % 100) + ", Value=" + std::to_string(i) + ")\n";
    return s;
}

// stepCommand over one loaded context.
void BM_StepFlagSet(benchmark::State& state) {
    ScriptInterpreter interpreter;
    ScriptContext context;
    compileScript(flagScript(), context.image);
    context.sizeTemporaries();
    for (auto _ : state) {
        context.currentIndex = 0;
        while (context.currentIndex < context.commandCount())
            interpreter.stepCommand(context);
    }
    benchmark::DoNotOptimize(localFlag(5));
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kStatements);
}
BENCHMARK(BM_StepFlagSet)->Unit(benchmark::kMillisecond);

// The whole run loop (stack handling and stop-flag checks included) on a compiled image.
void BM_RunScriptsFlagSet(benchmark::State& state) {
    ScriptImage image;
    compileScript(flagScript(), image);
    const std::vector<uint8_t> bytes = writeImage(image);
    ScriptInterpreter interpreter;
    interpreter.loader().setResourceReader([&](const std::string&, std::vector<uint8_t>& out) {
        out = bytes;
        return true;
    });
    for (auto _ : state)
        interpreter.runScripts("flags.vxs");
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kStatements);
}
BENCHMARK(BM_RunScriptsFlagSet)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
