// Compiler throughput on a generated scenario of typical statements (message text, graphics
// commands with lists, comments, labels), at 1 MB and 5 MB to show that the cost grows in
// proportion to the text. Target: at least 20 MB/s.
#include <benchmark/benchmark.h>

#include <string>

#include "script/compiler.h"

namespace {

using namespace vaxo2::script;

std::string scenario(size_t bytes) {
    std::string s;
    s.reserve(bytes + 512);
    for (int scene = 0; s.size() < bytes; ++scene) {
        const std::string n = std::to_string(scene);
        s += "// scene " + n + ": the two of them meet again by the river\n";
        s += "#scene" + n + "\n";
        s += "Graphic(Layer=0, File=\"bg\\river" + n + ".png\", StencilAction=1)\n";
        s += "Graphic(Layer=10, File=\"chara\\aoi.png\", x=-300, y=-60)\n";
        s += "GraphicSlot(Layer=10, No=1, Time=800, Position=-200:0:0, Scale=1.0:1.0, "
             "PositionGainStart=1, Transmittance=1)\n";
        s += "Sound(Layer=1, File=\"bgm\\theme.ogg\", Volume=0.8, Loop=1)\n";
        s += "Apply\n";
        s += "GraphicTextOut(Layer=100, Text=\"\xE3\x80\x8C\xE3\x81\x93\xE3\x82\x93\xE3\x81\xAB"
             "\xE3\x81\xA1\xE3\x81\xAF\xE3\x80\x8D Long time no see, she said, scene " +
             n + ".\")\n";
        s += "KeyWait\n";
        s += "IfScriptJump(File=\"branch.vxs\", Flag=2, Value=1)  // choice\n";
        s += "Wait(Time=500, SkipOn=1)\n\n";
    }
    return s;
}

// Compiles `text` once per iteration and reports the throughput; returns the last image.
ScriptImage compileEachIteration(benchmark::State& state, const std::string& text) {
    ScriptImage image;
    for (auto _ : state) {
        ScriptCompiler().compile(text, image);
        benchmark::DoNotOptimize(image.commandList.data());
        benchmark::DoNotOptimize(image.elementTable.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(text.size()));
    return image;
}

void BM_CompileScenario(benchmark::State& state) {
    const std::string text = scenario(static_cast<size_t>(state.range(0)) << 20);
    const ScriptImage image = compileEachIteration(state, text);
    state.counters["statements"] = static_cast<double>(image.commandList.size());
}
BENCHMARK(BM_CompileScenario)->Arg(1)->Arg(5)->Unit(benchmark::kMillisecond);

// One statement with a very long argument list and one very long list value: the compiler
// must stay linear in the argument text.
void BM_CompileLongArguments(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    std::string text = "GraphicSlot(Layer=1, Position=";
    for (int i = 0; i < n; ++i)
        text += std::to_string(i) + (i + 1 < n ? ":" : "");
    text += ", ";
    for (int i = 0; i < n; ++i)
        text += "Loop=" + std::to_string(i) + ", ";
    text += "No=2)";
    compileEachIteration(state, text);
}
BENCHMARK(BM_CompileLongArguments)->Arg(10000)->Arg(50000)->Unit(benchmark::kMillisecond);

// One value that is a long expression of quoted pieces: tokenizing stays linear in its length.
void BM_CompileLongExpression(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    std::string text = "GraphicTextOut(Layer=100, Text=\"a\"";
    for (int i = 0; i < n; ++i)
        text += " + \"piece " + std::to_string(i) + "\"";
    text += ")";
    compileEachIteration(state, text);
}
BENCHMARK(BM_CompileLongExpression)->Arg(10000)->Arg(50000)->Unit(benchmark::kMillisecond);

// One value of n nested parentheses around a list: each "(" is an operand at which the rest is
// tested for a top-level colon; the time must grow linearly with n.
void BM_CompileNestedParentheses(benchmark::State& state) {
    const size_t n = static_cast<size_t>(state.range(0));
    compileEachIteration(state,
                         "Wait(Time=" + std::string(n, '(') + "1:2" + std::string(n, ')') + ")");
}
BENCHMARK(BM_CompileNestedParentheses)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
