#pragma once
// Writes pack archives: header, index, names, then the data of each entry in index order.
// The same inputs always give the same bytes.
#include <cstdint>
#include <string>
#include <vector>

namespace vaxo2::io {

// The 16 header bytes the reader does not examine; this writer's signature.
constexpr char kPackSignature[16] = {'V', 'X', 'C', '-', 'P', 'A', 'C', 'K',
                                     1,   0,   0,   0,   0,   0,   0,   0};

struct PackItem {
    std::string name;            // as stored, `\`-separated
    std::string sourcePath;      // read from this file when not empty
    std::vector<uint8_t> bytes;  // otherwise these bytes
};

// Writes a whole pack to `outPath` (replacing it). False with a message on failure.
bool writePackFile(const std::string& outPath, const std::vector<PackItem>& items,
                   std::string& error);

// Appends a pack to `hostPath` followed by the 32-byte trailer that lets an embedded-pack
// reader find it. Offsets inside count from the host's first byte.
bool appendPackToFile(const std::string& hostPath, const std::vector<PackItem>& items,
                      std::string& error);

// Builds a pack in memory (tests, benchmarks, fuzz seeds). `base` is added to every offset,
// as for a pack placed `base` bytes into a host file.
std::vector<uint8_t> buildPack(const std::vector<PackItem>& items, uint32_t base = 0);

}  // namespace vaxo2::io
