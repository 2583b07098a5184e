// Reads movie screenshots: which picture of a counting clip is on screen, or which colour.
//   movie_probe DIR CHECK...   screenshots are DIR/shot-MS.png; every check is tested, each
//                              failure printed; exit 1 when any failed, 2 on unreadable files
//     frame MS X Y N           the 5x5 pixels around (X, Y) show picture N of a counting clip
//                              (picture k is the flat grey 16 + 5k), N = -1: black
//     colour MS X Y R G B TOL  every channel of those pixels' mean is within TOL of R, G, B
//     pixel MS X Y R G B TOL   the same for the one pixel at (X, Y)
// X and Y are window pixels from the top left.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "platform/image_decoder.h"

namespace {

using vaxo2::platform::BgraImage;

bool load(const std::string& path, BgraImage& image) {
    std::ifstream f(path, std::ios::binary);
    if (!f) {
        std::fprintf(stderr, "cannot read %s\n", path.c_str());
        return false;
    }
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(f)), {});
    std::string error;
    if (!vaxo2::platform::decodeImage(bytes.data(), bytes.size(), image, error)) {
        std::fprintf(stderr, "%s: %s\n", path.c_str(), error.c_str());
        return false;
    }
    return true;
}

struct Mean {
    double r = 0, g = 0, b = 0;
};

bool meanAround(const BgraImage& image, int x, int y, int reach, Mean& out) {
    int n = 0;
    for (int dy = -reach; dy <= reach; ++dy) {
        for (int dx = -reach; dx <= reach; ++dx) {
            const int px = x + dx, py = y + dy;
            if (px < 0 || py < 0 || px >= image.width || py >= image.height) return false;
            const uint8_t* p = &image.pixels[(static_cast<size_t>(py) * image.width + px) * 4];
            out.b += p[0];
            out.g += p[1];
            out.r += p[2];
            ++n;
        }
    }
    out.r /= n;
    out.g /= n;
    out.b /= n;
    return true;
}

// The picture number a grey shows.
int pictureOf(const Mean& m) {
    const double grey = (m.r + m.g + m.b) / 3.0;
    if (grey < 8.0) return -1;
    return static_cast<int>(std::lround((grey - 16.0) / 5.0));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: movie_probe DIR CHECK...\n");
        return 2;
    }
    const std::string dir = argv[1];
    std::map<std::string, BgraImage> shots;
    auto shot = [&](const std::string& ms) -> const BgraImage* {
        auto it = shots.find(ms);
        if (it == shots.end()) {
            BgraImage image;
            if (!load(dir + "/shot-" + ms + ".png", image)) return nullptr;
            it = shots.emplace(ms, std::move(image)).first;
        }
        return &it->second;
    };
    int failures = 0;
    int checks = 0;
    for (int i = 2; i < argc;) {
        const std::string kind = argv[i];
        const int need = kind == "frame" ? 5 : (kind == "colour" || kind == "pixel") ? 8 : 0;
        if (need == 0 || i + need > argc) {
            std::fprintf(stderr, "bad check at '%s'\n", argv[i]);
            return 2;
        }
        const std::string ms = argv[i + 1];
        const int x = std::atoi(argv[i + 2]), y = std::atoi(argv[i + 3]);
        const BgraImage* image = shot(ms);
        Mean m;
        if (image == nullptr || !meanAround(*image, x, y, kind == "pixel" ? 0 : 2, m)) {
            std::fprintf(stderr, "%s ms: cannot read around (%d, %d)\n", ms.c_str(), x, y);
            return 2;
        }
        ++checks;
        if (kind == "frame") {
            const int want = std::atoi(argv[i + 4]);
            const int got = pictureOf(m);
            if (got != want) {
                std::printf("%s ms at (%d, %d): picture %d (grey %.1f), expected %d\n", ms.c_str(),
                            x, y, got, (m.r + m.g + m.b) / 3, want);
                ++failures;
            }
        } else {
            const double r = std::atof(argv[i + 4]), g = std::atof(argv[i + 5]),
                         b = std::atof(argv[i + 6]), tol = std::atof(argv[i + 7]);
            if (std::fabs(m.r - r) > tol || std::fabs(m.g - g) > tol || std::fabs(m.b - b) > tol) {
                std::printf("%s ms at (%d, %d): colour %.0f %.0f %.0f, expected %.0f %.0f %.0f\n",
                            ms.c_str(), x, y, m.r, m.g, m.b, r, g, b);
                ++failures;
            }
        }
        i += need;
    }
    std::printf("%d of %d picture checks passed\n", checks - failures, checks);
    return failures == 0 ? 0 : 1;
}
