// Sound costs: the CPU of sixteen streaming Ogg layers at once (decoding in the ticker's refills
// plus mixing for the device), and the delay from executing a play command to its first sample
// in the device stream.
#include <benchmark/benchmark.h>
#include <time.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>
#include <vector>

#include "io/resource_loader.h"
#include "platform/audio_device.h"
#include "sound/sound_manager.h"

namespace {

using namespace vaxo2;
namespace fs = std::filesystem;

double threadCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// A game folder with the three-second music file of the tests.
struct GameFolder {
    GameFolder() {
        path = fs::temp_directory_path() / ("vaxo2-bench-sound-" + std::to_string(::getpid()));
        fs::create_directories(path);
        const fs::path source = fs::path(VAXO2_SOURCE_DIR) / "tests/sound/data";
        fs::copy_file(source / "music44100.ogg", path / "music.ogg",
                      fs::copy_options::overwrite_existing);
        fs::copy_file(source / "mono22050.ogg", path / "voice.ogg",
                      fs::copy_options::overwrite_existing);
        io::ResourceLoader::instance().setGameFolder(path.string());
    }
    ~GameFolder() {
        std::error_code ec;
        fs::remove_all(path, ec);
    }
    fs::path path;
};

void startLayer(sound::SoundManager& sounds, int64_t layer, const char* file, bool stream) {
    queue::classQue_SoundCreate create;
    create.layer = layer;
    sounds.run(create);
    queue::classQue_SoundAlter alter;
    alter.layer = layer;
    alter.file = file;
    alter.loop.set(2);
    alter.stream.set(stream ? 1 : 0);
    alter.volume.set(0.2f);
    sounds.run(alter);
    queue::classQue_SoundPlay play;
    play.layer = layer;
    sounds.run(play);
}

// One iteration is one second of sound: ten ticker updates (refills) and 44100 device frames
// mixed in 512-frame periods. The counters give each part as a share of one core. Argument 0:
// 44.1 kHz stereo music (mixed as it is); 1: 22.05 kHz mono (resampled on the way).
void BM_SixteenStreamingOggLayers(benchmark::State& state) {
    GameFolder folder;
    sound::Mixer mixer;
    sound::SoundManager sounds(mixer);
    const char* file = state.range(0) == 0 ? "music.ogg" : "voice.ogg";
    for (int64_t layer = 0; layer < 16; ++layer)
        startLayer(sounds, layer, file, true);
    std::vector<int16_t> period(512 * 2);
    double mixSeconds = 0, refillSeconds = 0;
    int64_t seconds = 0;
    for (auto _ : state) {
        for (int tick = 0; tick < 10; ++tick) {
            const double t0 = threadCpuSeconds();
            for (int frames = 0; frames < 4410; frames += 512)
                mixer.render(period.data(), static_cast<uint32_t>(std::min(512, 4410 - frames)));
            const double t1 = threadCpuSeconds();
            sounds.update(100);
            refillSeconds += threadCpuSeconds() - t1;
            mixSeconds += t1 - t0;
        }
        benchmark::DoNotOptimize(period.data());
        ++seconds;
    }
    state.counters["mix_%core"] = mixSeconds / static_cast<double>(seconds) * 100.0;
    state.counters["decode_%core"] = refillSeconds / static_cast<double>(seconds) * 100.0;
    state.counters["total_%core"] =
        (mixSeconds + refillSeconds) / static_cast<double>(seconds) * 100.0;
}
BENCHMARK(BM_SixteenStreamingOggLayers)
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(10);

// Notes the moment the first sound leaves the mixer for the device.
class FirstSampleProbe final : public platform::AudioSource {
  public:
    explicit FirstSampleProbe(sound::Mixer& mixer) : mixer_(mixer) {}
    void renderAudio(int16_t* out, uint32_t frames) noexcept override {
        mixer_.render(out, frames);
        if (!armed_.load()) return;
        for (uint32_t i = 0; i < frames * 2; ++i) {
            if (out[i] != 0) {
                heard_ = std::chrono::steady_clock::now();
                armed_ = false;
                return;
            }
        }
    }
    std::atomic<bool> armed_{false};
    std::chrono::steady_clock::time_point heard_;

  private:
    sound::Mixer& mixer_;
};

// From executing a play command (as the render thread does) to the callback that hands its first
// sample to the device. Without a sound card the SDL dummy driver paces the callback in real time.
void BM_PlayCommandToFirstSample(benchmark::State& state) {
    setenv("SDL_AUDIODRIVER", "dummy", 0);
    GameFolder folder;
    sound::Mixer mixer;
    sound::SoundManager sounds(mixer);
    FirstSampleProbe probe(mixer);
    std::string error;
    std::unique_ptr<platform::AudioDevice> device = platform::openSdlAudioDevice(probe, error);
    if (!device) {
        state.SkipWithError(("no audio device: " + error).c_str());
        return;
    }
    double worst = 0;
    for (auto _ : state) {
        queue::classQue_SoundDelete remove;
        remove.layer = 1;
        sounds.run(remove);
        // Start at a random point of the device period, as a script would.
        std::this_thread::sleep_for(std::chrono::microseconds(std::rand() % 12000));
        probe.armed_ = true;
        const auto t0 = std::chrono::steady_clock::now();
        startLayer(sounds, 1, "music.ogg", true);
        while (probe.armed_.load())
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        const double delay = std::chrono::duration<double>(probe.heard_ - t0).count();
        worst = std::max(worst, delay);
        state.SetIterationTime(delay);
    }
    state.counters["worst_ms"] = worst * 1000.0;
    state.counters["device_buffer_ms"] = device->bufferedFrames() * 1000.0 / platform::kAudioRate;
    state.SetLabel(device->description());
}
BENCHMARK(BM_PlayCommandToFirstSample)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(40);

}  // namespace

BENCHMARK_MAIN();
