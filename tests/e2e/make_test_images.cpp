// Writes the plain pictures the end-to-end test games use, so the tests do not depend on an
// image program's version: solid or half-transparent squares, a striped background.
//   make_test_images OUT_DIR
#include <cstdio>
#include <string>
#include <vector>

#include "platform/screenshot.h"

namespace {

struct Rgba {
    uint8_t r, g, b, a;
};

bool write(const std::string& path, int w, int h, Rgba (*paint)(int x, int y, int w, int h)) {
    std::vector<uint8_t> px(static_cast<size_t>(w) * h * 4);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const Rgba c = paint(x, y, w, h);
            uint8_t* p = &px[(static_cast<size_t>(y) * w + x) * 4];
            p[0] = c.r;
            p[1] = c.g;
            p[2] = c.b;
            p[3] = c.a;
        }
    }
    std::string error;
    if (!vaxo2::platform::writePng(path, px.data(), w, h, error)) {
        std::fprintf(stderr, "%s: %s\n", path.c_str(), error.c_str());
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    const std::string dir = argv[1];
    bool ok = true;
    // A background in four vertical bands, so position and letterboxing show.
    ok &= write(dir + "/bands.png", 1280, 720, [](int x, int, int, int) {
        static const Rgba bands[4] = {
            {40, 40, 120, 255}, {40, 120, 40, 255}, {120, 40, 40, 255}, {120, 120, 40, 255}};
        return bands[x / 320];
    });
    ok &= write(dir + "/red300.png", 300, 300, [](int, int, int, int) {
        return Rgba{255, 0, 0, 255};
    });
    ok &= write(dir + "/green200.png", 200, 200, [](int, int, int, int) {
        return Rgba{0, 255, 0, 255};
    });
    ok &= write(dir + "/blue200.png", 200, 200, [](int, int, int, int) {
        return Rgba{0, 0, 255, 255};
    });
    ok &= write(dir + "/white100.png", 100, 100, [](int, int, int, int) {
        return Rgba{255, 255, 255, 255};
    });
    // A small marker for counting steps.
    ok &= write(dir + "/dot50.png", 50, 50, [](int, int, int, int) {
        return Rgba{255, 220, 0, 255};
    });
    // A bar whose left half is white and right half black, to show a roll's direction.
    ok &= write(dir + "/bar.png", 400, 40, [](int x, int, int w, int) {
        return x < w / 2 ? Rgba{255, 255, 255, 255} : Rgba{0, 0, 0, 255};
    });
    // A message window: a translucent dark panel.
    ok &= write(dir + "/window.png", 1000, 240, [](int, int, int, int) {
        return Rgba{16, 24, 64, 200};
    });
    // Character-set pictures of 120 x 120: a mask (a white ring on black, tinted like text)
    // and a colour picture (a red-to-blue disc that keeps its colours).
    ok &= write(dir + "/ring_mask.png", 120, 120, [](int x, int y, int, int) {
        const int dx = x - 60, dy = y - 60, d2 = dx * dx + dy * dy;
        const uint8_t v = d2 < 50 * 50 && d2 > 30 * 30 ? 255 : 0;
        return Rgba{v, v, v, 255};
    });
    ok &= write(dir + "/disc.png", 120, 120, [](int x, int y, int, int) {
        const int dx = x - 60, dy = y - 60;
        if (dx * dx + dy * dy > 55 * 55) return Rgba{0, 0, 0, 0};
        return Rgba{static_cast<uint8_t>(255 - 2 * x), 64, static_cast<uint8_t>(2 * x), 255};
    });
    return ok ? 0 : 1;
}
