// Movie costs for a 1280x720, 30 pictures a second MPEG-1 clip (made once with the ffmpeg
// command line): decoding plus conversion to BGRA per picture, the texture upload per picture on
// the offscreen GL context, and the whole playback (the player's decoding thread, the choice of
// the due picture and one upload per new picture, 60 frames a second on the real clock) as
// percent of one core. The goal for the whole is at most 25 %.
#include <benchmark/benchmark.h>

#include <time.h>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench_support.h"
#include "graphics/movie_player.h"
#include "platform/clock.h"
#include "platform/gpu.h"
#include "platform/movie_decoder.h"
#include "platform/window.h"

namespace {

using namespace vaxo2;
using namespace vaxo2::platform;

// Eight seconds of moving test pictures at a bit rate a game of the time would use.
const std::shared_ptr<const std::vector<uint8_t>>& clip() {
    static const std::shared_ptr<const std::vector<uint8_t>> bytes = [] {
        const std::string path = "/tmp/vaxo2_bench_720p30.mpg";
        std::ifstream probe(path, std::ios::binary);
        if (!probe) {
            const std::string command =
                "ffmpeg -hide_banner -loglevel error -nostdin -y -f lavfi -i "
                "testsrc2=s=1280x720:r=30:d=8 -c:v mpeg1video -b:v 6M -maxrate 6M -bufsize 2M "
                "-g 15 -bf 2 -f mpeg " +
                path;
            if (std::system(command.c_str()) != 0) {
                std::fprintf(stderr, "cannot make the clip with ffmpeg\n");
                std::exit(1);
            }
        }
        std::ifstream in(path, std::ios::binary);
        return std::make_shared<const std::vector<uint8_t>>(std::istreambuf_iterator<char>(in),
                                                            std::istreambuf_iterator<char>());
    }();
    return bytes;
}

using vaxo2::bench::gpuOrSkip;

double cpuSeconds(clockid_t which) {
    timespec ts{};
    clock_gettime(which, &ts);
    return ts.tv_sec + ts.tv_nsec * 1e-9;
}
double processCpuSeconds() {
    return cpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
}
double threadCpuSeconds() {
    return cpuSeconds(CLOCK_THREAD_CPUTIME_ID);
}

void BM_MovieDecodeConvert720p(benchmark::State& state) {
    std::string error;
    auto decoder = MovieDecoder::open(clip(), error);
    if (!decoder) {
        state.SkipWithError(error.c_str());
        return;
    }
    std::vector<uint8_t> picture;
    std::vector<int16_t> samples;
    const double cpu0 = threadCpuSeconds();
    for (auto _ : state) {
        int64_t t = 0;
        MovieOutput out = decoder->decode(picture, samples, t);
        while (out != MovieOutput::Picture) {
            if (out == MovieOutput::End) decoder->seek(0);
            out = decoder->decode(picture, samples, t);
        }
        benchmark::DoNotOptimize(picture.data());
    }
    const double perPicture = (threadCpuSeconds() - cpu0) / state.iterations();
    state.counters["core_pct_at_30fps"] = perPicture * 30 * 100;
}
BENCHMARK(BM_MovieDecodeConvert720p)->Unit(benchmark::kMillisecond);

void BM_MovieUpload720p(benchmark::State& state) {
    Gpu* gpu = gpuOrSkip(state);
    if (gpu == nullptr) return;
    std::vector<uint8_t> picture(1280 * 720 * 4, 0x80);
    const GpuTexture texture = gpu->createTexture(1280, 720, picture.data());
    uint8_t shade = 0;
    const double cpu0 = threadCpuSeconds();
    for (auto _ : state) {
        picture[0] = ++shade;
        gpu->updateTexture(texture, 0, 0, 1280, 720, picture.data());
        gpu->finish();
    }
    const double perPicture = (threadCpuSeconds() - cpu0) / state.iterations();
    gpu->destroyTexture(texture);
    // The software rasterizer's own threads are not counted here; the playback below counts
    // the whole process.
    state.counters["core_pct_at_30fps"] = perPicture * 30 * 100;
}
BENCHMARK(BM_MovieUpload720p)->Unit(benchmark::kMillisecond)->UseRealTime();

// The whole playback for four seconds of real time: CPU time of the process (decoding thread and
// this one) over the wall time.
void BM_MoviePlayback720p30(benchmark::State& state) {
    Gpu* gpu = gpuOrSkip(state);
    if (gpu == nullptr) return;
    Clock& clock = Clock::instance();
    double cpu = 0, wall = 0;
    uint64_t shown = 0, dropped = 0;
    for (auto _ : state) {
        std::string error;
        auto decoder = MovieDecoder::open(clip(), error);
        if (!decoder) {
            state.SkipWithError(error.c_str());
            return;
        }
        graphics::MoviePlayer player(std::move(decoder), nullptr);
        const GpuTexture texture = gpu->createTexture(1280, 720, nullptr);
        clock.sleep(200);  // the first pictures are ready
        const double cpu0 = processCpuSeconds();
        const uint32_t start = clock.now();
        player.run(start);
        uint64_t uploaded = 0;
        while (clock.now() - start < 4000) {
            player.advance(clock.now());
            if (player.picture() && player.pictureSerial() != uploaded) {
                gpu->updateTexture(texture, 0, 0, 1280, 720, player.picture()->bgra.data());
                gpu->finish();
                uploaded = player.pictureSerial();
                ++shown;
            }
            clock.sleep(16);
        }
        cpu += processCpuSeconds() - cpu0;
        wall += (clock.now() - start) / 1000.0;
        dropped += player.picturesDropped();
        gpu->destroyTexture(texture);
    }
    state.counters["core_pct"] = 100.0 * cpu / wall;
    state.counters["pictures_shown_per_s"] = shown / wall;
    state.counters["pictures_dropped"] = static_cast<double>(dropped) / state.iterations();
}
BENCHMARK(BM_MoviePlayback720p30)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
