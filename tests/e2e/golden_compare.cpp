// Compares a screenshot with its golden picture channel by channel. Prints the differing pixels
// (the first few, with their values) and exits 1 when any channel differs by more than the
// tolerance; 2 when a file cannot be read.
//   golden_compare ACTUAL.png GOLDEN.png [TOLERANCE]
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/image_decoder.h"

namespace {

bool load(const char* path, vaxo2::platform::BgraImage& image) {
    std::ifstream f(path, std::ios::binary);
    if (!f) {
        std::fprintf(stderr, "cannot read %s\n", path);
        return false;
    }
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(f)), {});
    std::string error;
    if (!vaxo2::platform::decodeImage(bytes.data(), bytes.size(), image, error)) {
        std::fprintf(stderr, "%s: %s\n", path, error.c_str());
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: golden_compare ACTUAL.png GOLDEN.png [TOLERANCE]\n");
        return 2;
    }
    const int tolerance = argc > 3 ? std::atoi(argv[3]) : 3;
    vaxo2::platform::BgraImage actual, golden;
    if (!load(argv[1], actual) || !load(argv[2], golden)) return 2;
    if (actual.width != golden.width || actual.height != golden.height) {
        std::printf("%s: size %dx%d, golden %dx%d\n", argv[1], actual.width, actual.height,
                    golden.width, golden.height);
        return 1;
    }
    long differing = 0;
    int worst = 0;
    for (int y = 0; y < actual.height; ++y) {
        for (int x = 0; x < actual.width; ++x) {
            const size_t i = (static_cast<size_t>(y) * actual.width + x) * 4;
            int d = 0;
            for (int c = 0; c < 4; ++c) {
                d = std::max(d, std::abs(actual.pixels[i + c] - golden.pixels[i + c]));
            }
            if (d <= tolerance) continue;
            worst = std::max(worst, d);
            if (differing++ < 10) {
                std::printf("  (%d,%d) BGRA %d,%d,%d,%d, golden %d,%d,%d,%d\n", x, y,
                            actual.pixels[i], actual.pixels[i + 1], actual.pixels[i + 2],
                            actual.pixels[i + 3], golden.pixels[i], golden.pixels[i + 1],
                            golden.pixels[i + 2], golden.pixels[i + 3]);
            }
        }
    }
    if (differing) {
        std::printf("%s: %ld pixels differ from %s by more than %d (worst %d)\n", argv[1],
                    differing, argv[2], tolerance, worst);
        return 1;
    }
    std::printf("%s matches %s\n", argv[1], argv[2]);
    return 0;
}
