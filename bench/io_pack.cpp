// Pack index load and lookup on a generated pack of 100 000 entries, beside the plain scan
// of the index as the baseline.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "io/pack_archive.h"
#include "io/pack_writer.h"

namespace {

constexpr int kEntries = 100000;

std::string entryName(int i) {
    return "scenario\\chapter" + std::to_string(i % 50) + "\\Entry_" + std::to_string(i) + ".png";
}

// One generated pack for the whole run, removed at exit.
struct GeneratedPack {
    std::string dir;
    std::string path;
    GeneratedPack() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "vaxo2-bench-XXXXXX").string();
        dir = ::mkdtemp(pattern.data()) != nullptr ? pattern : ".";
        path = dir + "/data01.vxc";
        std::vector<vaxo2::io::PackItem> items;
        items.reserve(kEntries);
        for (int i = 0; i < kEntries; ++i) {
            std::string body = "payload " + std::to_string(i) + std::string(48, 'x');
            items.push_back({entryName(i), {}, std::vector<uint8_t>(body.begin(), body.end())});
        }
        std::string error;
        if (!vaxo2::io::writePackFile(path, items, error)) {
            std::abort();
        }
    }
    ~GeneratedPack() {
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
};

const GeneratedPack& pack() {
    static GeneratedPack generated;
    return generated;
}

void BM_IndexLoad(benchmark::State& state) {
    const std::string& path = pack().path;
    for (auto _ : state) {
        vaxo2::io::PackArchive archive(path);
        archive.ensureLoaded();
        if (archive.entryCount() != kEntries) {
            state.SkipWithError("wrong entry count");
            break;
        }
    }
}
BENCHMARK(BM_IndexLoad)->Unit(benchmark::kMillisecond);

// Names spread over the whole index, asked in another letter case.
std::vector<std::string> probeNames() {
    std::vector<std::string> names;
    for (int i = 0; i < 64; ++i) {
        std::string n = entryName((i * 7919 + 13) % kEntries);
        for (char& c : n) {
            if (c >= 'a' && c <= 'z') {
                c = static_cast<char>(c - 'a' + 'A');
            }
        }
        names.push_back(n);
    }
    return names;
}

template <bool kHashed>
void lookup(benchmark::State& state) {
    vaxo2::io::PackArchive archive(pack().path);
    archive.ensureLoaded();
    auto names = probeNames();
    std::vector<uint8_t> out;
    size_t i = 0;
    for (auto _ : state) {
        const std::string& name = names[i++ % names.size()];
        bool found = kHashed ? archive.find(name, out) : archive.findByScan(name, out);
        if (!found) {
            state.SkipWithError("entry not found");
            break;
        }
        benchmark::DoNotOptimize(out.data());
    }
}

void BM_LookupAndRead(benchmark::State& state) {
    lookup<true>(state);
}
BENCHMARK(BM_LookupAndRead)->Unit(benchmark::kMicrosecond);

void BM_LookupAndReadLinearScan(benchmark::State& state) {
    lookup<false>(state);
}
BENCHMARK(BM_LookupAndReadLinearScan)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
