// The pack index loader on arbitrary bytes, as a plain and as an embedded pack; every entry
// it returns must lie inside the input, and its names take no more bytes than the input.
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
        // The names together never hold more than the input: an index whose entries all
        // point at one long name must not multiply memory.
        uint64_t nameBytes = 0;
        for (const auto& e : entries) {
            if (e.dataSize != 0 && uint64_t{e.dataOffset} + e.dataSize > size) {
                std::abort();
            }
            if (e.name.size() >= size || e.name.size() > vaxo2::io::kMaxPackNameLength) {
                std::abort();
            }
            nameBytes += e.name.size();
        }
        for (const auto& name : report.unreadableNames) {
            nameBytes += name.size();
        }
        if (nameBytes > size) {
            std::abort();
        }
        if (entries.size() > report.declaredEntries) {
            std::abort();
        }
    }
    return 0;
}
