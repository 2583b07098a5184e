// Test sounds for the whole-runtime sound tests, and measurements of what --audio-out captured.
//   audio_tool make DIR                 writes the test sounds into DIR
//   audio_tool check FILE.wav CHECK...  measures the left channel of a 44100 Hz stereo capture:
//     rms FROM TO LEVEL TOL     RMS over [FROM, TO) ms is LEVEL (of full scale) within TOL
//                               (a fraction of LEVEL)
//     between FROM TO LOW HIGH  RMS lies in [LOW, HIGH]
//     silent FROM TO            every sample is 0
//     freq FROM TO HZ TOL       the tone's frequency (from zero crossings) is HZ within TOL Hz
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

constexpr double kPi = 3.14159265358979323846;

void put(std::vector<uint8_t>& out, uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

bool writeTone(const std::string& path, int channels, int rate, double seconds, double hz,
               double amplitude) {
    std::vector<uint8_t> pcm;
    const int frames = static_cast<int>(seconds * rate);
    for (int i = 0; i < frames; ++i) {
        const double v = amplitude * std::sin(2 * kPi * hz * i / rate);
        const auto s = static_cast<int16_t>(std::lround(v * 32767));
        for (int c = 0; c < channels; ++c)
            put(pcm, static_cast<uint16_t>(s), 2);
    }
    std::vector<uint8_t> file{'R', 'I', 'F', 'F'};
    put(file, static_cast<uint32_t>(36 + pcm.size()), 4);
    for (char c : std::string("WAVEfmt "))
        file.push_back(static_cast<uint8_t>(c));
    put(file, 16, 4);
    put(file, 1, 2);
    put(file, static_cast<uint32_t>(channels), 2);
    put(file, static_cast<uint32_t>(rate), 4);
    put(file, static_cast<uint32_t>(rate * channels * 2), 4);
    put(file, static_cast<uint32_t>(channels * 2), 2);
    put(file, 16, 2);
    for (char c : std::string("data"))
        file.push_back(static_cast<uint8_t>(c));
    put(file, static_cast<uint32_t>(pcm.size()), 4);
    file.insert(file.end(), pcm.begin(), pcm.end());
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(file.data()),
              static_cast<std::streamsize>(file.size()));
    return static_cast<bool>(out);
}

int make(const std::string& dir) {
    // Whole numbers of cycles, so loops join without a click.
    const bool ok = writeTone(dir + "/tone.wav", 2, 44100, 1.0, 1000, 0.5) &&
                    writeTone(dir + "/short.wav", 2, 44100, 0.3, 500, 0.5) &&
                    writeTone(dir + "/intro.wav", 2, 44100, 0.5, 300, 0.25) &&
                    writeTone(dir + "/loop.wav", 2, 44100, 0.4, 600, 0.5) &&
                    writeTone(dir + "/voice.wav", 1, 22050, 2.0, 440, 0.5);
    if (!ok) std::fprintf(stderr, "cannot write the test sounds into %s\n", dir.c_str());
    return ok ? 0 : 1;
}

int check(const std::string& path, int argc, char** argv) {
    std::ifstream in(path, std::ios::binary);
    const std::vector<uint8_t> file((std::istreambuf_iterator<char>(in)), {});
    if (file.size() < 44 || std::string(file.begin(), file.begin() + 4) != "RIFF") {
        std::printf("%s: not a WAV file\n", path.c_str());
        return 1;
    }
    // The header's sizes are written when the runtime closes the file: they must match it.
    auto le32 = [&](size_t at) {
        return static_cast<uint32_t>(file[at] | (file[at + 1] << 8) | (file[at + 2] << 16) |
                                     (static_cast<uint32_t>(file[at + 3]) << 24));
    };
    if (le32(4) != file.size() - 8 || le32(40) != file.size() - 44 || le32(24) != 44100 ||
        file[22] != 2 || file[34] != 16) {
        std::printf("%s: header does not describe 44100 Hz stereo 16-bit data of its size\n",
                    path.c_str());
        return 1;
    }
    std::vector<double> left;
    for (size_t i = 44; i + 3 < file.size(); i += 4)
        left.push_back(static_cast<int16_t>(file[i] | (file[i + 1] << 8)) / 32768.0);
    std::printf("%s: %.3f s captured\n", path.c_str(), left.size() / 44100.0);
    auto index = [&](const char* ms) {
        return std::min(left.size(), static_cast<size_t>(std::atof(ms) * 44.1));
    };
    auto rms = [&](size_t a, size_t b) {
        double sum = 0;
        for (size_t i = a; i < b; ++i)
            sum += left[i] * left[i];
        return b > a ? std::sqrt(sum / static_cast<double>(b - a)) : 0.0;
    };
    int failures = 0;
    for (int i = 0; i < argc;) {
        const std::string what = argv[i];
        auto need = [&](int n) {
            if (i + n >= argc) {
                std::printf("check '%s' needs %d values\n", what.c_str(), n);
                std::exit(2);
            }
        };
        bool ok = false;
        if (what == "rms") {
            need(4);
            const size_t a = index(argv[i + 1]), b = index(argv[i + 2]);
            const double want = std::atof(argv[i + 3]), tol = std::atof(argv[i + 4]);
            const double got = rms(a, b);
            ok = b > a && std::fabs(got - want) <= want * tol;
            std::printf("rms %s..%s ms: %.5f (want %.5f +-%.1f%%)", argv[i + 1], argv[i + 2], got,
                        want, tol * 100);
            i += 5;
        } else if (what == "between") {
            need(4);
            const double got = rms(index(argv[i + 1]), index(argv[i + 2]));
            ok = got >= std::atof(argv[i + 3]) && got <= std::atof(argv[i + 4]);
            std::printf("rms %s..%s ms: %.5f (want %s..%s)", argv[i + 1], argv[i + 2], got,
                        argv[i + 3], argv[i + 4]);
            i += 5;
        } else if (what == "silent") {
            need(2);
            const size_t a = index(argv[i + 1]), b = index(argv[i + 2]);
            ok = b > a;
            for (size_t k = a; k < b; ++k)
                ok = ok && left[k] == 0.0;
            std::printf("silent %s..%s ms (peak rms %.5f)", argv[i + 1], argv[i + 2], rms(a, b));
            i += 3;
        } else if (what == "freq") {
            need(4);
            const size_t a = index(argv[i + 1]), b = index(argv[i + 2]);
            size_t first = 0, last = 0, n = 0;
            for (size_t k = a + 1; k < b; ++k) {
                if (left[k - 1] < 0 && left[k] >= 0) {
                    if (n++ == 0) first = k;
                    last = k;
                }
            }
            const double hz = n > 1 ? (n - 1) * 44100.0 / static_cast<double>(last - first) : 0.0;
            ok = std::fabs(hz - std::atof(argv[i + 3])) <= std::atof(argv[i + 4]);
            std::printf("freq %s..%s ms: %.2f Hz (want %s +-%s)", argv[i + 1], argv[i + 2], hz,
                        argv[i + 3], argv[i + 4]);
            i += 5;
        } else {
            std::printf("unknown check '%s'\n", what.c_str());
            return 2;
        }
        std::printf("%s\n", ok ? "" : "  FAILED");
        failures += ok ? 0 : 1;
    }
    return failures ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 3 && std::string(argv[1]) == "make") return make(argv[2]);
    if (argc >= 3 && std::string(argv[1]) == "check") return check(argv[2], argc - 3, argv + 3);
    std::fprintf(stderr, "usage: audio_tool make DIR | check FILE.wav CHECK...\n");
    return 2;
}
