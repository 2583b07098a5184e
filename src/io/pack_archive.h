#pragma once
// Pack archives: one file holding many data files and an index of their names. All offsets in
// a pack are absolute positions in the file that holds it (a pack may be appended to another
// file, found then through the trailer at the file's end).
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace vaxo2::io {

class DataFile;

constexpr size_t kPackHeaderSize = 24;
constexpr size_t kPackIndexEntrySize = 20;
constexpr size_t kPackTrailerSize = 32;
constexpr char kEmbeddedPackMarker[] = "VaxoExecuteComponentType";  // 24 bytes, no terminator
constexpr size_t kEmbeddedPackMarkerSize = 24;
// Longer names are no resource paths: such entries are skipped rather than allocated.
constexpr uint32_t kMaxPackNameLength = 4096;

struct PackEntry {
    uint32_t dataOffset = 0;
    uint32_t dataSize = 0;
    std::string name;
};

// Random access to the bytes of a pack (a file, or memory in tests and fuzzing).
class ByteSource {
  public:
    virtual ~ByteSource() = default;
    virtual uint64_t size() = 0;
    // Bytes actually read (fewer at the end of the source).
    virtual size_t readAt(uint64_t offset, void* buffer, size_t count) = 0;
};

class MemorySource : public ByteSource {
  public:
    MemorySource(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    uint64_t size() override { return size_; }
    size_t readAt(uint64_t offset, void* buffer, size_t count) override;

  private:
    const uint8_t* data_;
    size_t size_;
};

// What an index load found, for tools that want to tell a damaged pack from a good one.
struct PackIndexReport {
    bool opened = false;       // the source could be read at all
    bool headerValid = false;  // header (and trailer, when embedded) are inside the file
    bool embeddedFound = false;
    uint64_t packStart = 0;
    uint32_t declaredEntries = 0;  // indexSize / 20
    uint32_t skippedEntries = 0;   // entries whose name or data lie outside the file, whose
                                   // name has no terminator or is too long, or whose name
                                   // would take the names past the file's size
    std::string problem;           // first problem met, for messages
    // Names of the skipped entries whose name could be read but whose data lies outside the
    // file: a lookup of such a name can say why it fails.
    std::vector<std::string> unreadableNames;
};

// Reads the header and index. Entries that do not fit in the source are skipped; the rest
// are returned in index order. Memory stays in proportion to the source's size: names are at
// most kMaxPackNameLength bytes and all names together at most the source's size.
void readPackIndex(ByteSource& source, bool embedded, std::vector<PackEntry>& entries,
                   PackIndexReport* report = nullptr);

// Where an embedded pack starts: true and `packStart` when the last 32 bytes carry the marker.
bool findEmbeddedPack(ByteSource& source, uint64_t& packStart);

class PackArchive {
  public:
    explicit PackArchive(std::string filePath, bool embedded = false);
    PackArchive(const PackArchive&) = delete;
    PackArchive& operator=(const PackArchive&) = delete;

    // Looks the name up (ASCII letters without case, every other byte exactly; the first equal
    // entry in index order wins) and reads its data. An entry of size 0 is found with an empty
    // buffer. The index is read on the first call only, once even under concurrent calls.
    bool find(const std::string& name, std::vector<uint8_t>& out);
    // The same lookup as a plain scan of the index: the reference the hashed lookup must match.
    bool findByScan(const std::string& name, std::vector<uint8_t>& out);

    // Null when the name is not in the pack.
    const PackEntry* findEntry(const std::string& name);

    void ensureLoaded();
    int32_t entryCount();
    const std::vector<PackEntry>& entries();
    const PackIndexReport& report();
    const std::string& fileName() const { return fileName_; }
    bool embedded() const { return embedded_; }

  private:
    bool readEntry(const PackEntry& entry, std::vector<uint8_t>& out);
    // Reports a failed lookup of `name` on stderr, once per name.
    void sayOnce(const std::string& name, const std::string& why);
    void buildIndex(DataFile& file);

    std::string fileName_;
    bool embedded_;
    std::once_flag loadOnce_;
    std::vector<PackEntry> entries_;
    // Hashes and compares names with ASCII letters folded, without copying them.
    // Open-addressing table over entries_ (which no longer changes once loaded): each slot
    // holds the folded-name hash and 1 + the position of the first entry with that name.
    struct Slot {
        uint32_t hash = 0;
        uint32_t entryPlusOne = 0;
    };
    std::vector<Slot> slots_;
    PackIndexReport report_;
    std::mutex reportedMutex_;
    std::set<std::string> reported_;  // folded names already reported
};

}  // namespace vaxo2::io
