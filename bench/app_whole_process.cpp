// The whole runtime as a player starts it: the vaxo2 binary, headless, on a small game like a
// visual novel's first minutes (a 1280x720 background, a character sprite, a message-window
// picture, six timed pages of Japanese message text, a 1000 ms crossfade to a second background,
// the sprite moving over a still page, looping streamed music). Reported, as the median of a few
// runs:
//  - the start-up timeline from fork() (window, GL context, first empty frame, scenario start,
//    first picture decoded and uploaded, first frame with the scene), from the run's --trace;
//  - peak resident memory (the kernel's high-water mark), and at the still page a breakdown:
//    anonymous memory (our heap, pictures, driver buffers, thread stacks) and file-backed pages
//    (the GL driver's libraries and the rest);
//  - wake-ups per second at the still page: voluntary and involuntary context switches of every
//    thread of the process, read from /proc, with the busiest threads by name;
//  - frames presented and the largest gap between two presents during the crossfade and while
//    the sprite moves;
//  - CPU time of the whole run.
// The floor: the same figures for an empty SDL window with a GL context on this driver (this
// program started again with --floor), so that the runtime's own share shows.
//
// Environment: VAXO2_BENCH_RUNS (default 3) runs per figure; VAXO2_BENCH_RUNTIME another
// runtime binary to measure (an earlier build, for a before-and-after).
#include <benchmark/benchmark.h>
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "core/trace.h"
#include "platform/gpu.h"
#include "platform/screenshot.h"
#include "platform/window.h"

namespace {

const char* const kGameDir = "/tmp/vaxo2_bench_whole_game";

// Page plan of the scene (milliseconds from the scenario's start); the measuring windows below
// are placed from the trace's command marks, these only say which mark is which.
constexpr int kStillPageMs = 5000;
constexpr int kSpriteMoveMs = 2000;

int64_t monotonicUs() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// ---- the game -----------------------------------------------------------------------------

void writePicture(const std::string& name, int w, int h, uint32_t seed, bool sprite,
                  uint8_t alpha) {
    std::vector<uint8_t> px(static_cast<size_t>(w) * h * 4);
    uint32_t noise = seed;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            noise = noise * 1664525u + 1013904223u;
            uint8_t* p = &px[(static_cast<size_t>(y) * w + x) * 4];
            // A gradient with a little grain: compresses like a painted background, not like
            // a flat colour.
            p[0] = static_cast<uint8_t>((x * 255 / w + (noise >> 29)) ^ seed);
            p[1] = static_cast<uint8_t>(y * 255 / h + (noise >> 30));
            p[2] = static_cast<uint8_t>(((x + y) * 127 / (w + h)) + seed * 40);
            p[3] = alpha;
            if (sprite) {
                const double dx = (x - w / 2.0) / (w / 2.0), dy = (y - h / 2.0) / (h / 2.0);
                p[3] = dx * dx + dy * dy <= 1.0 ? 255 : 0;
            }
        }
    }
    std::string error;
    vaxo2::platform::writePng(std::string(kGameDir) + "/" + name, px.data(), w, h, error);
}

void writeSilentishWav(const std::string& path) {
    // 4 s of two quiet sines, 44100 Hz stereo 16-bit: the fallback when sox is missing.
    const uint32_t frames = 4 * 44100;
    std::vector<int16_t> pcm(frames * 2);
    for (uint32_t i = 0; i < frames; ++i) {
        const double t = i / 44100.0;
        const auto v = static_cast<int16_t>(
            3000 * (std::sin(2 * 3.14159265 * 220 * t) + std::sin(2 * 3.14159265 * 330 * t)));
        pcm[2 * i] = pcm[2 * i + 1] = v;
    }
    std::ofstream f(path, std::ios::binary);
    auto u32 = [&](uint32_t v) { f.write(reinterpret_cast<const char*>(&v), 4); };
    auto u16 = [&](uint16_t v) { f.write(reinterpret_cast<const char*>(&v), 2); };
    const uint32_t bytes = frames * 4;
    f.write("RIFF", 4);
    u32(36 + bytes);
    f.write("WAVEfmt ", 8);
    u32(16);
    u16(1);
    u16(2);
    u32(44100);
    u32(44100 * 4);
    u16(4);
    u16(16);
    f.write("data", 4);
    u32(bytes);
    f.write(reinterpret_cast<const char*>(pcm.data()), bytes);
}

// Six pages of 59 characters each: 354 characters of Japanese text.
const char* const kPages[6] = {
    "春の風が窓から入ってきて、机の上の古い手紙をそっと揺らした。差出人の名前はもう読めないが、封筒"
    "の角には小さな桜",
    "の押し花が貼られている。私はそれを手に取り、しばらく眺めていた。遠くで電車の音がして、夕方の光"
    "が部屋の奥まで届い",
    "た。あの日、駅の階段で別れたきり、彼女とは一度も会っていない。約束の場所に行けなかった理由を、"
    "私はまだ誰にも話し",
    "ていない。手紙を開くと、丁寧な字で短い文が並んでいた。「また桜が咲いたら、あの丘の上で待ってい"
    "ます。」それだけだ",
    "った。日付は三年前の春になっている。私は上着をつかんで部屋を出た。丘までは歩いて二十分ほどだ。"
    "空はまだ明るく、道",
    "の両側には新しい家が増えていた。坂を上りきると、一本の桜の木が見えた。その下に、誰かが静かに立"
    "っているのが見えた",
};

std::string makeGame() {
    std::system((std::string("rm -rf ") + kGameDir + " && mkdir -p " + kGameDir).c_str());
    writePicture("bg1.png", 1280, 720, 1, false, 255);
    writePicture("bg2.png", 1280, 720, 2, false, 255);
    writePicture("sprite.png", 300, 500, 3, true, 255);
    writePicture("window.png", 1200, 220, 4, false, 192);
    const std::string music = std::string(kGameDir) + "/music.ogg";
    const std::string sox =
        "sox -n -r 44100 -c 2 " + music + " synth 4 sine 220 sine 330 vol 0.2 >/dev/null 2>&1";
    std::string musicName = "music.ogg";
    if (std::system(sox.c_str()) != 0) {
        musicName = "music.wav";
        writeSilentishWav(std::string(kGameDir) + "/music.wav");
    }
    std::ostringstream s;
    s << "\xEF\xBB\xBF// The whole-process benchmark's scene.\n"
      << "SystemTextSpeed(Speed=20)\n"
      << "Sound(Layer=0, File=\"" << musicName << "\", Loop=2, Stream=1, Play=1)\n"
      << "Graphic(Layer=0, File=\"bg1.png\", StencilAction=1)\n"
      << "Graphic(Layer=10, File=\"sprite.png\", x=-300, y=-60)\n"
      << "Graphic(Layer=100, File=\"window.png\", y=-240)\n"
      << "GraphicTextOut(Layer=100, Text=\"" << kPages[0] << "\")\n"
      << "Wait(Time=1500)\n"
      << "PageFeed(Layer=100)\n"
      << "GraphicTextOut(Layer=100, Text=\"" << kPages[1] << "\")\n"
      << "Wait(Time=1500)\n"
      // The crossfade: the new background and the next page under the old picture.
      << "PageFeed(Layer=100)\n"
      << "GraphicAlter(Layer=0, File=\"bg2.png\")\n"
      << "GraphicTextOut(Layer=100, Text=\"" << kPages[2] << "\")\n"
      << "Transition(Time=1000)\n"
      << "Wait(Time=1500)\n"
      // The sprite moves once the page's text has appeared.
      << "PageFeed(Layer=100)\n"
      << "GraphicTextOut(Layer=100, Text=\"" << kPages[3] << "\")\n"
      << "Wait(Time=1800)\n"
      << "GraphicSlot(Layer=10, No=1, Time=" << kSpriteMoveMs << ", Position=600:0:0)\n"
      << "Wait(Time=2500)\n"
      // The still page: nothing moves once the text is there; the music plays on.
      << "PageFeed(Layer=100)\n"
      << "GraphicTextOut(Layer=100, Text=\"" << kPages[4] << "\")\n"
      << "Wait(Time=" << kStillPageMs << ")\n"
      << "PageFeed(Layer=100)\n"
      << "GraphicTextOut(Layer=100, Text=\"" << kPages[5] << "\")\n"
      << "Wait(Time=1500)\n";
    std::ofstream(std::string(kGameDir) + "/Start.vxs", std::ios::binary) << s.str();
    return kGameDir;
}

// ---- watching a process ----------------------------------------------------------------------

struct ThreadCount {
    std::string name;
    uint64_t switches = 0;
};

struct Sample {
    int64_t us = 0;
    uint64_t switches = 0;  // voluntary + involuntary, all threads
    uint64_t cpuTicks = 0;  // utime + stime of the process
    std::map<int, ThreadCount> threads;
};

struct MemorySnapshot {
    int64_t us = 0;
    double rssKb = 0;
    double anonKb = 0;        // anonymous: heap, mmap'd buffers, thread stacks
    double driverFileKb = 0;  // file-backed pages of the GL driver and its libraries
    double otherFileKb = 0;   // file-backed pages of everything else (our binary, libc, fonts)
    double stackKb = 0;       // the main thread's stack and the thread stacks that smaps names
};

std::string readFile(const std::string& path) {
    std::ifstream f(path);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

uint64_t fieldAfter(const std::string& text, const std::string& key) {
    const auto at = text.find(key);
    if (at == std::string::npos) return 0;
    return std::strtoull(text.c_str() + at + key.size(), nullptr, 10);
}

Sample sampleProcess(pid_t pid) {
    Sample s;
    s.us = monotonicUs();
    const std::string base = "/proc/" + std::to_string(pid);
    const std::string stat = readFile(base + "/stat");
    // Fields after the command's closing parenthesis: utime is the 14th field, stime the 15th.
    const auto close = stat.rfind(')');
    if (close != std::string::npos) {
        std::istringstream in(stat.substr(close + 2));
        std::string field;
        for (int i = 3; i <= 15 && in >> field; ++i) {
            if (i == 14 || i == 15) s.cpuTicks += std::strtoull(field.c_str(), nullptr, 10);
        }
    }
    if (DIR* dir = opendir((base + "/task").c_str())) {
        while (dirent* e = readdir(dir)) {
            if (e->d_name[0] == '.') continue;
            const std::string status = readFile(base + "/task/" + e->d_name + "/status");
            ThreadCount t;
            t.switches = fieldAfter(status, "voluntary_ctxt_switches:") +
                         fieldAfter(status, "nonvoluntary_ctxt_switches:");
            t.name = readFile(base + "/task/" + e->d_name + "/comm");
            if (!t.name.empty() && t.name.back() == '\n') t.name.pop_back();
            s.switches += t.switches;
            s.threads[std::atoi(e->d_name)] = t;
        }
        closedir(dir);
    }
    return s;
}

bool driverLibrary(const std::string& path) {
    for (const char* part : {"dri", "gallium", "LLVM", "libGL", "libEGL", "libgbm", "libdrm",
                             "libglapi", "libvulkan", "libz3", "libxml2", "libicu", "libedit",
                             "libsensors", "libelf", "libffi", "libtinfo", "libstdc++"}) {
        if (path.find(part) != std::string::npos) return true;
    }
    return false;
}

MemorySnapshot sampleMemory(pid_t pid) {
    MemorySnapshot m;
    m.us = monotonicUs();
    std::ifstream f("/proc/" + std::to_string(pid) + "/smaps");
    std::string line;
    std::string path;
    bool anonymous = false;
    bool stack = false;
    while (std::getline(f, line)) {
        if (!line.empty() && std::isxdigit(static_cast<unsigned char>(line[0])) &&
            line.find('-') < 17) {
            // A mapping's header: "start-end perms offset dev inode   path".
            std::istringstream in(line);
            std::string range, perms, offset, dev, inode;
            in >> range >> perms >> offset >> dev >> inode;
            std::getline(in, path);
            path.erase(0, path.find_first_not_of(' '));
            anonymous = inode == "0";
            stack = path.rfind("[stack", 0) == 0;
            continue;
        }
        if (line.rfind("Rss:", 0) == 0) {
            const double kb = std::strtod(line.c_str() + 4, nullptr);
            m.rssKb += kb;
            if (stack) {
                m.stackKb += kb;
                m.anonKb += kb;
            } else if (anonymous) {
                m.anonKb += kb;
            } else if (driverLibrary(path)) {
                m.driverFileKb += kb;
            } else {
                m.otherFileKb += kb;
            }
        }
    }
    return m;
}

struct ProcessRun {
    int64_t forkUs = 0;
    int64_t exitUs = 0;
    int status = 0;
    rusage usage{};
    std::vector<Sample> samples;
    std::vector<MemorySnapshot> memory;
    std::vector<std::pair<int64_t, std::string>> trace;  // (us, "event detail")
};

ProcessRun runProcess(const std::vector<std::string>& args, const std::string& traceFile) {
    ProcessRun run;
    std::remove(traceFile.c_str());
    run.forkUs = monotonicUs();
    const pid_t pid = fork();
    if (pid == 0) {
        const int devnull = open("/dev/null", O_WRONLY);
        if (devnull >= 0) {
            dup2(devnull, 1);
            dup2(devnull, 2);
        }
        std::vector<char*> argv;
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    // Every 100 ms the thread counters, every second the memory map; until the process ends.
    int64_t nextMemory = run.forkUs + 500000;
    while (true) {
        const pid_t done = wait4(pid, &run.status, WNOHANG, &run.usage);
        if (done == pid) break;
        run.samples.push_back(sampleProcess(pid));
        if (monotonicUs() >= nextMemory) {
            run.memory.push_back(sampleMemory(pid));
            nextMemory += 1000000;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    run.exitUs = monotonicUs();
    std::ifstream in(traceFile);
    std::string line;
    while (std::getline(in, line)) {
        const auto space = line.find(' ');
        if (space == std::string::npos) continue;
        run.trace.emplace_back(std::strtoll(line.c_str(), nullptr, 10), line.substr(space + 1));
    }
    return run;
}

// ---- reading a run -------------------------------------------------------------------------

bool eventIs(const std::string& entry, const std::string& event) {
    return entry == event || entry.rfind(event + " ", 0) == 0;
}

int64_t firstMark(const ProcessRun& run, const std::string& event, int64_t after = 0) {
    for (const auto& [us, entry] : run.trace) {
        if (us >= after && eventIs(entry, event)) return us;
    }
    return -1;
}

std::vector<int64_t> marks(const ProcessRun& run, const std::string& event) {
    std::vector<int64_t> out;
    for (const auto& [us, entry] : run.trace) {
        if (eventIs(entry, event)) out.push_back(us);
    }
    return out;
}

struct Presents {
    int frames = 0;
    double maxGapMs = 0;
};

// Frames presented in [from, to] and the largest gap between consecutive presents, counting
// the gaps from `from` to the first one and from the last one to `to`.
Presents presentsBetween(const ProcessRun& run, int64_t from, int64_t to) {
    Presents p;
    int64_t last = from;
    for (int64_t us : marks(run, "present")) {
        if (us < from || us > to) continue;
        ++p.frames;
        p.maxGapMs = std::max(p.maxGapMs, (us - last) / 1000.0);
        last = us;
    }
    p.maxGapMs = std::max(p.maxGapMs, (to - last) / 1000.0);
    return p;
}

const Sample* sampleAt(const ProcessRun& run, int64_t us) {
    const Sample* best = nullptr;
    for (const Sample& s : run.samples) {
        if (!best || std::llabs(s.us - us) < std::llabs(best->us - us)) best = &s;
    }
    return best;
}

struct Figures {
    std::map<std::string, double> values;
    std::string threads;  // wake-ups by thread at the still page
};

double ms(int64_t from, int64_t to) {
    return from < 0 || to < 0 ? -1 : (to - from) / 1000.0;
}

void stillPageFigures(const ProcessRun& run, int64_t from, int64_t to, Figures& f) {
    const Sample* a = sampleAt(run, from);
    const Sample* b = sampleAt(run, to);
    if (!a || !b || b->us <= a->us) return;
    const double seconds = (b->us - a->us) / 1e6;
    f.values["wakeups_per_s"] = (b->switches - a->switches) / seconds;
    const long ticks = sysconf(_SC_CLK_TCK);
    f.values["still_cpu_percent"] = 100.0 * (b->cpuTicks - a->cpuTicks) / ticks / seconds;
    std::vector<std::pair<double, std::string>> byThread;
    for (const auto& [tid, t] : b->threads) {
        auto it = a->threads.find(tid);
        const uint64_t before = it == a->threads.end() ? 0 : it->second.switches;
        byThread.emplace_back((t.switches - before) / seconds, t.name);
    }
    std::sort(byThread.rbegin(), byThread.rend());
    std::ostringstream out;
    for (const auto& [rate, name] : byThread) {
        if (rate < 0.5) continue;
        char buf[64];
        std::snprintf(buf, sizeof buf, "%s %.1f/s  ", name.c_str(), rate);
        out << buf;
    }
    f.threads = out.str();
    const MemorySnapshot* m = nullptr;
    for (const MemorySnapshot& s : run.memory) {
        if (s.us >= from && s.us <= to) m = &s;
    }
    if (m) {
        f.values["still_rss_mb"] = m->rssKb / 1024;
        f.values["still_anon_mb"] = m->anonKb / 1024;
        f.values["still_driver_files_mb"] = m->driverFileKb / 1024;
        f.values["still_other_files_mb"] = m->otherFileKb / 1024;
    }
}

Figures gameFigures(const ProcessRun& run) {
    Figures f;
    const int64_t t0 = run.forkUs;
    f.values["peak_rss_mb"] = run.usage.ru_maxrss / 1024.0;
    f.values["run_cpu_s"] = run.usage.ru_utime.tv_sec + run.usage.ru_utime.tv_usec / 1e6 +
                            run.usage.ru_stime.tv_sec + run.usage.ru_stime.tv_usec / 1e6;
    f.values["t_main_ms"] = ms(t0, firstMark(run, "main"));
    f.values["t_window_ms"] = ms(t0, firstMark(run, "window"));
    f.values["t_gl_ms"] = ms(t0, firstMark(run, "gl"));
    f.values["t_empty_frame_ms"] = ms(t0, firstMark(run, "present"));
    const int64_t scenario = firstMark(run, "scenario");
    f.values["t_scenario_ms"] = ms(t0, scenario);
    const int64_t firstCommands = firstMark(run, "commands", scenario);
    f.values["t_first_commands_ms"] = ms(t0, firstCommands);
    f.values["t_first_decoded_ms"] = ms(t0, firstMark(run, "decoded"));
    f.values["t_first_uploaded_ms"] = ms(t0, firstMark(run, "uploaded"));
    // The first frame presented after the scene's commands ran shows the scene.
    f.values["first_frame_ms"] = ms(t0, firstMark(run, "present", firstCommands));

    const int64_t fadeStart = firstMark(run, "transition");
    const int64_t fadeEnd = firstMark(run, "transition-end", fadeStart);
    if (fadeStart >= 0 && fadeEnd >= 0) {
        const Presents p = presentsBetween(run, fadeStart, fadeEnd);
        f.values["fade_ms"] = ms(fadeStart, fadeEnd);
        f.values["fade_frames"] = p.frames;
        f.values["fade_max_gap_ms"] = p.maxGapMs;
    }
    // Command batches after the fade: the sprite page's text, the sprite's slot, the still
    // page's text.
    std::vector<int64_t> batches;
    for (int64_t us : marks(run, "commands")) {
        if (us > fadeEnd && (batches.empty() || us - batches.back() > 500000))
            batches.push_back(us);
    }
    if (batches.size() >= 3) {
        const int64_t move = batches[1];
        const int64_t from = move + 100000, to = move + (kSpriteMoveMs - 100) * 1000;
        const Presents p = presentsBetween(run, from, to);
        f.values["sprite_fps"] = p.frames / ((to - from) / 1e6);
        f.values["sprite_max_gap_ms"] = p.maxGapMs;
        const int64_t still = batches[2];
        stillPageFigures(run, still + 2500000, still + (kStillPageMs - 200) * 1000, f);
    }
    return f;
}

Figures floorFigures(const ProcessRun& run) {
    Figures f;
    f.values["peak_rss_mb"] = run.usage.ru_maxrss / 1024.0;
    f.values["run_cpu_s"] = run.usage.ru_utime.tv_sec + run.usage.ru_utime.tv_usec / 1e6 +
                            run.usage.ru_stime.tv_sec + run.usage.ru_stime.tv_usec / 1e6;
    f.values["t_window_ms"] = ms(run.forkUs, firstMark(run, "window"));
    f.values["t_gl_ms"] = ms(run.forkUs, firstMark(run, "gl"));
    f.values["t_empty_frame_ms"] = ms(run.forkUs, firstMark(run, "present"));
    const int64_t idle = firstMark(run, "idle");
    if (idle >= 0) stillPageFigures(run, idle + 500000, idle + 2500000, f);
    return f;
}

int runsWanted() {
    const char* env = std::getenv("VAXO2_BENCH_RUNS");
    const int n = env ? std::atoi(env) : 3;
    return std::max(1, n);
}

void report(benchmark::State& state, const std::vector<Figures>& runs, const char* title) {
    std::map<std::string, std::vector<double>> all;
    for (const Figures& f : runs) {
        for (const auto& [k, v] : f.values)
            all[k].push_back(v);
    }
    std::printf("\n%s (median of %zu runs)\n", title, runs.size());
    for (auto& [k, v] : all) {
        std::sort(v.begin(), v.end());
        const double median = v[v.size() / 2];
        state.counters[k] = median;
        std::printf("  %-24s %10.1f   (", k.c_str(), median);
        for (double x : v)
            std::printf(" %.1f", x);
        std::printf(" )\n");
    }
    for (const Figures& f : runs) {
        if (!f.threads.empty()) std::printf("  wake-ups by thread: %s\n", f.threads.c_str());
    }
    std::fflush(stdout);
}

std::string selfPath;

void BM_WholeProcessGame(benchmark::State& state) {
    const std::string game = makeGame();
    const std::string trace = std::string(kGameDir) + ".trace";
    std::vector<Figures> runs;
    for (auto _ : state) {
        for (int i = 0; i < runsWanted(); ++i) {
            const char* other = std::getenv("VAXO2_BENCH_RUNTIME");
            const std::string runtime = other && *other ? other : VAXO2_RUNTIME;
            const ProcessRun run =
                runProcess({runtime, "--headless", "--game", game, "--trace", trace}, trace);
            runs.push_back(gameFigures(run));
        }
    }
    report(state, runs, "vaxo2 on the benchmark game, headless");
}
BENCHMARK(BM_WholeProcessGame)->Unit(benchmark::kMillisecond)->Iterations(1);

// arg 0: the empty window; arg 1: the same after drawing one blended, stencilled picture, which
// makes the driver compile its drawing code as any program that shows pictures must.
void BM_WholeProcessFloor(benchmark::State& state) {
    const std::string trace = "/tmp/vaxo2_bench_floor.trace";
    const bool draw = state.range(0) != 0;
    std::vector<Figures> runs;
    for (auto _ : state) {
        for (int i = 0; i < runsWanted(); ++i) {
            const ProcessRun run =
                runProcess({selfPath, draw ? "--floor-draw" : "--floor", trace}, trace);
            runs.push_back(floorFigures(run));
        }
    }
    report(state, runs,
           draw ? "floor: an SDL window with a GL context that drew one picture, headless"
                : "floor: an empty SDL window with a GL context, headless");
}
BENCHMARK(BM_WholeProcessFloor)
    ->ArgName("drawn")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

// The floor process: a window, a GL context with the runtime's GPU layer, one cleared frame
// presented (and with `draw` a 512x512 picture drawn over it as the runtime draws a
// background), then three seconds of sleep.
int floorMain(const std::string& trace, bool draw) {
    using namespace vaxo2;
    core::Trace::start(trace);
    core::Trace::mark("main");
    platform::WindowOptions options;
    options.headless = true;
    options.title = "floor";
    std::string error;
    std::unique_ptr<platform::Window> window = platform::createWindow(options, error);
    if (!window) return 1;
    core::Trace::mark("window");
    std::unique_ptr<platform::GlContext> context = window->createGlContext(error);
    if (!context) return 1;
    std::unique_ptr<platform::Gpu> gpu = platform::createGlGpu(error);
    if (!gpu) return 1;
    core::Trace::mark("gl");
    int w = 0, h = 0;
    context->drawableSize(w, h);
    gpu->setDefaultTargetSize(w, h);
    gpu->clear(true, 0, 0, 0, 1, true, 1.0f, true, 0);
    gpu->flush();
    context->swapBuffers();
    gpu->finish();
    core::Trace::mark("present");
    if (draw) {
        std::vector<uint8_t> bgra(512 * 512 * 4, 0x80);
        const platform::GpuTexture texture = gpu->createTexture(512, 512, bgra.data());
        platform::GpuVertex quad[4];
        const float corners[4][2] = {{-1, 1}, {1, 1}, {-1, -1}, {1, -1}};
        for (int i = 0; i < 4; ++i) {
            quad[i].x = corners[i][0];
            quad[i].y = corners[i][1];
            quad[i].u = corners[i][0] > 0 ? 1.0f : 0.0f;
            quad[i].v = corners[i][1] > 0 ? 0.0f : 1.0f;
        }
        platform::StencilState stencil;
        stencil.func = platform::StencilFunc::Always;
        stencil.reference = 255;
        stencil.passOp = platform::StencilOp::Replace;
        gpu->setStencilState(stencil);
        gpu->setBlendMode(platform::BlendMode::Alpha);
        gpu->drawQuad(texture, quad, platform::ShadeMode::TextureAlphaModulate);
        gpu->flush();
        context->swapBuffers();
        gpu->finish();
        core::Trace::mark("drawn");
    }
    core::Trace::mark("idle");
    std::this_thread::sleep_for(std::chrono::seconds(3));
    gpu.reset();
    context.reset();
    window.reset();
    core::Trace::finish();
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--floor") == 0) return floorMain(argv[2], false);
    if (argc == 3 && std::strcmp(argv[1], "--floor-draw") == 0) return floorMain(argv[2], true);
    char self[4096] = {};
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    selfPath = n > 0 ? std::string(self, static_cast<size_t>(n)) : std::string(argv[0]);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
