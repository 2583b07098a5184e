#include "io/pack_archive.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

#include "io/data_file.h"
#include "io/string_utils.h"

namespace vaxo2::io {

namespace {

uint32_t readU32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// Index bytes are read in slices of whole entries, so a huge declared index never needs one
// huge buffer.
constexpr size_t kIndexSlice = kPackIndexEntrySize * 4096;
// Names are read from one covering window when the names lie close together (the usual
// layout); scattered names are read one by one.
constexpr uint64_t kNameWindowLimit = 64ull << 20;

uint32_t foldedHash(std::string_view name) {
    // FNV-1a over the folded bytes.
    uint32_t h = 2166136261u;
    for (char c : name) {
        h = (h ^ static_cast<uint8_t>(asciiLower(c))) * 16777619u;
    }
    return h;
}

bool foldedEqual(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (asciiLower(a[i]) != asciiLower(b[i])) {
            return false;
        }
    }
    return true;
}

struct RawEntry {
    uint32_t nameOffset;
    uint32_t nameLength;
    uint32_t dataOffset;
    uint32_t dataSize;
    bool dataOutside;  // listed, but its data cannot be read: the name is kept for messages
};

class FileSource : public ByteSource {
  public:
    explicit FileSource(DataFile& file) : file_(file), size_(file.size()) {}
    uint64_t size() override { return size_ == DataFile::kError ? 0 : size_; }
    size_t readAt(uint64_t offset, void* buffer, size_t count) override {
        size_t done = 0;
        auto* out = static_cast<uint8_t*>(buffer);
        while (done < count) {
            uint32_t part = static_cast<uint32_t>(std::min<size_t>(count - done, 1u << 30));
            uint32_t n = file_.readAt(offset + done, out + done, part);
            done += n;
            if (n < part) {
                break;
            }
        }
        return done;
    }

  private:
    DataFile& file_;
    uint64_t size_;
};

void note(PackIndexReport& report, const std::string& problem) {
    if (report.problem.empty()) {
        report.problem = problem;
    }
}

}  // namespace

size_t MemorySource::readAt(uint64_t offset, void* buffer, size_t count) {
    if (offset >= size_) {
        return 0;
    }
    size_t n = std::min<uint64_t>(count, size_ - offset);
    std::memcpy(buffer, data_ + offset, n);
    return n;
}

bool findEmbeddedPack(ByteSource& source, uint64_t& packStart) {
    uint64_t size = source.size();
    if (size < kPackTrailerSize) {
        return false;
    }
    uint8_t trailer[kPackTrailerSize];
    if (source.readAt(size - kPackTrailerSize, trailer, sizeof trailer) != sizeof trailer) {
        return false;
    }
    if (std::memcmp(trailer, kEmbeddedPackMarker, kEmbeddedPackMarkerSize) != 0) {
        return false;
    }
    // packStart is a signed 32-bit field.
    auto start = static_cast<int32_t>(readU32(trailer + 24));
    if (start < 0) {
        return false;
    }
    packStart = static_cast<uint64_t>(start);
    return true;
}

void readPackIndex(ByteSource& source, bool embedded, std::vector<PackEntry>& entries,
                   PackIndexReport* reportOut) {
    PackIndexReport localReport;
    PackIndexReport& report = reportOut != nullptr ? *reportOut : localReport;
    report = PackIndexReport{};
    report.opened = true;
    entries.clear();
    const uint64_t fileSize = source.size();

    uint64_t base = 0;
    if (embedded) {
        if (findEmbeddedPack(source, base)) {
            report.embeddedFound = true;
        } else if (fileSize >= kPackTrailerSize) {
            // The marker text is there but the start is negative: nothing to read.
            uint8_t marker[kEmbeddedPackMarkerSize];
            if (source.readAt(fileSize - kPackTrailerSize, marker, sizeof marker) ==
                    sizeof marker &&
                std::memcmp(marker, kEmbeddedPackMarker, sizeof marker) == 0) {
                note(report, "embedded pack start is negative");
                return;
            }
        }
    }
    report.packStart = base;

    uint8_t header[kPackHeaderSize];
    if (base > fileSize || fileSize - base < kPackHeaderSize ||
        source.readAt(base, header, sizeof header) != sizeof header) {
        note(report, "header lies outside the file");
        return;
    }
    const uint32_t indexOffset = readU32(header + 16);
    const uint32_t indexSize = readU32(header + 20);
    report.declaredEntries = indexSize / kPackIndexEntrySize;
    if (indexOffset > fileSize) {
        note(report, "index lies outside the file");
        report.skippedEntries = report.declaredEntries;
        return;
    }
    report.headerValid = true;
    uint64_t available = std::min<uint64_t>(indexSize, fileSize - indexOffset);
    const uint32_t readable = static_cast<uint32_t>(available / kPackIndexEntrySize);
    if (readable < report.declaredEntries) {
        note(report, "index runs past the end of the file");
        report.skippedEntries += report.declaredEntries - readable;
    }

    // Pass 1: the index itself, keeping the entries whose ranges lie inside the file.
    std::vector<RawEntry> raw;
    std::vector<uint8_t> slice;
    uint64_t nameLow = UINT64_MAX;
    uint64_t nameHigh = 0;
    for (uint32_t first = 0; first < readable;) {
        uint32_t count = std::min<uint32_t>(readable - first, kIndexSlice / kPackIndexEntrySize);
        slice.resize(static_cast<size_t>(count) * kPackIndexEntrySize);
        size_t got = source.readAt(indexOffset + uint64_t{first} * kPackIndexEntrySize,
                                   slice.data(), slice.size());
        uint32_t whole = static_cast<uint32_t>(got / kPackIndexEntrySize);
        for (uint32_t i = 0; i < whole; ++i) {
            const uint8_t* p = slice.data() + size_t{i} * kPackIndexEntrySize;
            RawEntry e{readU32(p), readU32(p + 4), readU32(p + 8), readU32(p + 12), false};
            uint64_t nameEnd = uint64_t{e.nameOffset} + e.nameLength;
            uint64_t dataEnd = uint64_t{e.dataOffset} + e.dataSize;
            if (e.nameLength == 0 || nameEnd > fileSize) {
                note(report, "an entry's name lies outside the file");
                ++report.skippedEntries;
                continue;
            }
            e.dataOutside = e.dataSize != 0 && dataEnd > fileSize;
            if (e.dataOutside) {
                note(report, "an entry's data lies outside the file");
            }
            nameLow = std::min<uint64_t>(nameLow, e.nameOffset);
            nameHigh = std::max<uint64_t>(nameHigh, nameEnd);
            raw.push_back(e);
        }
        if (whole < count) {
            note(report, "index could not be read");
            report.skippedEntries += readable - first - whole;
            break;
        }
        first += count;
    }

    // Pass 2: the names.
    std::vector<uint8_t> window;
    bool useWindow = !raw.empty() && nameHigh - nameLow <= kNameWindowLimit;
    if (useWindow) {
        window.resize(static_cast<size_t>(nameHigh - nameLow));
        if (source.readAt(nameLow, window.data(), window.size()) != window.size()) {
            useWindow = false;
        }
    }
    std::vector<uint8_t> single;
    entries.reserve(raw.size());
    // Entries may all point into one long name, or at overlapping ones. The names of a well-formed
    // pack are distinct stretches of the file, so together they never hold more bytes than
    // the file: past that budget entries are skipped, which keeps the index's memory in
    // proportion to the file's size whatever the index says.
    uint64_t nameBudget = fileSize;
    for (const RawEntry& e : raw) {
        const uint8_t* name = nullptr;
        size_t length = std::min<uint32_t>(e.nameLength, kMaxPackNameLength + 1);
        if (useWindow) {
            name = window.data() + (e.nameOffset - nameLow);
        } else {
            single.resize(length);
            length = source.readAt(e.nameOffset, single.data(), length);
            name = single.data();
        }
        const void* zero = std::memchr(name, 0, length);
        if (zero == nullptr) {
            note(report, e.nameLength > kMaxPackNameLength
                             ? "an entry's name is longer than " +
                                   std::to_string(kMaxPackNameLength) + " bytes"
                             : "an entry's name has no terminator");
            ++report.skippedEntries;
            continue;
        }
        const size_t nameSize = static_cast<const uint8_t*>(zero) - name;
        if (nameSize > nameBudget) {
            note(report, "the entries' names add up to more than the file holds");
            ++report.skippedEntries;
            continue;
        }
        nameBudget -= nameSize;
        std::string text(reinterpret_cast<const char*>(name), nameSize);
        if (e.dataOutside) {
            ++report.skippedEntries;
            report.unreadableNames.push_back(std::move(text));
            continue;
        }
        PackEntry entry;
        entry.dataOffset = e.dataOffset;
        entry.dataSize = e.dataSize;
        entry.name = std::move(text);
        entries.push_back(std::move(entry));
    }
}

PackArchive::PackArchive(std::string filePath, bool embedded)
    : fileName_(std::move(filePath)), embedded_(embedded) {}

void PackArchive::ensureLoaded() {
    std::call_once(loadOnce_, [this] {
        DataFile file;
        if (!file.openForReading(fileName_, false)) {
            report_.problem = "cannot open";
            // A missing pack is normal; one that is there but cannot be read is worth a word.
            if (file.lastError() != ENOENT && file.lastError() != ENOTDIR) {
                reportFileProblem(
                    fileName_, "pack cannot be read: " + DataFile::errorComment(file.lastError()));
            }
            return;
        }
        try {
            buildIndex(file);
        } catch (const std::bad_alloc&) {
            // The pack stays empty, like one that cannot be opened.
            entries_.clear();
            slots_.clear();
            report_.problem = "out of memory";
        }
        if (!report_.problem.empty()) {
            std::string why = "damaged pack: " + report_.problem;
            if (report_.skippedEntries != 0) {
                why += " (" + std::to_string(report_.skippedEntries) + " of " +
                       std::to_string(report_.declaredEntries) + " entries unreadable)";
            }
            reportFileProblem(fileName_, why);
        }
    });
}

void PackArchive::buildIndex(DataFile& file) {
    FileSource source(file);
    readPackIndex(source, embedded_, entries_, &report_);
    size_t capacity = 16;
    while (capacity < entries_.size() * 2) {
        capacity *= 2;
    }
    slots_.assign(capacity, Slot{});
    const size_t mask = capacity - 1;
    for (uint32_t i = 0; i < entries_.size(); ++i) {
        const std::string& name = entries_[i].name;
        uint32_t hash = foldedHash(name);
        for (size_t s = hash & mask;; s = (s + 1) & mask) {
            Slot& slot = slots_[s];
            if (slot.entryPlusOne == 0) {
                slot = Slot{hash, i + 1};
                break;
            }
            if (slot.hash == hash && foldedEqual(entries_[slot.entryPlusOne - 1].name, name)) {
                break;  // an earlier entry of this name wins
            }
        }
    }
}

int32_t PackArchive::entryCount() {
    ensureLoaded();
    return static_cast<int32_t>(entries_.size());
}

const std::vector<PackEntry>& PackArchive::entries() {
    ensureLoaded();
    return entries_;
}

const PackIndexReport& PackArchive::report() {
    ensureLoaded();
    return report_;
}

const PackEntry* PackArchive::findEntry(const std::string& name) {
    ensureLoaded();
    // A name with a zero byte compares, as a C string, only up to that byte.
    if (slots_.empty()) {
        return nullptr;
    }
    std::string_view key(name.c_str());
    uint32_t hash = foldedHash(key);
    const size_t mask = slots_.size() - 1;
    for (size_t s = hash & mask;; s = (s + 1) & mask) {
        const Slot& slot = slots_[s];
        if (slot.entryPlusOne == 0) {
            return nullptr;
        }
        if (slot.hash == hash && foldedEqual(entries_[slot.entryPlusOne - 1].name, key)) {
            return &entries_[slot.entryPlusOne - 1];
        }
    }
}

bool PackArchive::readEntry(const PackEntry& entry, std::vector<uint8_t>& out) {
    DataFile file;
    if (!file.openForReading(fileName_, false)) {
        sayOnce(entry.name,
                "pack cannot be read any more: " + DataFile::errorComment(file.lastError()));
        return false;
    }
    // Bytes a short read leaves unfilled stay zero. A buffer that cannot be had is a miss.
    try {
        out.assign(entry.dataSize, 0);
    } catch (const std::bad_alloc&) {
        out.clear();
        sayOnce(entry.name, "no memory for its " + std::to_string(entry.dataSize) + " bytes");
        return false;
    }
    if (!out.empty()) {
        file.readAt(entry.dataOffset, out.data(), entry.dataSize);
    }
    return true;
}

void PackArchive::sayOnce(const std::string& name, const std::string& why) {
    {
        std::lock_guard lock(reportedMutex_);
        if (!reported_.insert(foldCase(name)).second) {
            return;
        }
    }
    reportFileProblem(fileName_, printableName(name) + ": " + why);
}

bool PackArchive::find(const std::string& name, std::vector<uint8_t>& out) {
    const PackEntry* entry = findEntry(name);
    if (entry == nullptr) {
        // Listed but unreadable: say so, or the only word would be about a missing loose file.
        for (const std::string& unreadable : report_.unreadableNames) {
            if (compareIgnoreCase(unreadable.c_str(), name.c_str()) == 0) {
                sayOnce(unreadable, "listed, but its data lies outside the pack");
                break;
            }
        }
        return false;
    }
    return readEntry(*entry, out);
}

bool PackArchive::findByScan(const std::string& name, std::vector<uint8_t>& out) {
    ensureLoaded();
    for (const PackEntry& entry : entries_) {
        if (compareIgnoreCase(entry.name.c_str(), name.c_str()) == 0) {
            return readEntry(entry, out);
        }
    }
    return false;
}

}  // namespace vaxo2::io
