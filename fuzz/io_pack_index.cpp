// The pack index loader on arbitrary bytes, as a plain and as an embedded pack; every entry
// it returns must lie inside the input.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "io/pack_archive.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    for (bool embedded : {false, true}) {
        vaxo2::io::MemorySource source(data, size);
        std::vector<vaxo2::io::PackEntry> entries;
        vaxo2::io::PackIndexReport report;
        vaxo2::io::readPackIndex(source, embedded, entries, &report);
        for (const auto& e : entries) {
            if (e.dataSize != 0 && uint64_t{e.dataOffset} + e.dataSize > size) {
                std::abort();
            }
            if (e.name.size() >= size) {
                std::abort();
            }
        }
        if (entries.size() > report.declaredEntries) {
            std::abort();
        }
    }
    return 0;
}
