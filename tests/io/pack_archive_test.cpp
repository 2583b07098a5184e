#include "io/pack_archive.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include "io/data_file.h"
#include "io/pack_writer.h"
#include "io_test_support.h"

namespace vaxo2::io {
namespace {

using testing::bytesOf;
using testing::putU32At;
using testing::TempDir;
using testing::writeFile;

std::vector<PackItem> sampleItems() {
    return {
        {"Start.vxs", {}, bytesOf("start script")},
        {"system\\Title.png", {}, bytesOf("PNGDATA")},
        {"empty.dat", {}, {}},
        {"SYSTEM\\title.PNG", {}, bytesOf("second copy")},
    };
}

std::vector<PackEntry> parse(const std::vector<uint8_t>& bytes, bool embedded,
                             PackIndexReport* report = nullptr) {
    MemorySource source(bytes.data(), bytes.size());
    std::vector<PackEntry> entries;
    readPackIndex(source, embedded, entries, report);
    return entries;
}

TEST(PackLayout, WriterProducesTheDocumentedLayout) {
    std::vector<uint8_t> pack = buildPack({{"ab", {}, bytesOf("XYZ")}});
    ASSERT_EQ(pack.size(), 24u + 20u + 3u + 3u);
    // indexOffset 24, indexSize 20; entry: name at 44 length 3, data at 47 size 3.
    const uint8_t expected[] = {24, 0, 0, 0, 20, 0, 0, 0, 44, 0, 0, 0,   3,   0, 0,   0,   47,
                                0,  0, 0, 3, 0,  0, 0, 0, 0,  0, 0, 'a', 'b', 0, 'X', 'Y', 'Z'};
    EXPECT_TRUE(std::equal(std::begin(expected), std::end(expected), pack.begin() + 16));
}

TEST(PackIndex, ReadsEveryEntryInOrder) {
    PackIndexReport report;
    auto entries = parse(buildPack(sampleItems()), false, &report);
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_EQ(entries[1].name, "system\\Title.png");
    EXPECT_EQ(entries[2].dataSize, 0u);
    EXPECT_TRUE(report.headerValid);
    EXPECT_TRUE(report.problem.empty());
    EXPECT_EQ(report.skippedEntries, 0u);
}

TEST(PackIndex, SizeNotMultipleOfTwentyIgnoresRemainder) {
    auto pack = buildPack(sampleItems());
    putU32At(pack, 20, 4 * 20 - 1);  // last entry incomplete
    auto entries = parse(pack, false);
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[2].name, "empty.dat");
    putU32At(pack, 20, 2 * 20 + 19);
    EXPECT_EQ(parse(pack, false).size(), 2u);
}

TEST(PackIndexBadInput, EntriesOutsideTheFileAreSkippedOthersLoad) {
    auto pack = buildPack(sampleItems());
    putU32At(pack, 24 + 0 * 20 + 0, 0xFFFFFFF0);   // name offset far outside
    putU32At(pack, 24 + 1 * 20 + 12, 0x7FFFFFFF);  // data size runs past the end
    putU32At(pack, 24 + 3 * 20 + 4, 0);            // name length 0
    PackIndexReport report;
    auto entries = parse(pack, false, &report);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].name, "empty.dat");
    EXPECT_EQ(report.skippedEntries, 3u);
    EXPECT_FALSE(report.problem.empty());
}

TEST(PackIndexBadInput, NameWithoutTerminatorIsSkipped) {
    auto pack = buildPack({{"abc", {}, bytesOf("1")}, {"de", {}, bytesOf("2")}});
    // First name "abc\0" at 64: claim 3 bytes so its zero lies outside the name.
    putU32At(pack, 24 + 4, 3);
    auto entries = parse(pack, false);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].name, "de");
}

TEST(PackIndexBadInput, HugeIndexSizeLoadsWhatTheFileHolds) {
    auto pack = buildPack(sampleItems());
    putU32At(pack, 20, 0xFFFFFFF0);
    PackIndexReport report;
    auto entries = parse(pack, false, &report);
    // The index runs into the names and data: whatever is read there must not be trusted,
    // but the four real entries still load first.
    ASSERT_GE(entries.size(), 4u);
    EXPECT_EQ(entries[3].name, "SYSTEM\\title.PNG");
    EXPECT_EQ(report.declaredEntries, 0xFFFFFFF0u / 20);
    EXPECT_GT(report.skippedEntries, 0u);
}

TEST(PackIndexBadInput, HeaderOrIndexOutsideTheFile) {
    std::vector<uint8_t> shortFile(23, 0);
    PackIndexReport report;
    EXPECT_TRUE(parse(shortFile, false, &report).empty());
    EXPECT_FALSE(report.headerValid);

    auto pack = buildPack(sampleItems());
    putU32At(pack, 16, static_cast<uint32_t>(pack.size() + 1));
    EXPECT_TRUE(parse(pack, false, &report).empty());
    EXPECT_FALSE(report.headerValid);
}

std::vector<uint8_t> withTrailer(std::vector<uint8_t> host, const std::vector<uint8_t>& packAt,
                                 int32_t start) {
    host.insert(host.end(), packAt.begin(), packAt.end());
    host.insert(host.end(), kEmbeddedPackMarker, kEmbeddedPackMarker + kEmbeddedPackMarkerSize);
    host.resize(host.size() + 8, 0);
    putU32At(host, host.size() - 8, static_cast<uint32_t>(start));
    return host;
}

TEST(PackEmbedded, TrailerLocatesPackWithAbsoluteOffsets) {
    std::vector<uint8_t> host(1000, 0xCC);
    auto pack = buildPack(sampleItems(), 1000);
    auto file = withTrailer(host, pack, 1000);
    PackIndexReport report;
    auto entries = parse(file, true, &report);
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_TRUE(report.embeddedFound);
    EXPECT_EQ(report.packStart, 1000u);
    EXPECT_EQ(entries[0].dataOffset, 1000u + 24 + 80 + 10 + 17 + 10 + 17);
    // Not marked as embedded: the header at 0 is the host's bytes.
    EXPECT_TRUE(parse(file, false).empty());
}

TEST(PackEmbedded, WithoutMarkerReadsFromPositionZero) {
    auto pack = buildPack(sampleItems());
    pack.resize(pack.size() + 32, 'x');  // 32 trailing bytes without the marker
    PackIndexReport report;
    EXPECT_EQ(parse(pack, true, &report).size(), 4u);
    EXPECT_FALSE(report.embeddedFound);
}

TEST(PackEmbedded, BadStartGivesNoEntries) {
    auto pack = buildPack(sampleItems());
    EXPECT_TRUE(parse(withTrailer(pack, {}, -5), true).empty());
    EXPECT_TRUE(parse(withTrailer(pack, {}, 0x7FFFFFF0), true).empty());
}

TEST(PackIndexBadInput, NamesTakeNoMoreMemoryThanTheFileHolds) {
    // 3000 entries all naming one 3000-byte name (or a stretch inside it), and one 5000-byte
    // name: copied as they stand they would take 9 MB from a file of 68 KB.
    const std::string longName(3000, 'x');
    const std::string tooLong(5000, 'y');
    const uint32_t entries = 3000;
    const uint32_t names = 24 + (entries + 1) * 20;
    std::vector<uint8_t> pack(names, 0);
    for (char c : longName + '\0' + tooLong + '\0' + "data") {
        pack.push_back(static_cast<uint8_t>(c));
    }
    const uint32_t data = static_cast<uint32_t>(pack.size() - 4);
    putU32At(pack, 16, 24);
    putU32At(pack, 20, (entries + 1) * 20);
    for (uint32_t i = 0; i < entries; ++i) {
        const uint32_t at = 24 + i * 20;
        putU32At(pack, at, names + i % 7);  // the name, or a suffix of it
        putU32At(pack, at + 4, 3001);
        putU32At(pack, at + 8, data);
        putU32At(pack, at + 12, 4);
    }
    const uint32_t last = 24 + entries * 20;
    putU32At(pack, last, names + 3001);
    putU32At(pack, last + 4, 5001);
    putU32At(pack, last + 8, data);
    putU32At(pack, last + 12, 4);

    PackIndexReport report;
    auto found = parse(pack, false, &report);
    size_t nameBytes = 0;
    for (const PackEntry& e : found) {
        nameBytes += e.name.size();
        EXPECT_LE(e.name.size(), kMaxPackNameLength);
    }
    EXPECT_LE(nameBytes, pack.size());
    EXPECT_GT(found.size(), 10u);  // the first ones still load
    EXPECT_LT(found.size(), size_t{entries});
    EXPECT_EQ(found.size() + report.skippedEntries, size_t{entries} + 1);
    EXPECT_NE(report.problem.find("add up to more than the file"), std::string::npos);

    // The long name alone: skipped for its length, not allocated.
    putU32At(pack, 20, 20);
    putU32At(pack, 24, names + 3001);
    putU32At(pack, 28, 5001);
    EXPECT_TRUE(parse(pack, false, &report).empty());
    EXPECT_NE(report.problem.find("longer than 4096"), std::string::npos);
}

class PackArchiveFile : public ::testing::Test {
  protected:
    void SetUp() override {
        path = dir.file("data01.vxc");
        std::string error;
        ASSERT_TRUE(writePackFile(path, sampleItems(), error)) << error;
    }
    TempDir dir;
    std::string path;
};

TEST_F(PackArchiveFile, LookupFoldsAsciiCaseOnlyAndFirstEntryWins) {
    PackArchive pack(path);
    std::vector<uint8_t> out;
    ASSERT_TRUE(pack.find("SYSTEM\\TITLE.PNG", out));
    EXPECT_EQ(out, bytesOf("PNGDATA"));  // index position 1 beats position 3
    EXPECT_FALSE(pack.find("system/Title.png", out));
    EXPECT_FALSE(pack.find("system\\Title.pn", out));
    EXPECT_TRUE(pack.find("start.VXS", out));
    EXPECT_EQ(out, bytesOf("start script"));
}

TEST_F(PackArchiveFile, HashedLookupAgreesWithTheScan) {
    PackArchive pack(path);
    for (const char* name : {"Start.vxs", "system\\title.png", "SYSTEM\\TITLE.PNG", "empty.DAT",
                             "nothing", "system/Title.png", ""}) {
        std::vector<uint8_t> a{9}, b{9};
        bool ha = pack.find(name, a);
        bool hb = pack.findByScan(name, b);
        EXPECT_EQ(ha, hb) << name;
        EXPECT_EQ(a, b) << name;
    }
}

TEST_F(PackArchiveFile, LargeIndexWithRepeatedNamesAgreesWithTheScan) {
    // Enough entries to fill many probe chains; every fifth name comes back later in another
    // case with other data, which must never be the one found.
    std::vector<PackItem> items;
    for (int i = 0; i < 3000; ++i) {
        items.push_back(
            {"dir\\Name" + std::to_string(i), {}, bytesOf("first" + std::to_string(i))});
    }
    for (int i = 0; i < 3000; i += 5) {
        items.push_back({"DIR\\name" + std::to_string(i), {}, bytesOf("later")});
    }
    std::string error;
    ASSERT_TRUE(writePackFile(path, items, error)) << error;
    PackArchive pack(path);
    ASSERT_EQ(pack.entryCount(), 3600);
    for (int i = 0; i < 3000; i += 7) {
        std::string name = "Dir\\NAME" + std::to_string(i);
        std::vector<uint8_t> hashed, scanned;
        ASSERT_TRUE(pack.find(name, hashed)) << name;
        ASSERT_TRUE(pack.findByScan(name, scanned)) << name;
        EXPECT_EQ(hashed, bytesOf("first" + std::to_string(i)));
        EXPECT_EQ(hashed, scanned);
    }
    std::vector<uint8_t> out;
    EXPECT_FALSE(pack.find("dir\\Name3000", out));
    EXPECT_FALSE(pack.find("dir\\Name", out));
}

TEST_F(PackArchiveFile, NonAsciiBytesCompareExactly) {
    std::string error;
    // "É" (C3 89) and "é" (C3 A9) differ outside ASCII and must not fold together.
    ASSERT_TRUE(writePackFile(path, {{"\xC3\x89t\xC3\xA9", {}, bytesOf("1")}}, error));
    PackArchive pack(path);
    std::vector<uint8_t> out;
    EXPECT_TRUE(pack.find("\xC3\x89T\xC3\xA9", out));
    EXPECT_FALSE(pack.find("\xC3\xA9t\xC3\xA9", out));
}

TEST_F(PackArchiveFile, ZeroSizeEntryIsFoundEmpty) {
    PackArchive pack(path);
    std::vector<uint8_t> out = bytesOf("stale");
    EXPECT_TRUE(pack.find("empty.dat", out));
    EXPECT_TRUE(out.empty());
}

TEST_F(PackArchiveFile, IndexIsReadOnceAndKept) {
    PackArchive pack(path);
    EXPECT_EQ(pack.entryCount(), 4);
    std::string error;
    ASSERT_TRUE(writePackFile(path, {{"other", {}, bytesOf("o")}}, error));
    // The entries stay those first read.
    EXPECT_EQ(pack.entryCount(), 4);
    EXPECT_NE(pack.findEntry("start.vxs"), nullptr);
    EXPECT_EQ(pack.findEntry("other"), nullptr);
}

TEST_F(PackArchiveFile, MissingPackHasNoEntries) {
    PackArchive pack(dir.file("data09.vxc"));
    std::vector<uint8_t> out;
    EXPECT_FALSE(pack.find("Start.vxs", out));
    EXPECT_EQ(pack.entryCount(), 0);
    // Appearing later changes nothing: a missing pack is never opened again.
    std::string error;
    ASSERT_TRUE(writePackFile(dir.file("data09.vxc"), sampleItems(), error));
    EXPECT_FALSE(pack.find("Start.vxs", out));
}

TEST_F(PackArchiveFile, ConcurrentFirstLookupsShareOneIndex) {
    PackArchive pack(path);
    std::atomic<int> hits{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&] {
            std::vector<uint8_t> out;
            if (pack.find("system\\title.png", out) && out == bytesOf("PNGDATA")) {
                ++hits;
            }
        });
    }
    for (auto& t : threads) {
        t.join();
    }
    EXPECT_EQ(hits.load(), 8);
    EXPECT_EQ(pack.entryCount(), 4);
}

TEST_F(PackArchiveFile, TruncatedDataReadsAsZeros) {
    std::string error;
    ASSERT_TRUE(writePackFile(path, {{"a", {}, bytesOf("12345678")}}, error));
    PackArchive pack(path);
    ASSERT_EQ(pack.entryCount(), 1);  // index read while the file was whole
    auto bytes = testing::readFile(path);
    bytes.resize(bytes.size() - 5);
    writeFile(path, bytes);
    std::vector<uint8_t> out;
    ASSERT_TRUE(pack.find("a", out));
    EXPECT_EQ(out, (std::vector<uint8_t>{'1', '2', '3', 0, 0, 0, 0, 0}));
}

std::vector<std::string> gProblems;
void recordProblem(const std::string& file, const std::string& why) {
    gProblems.push_back(file + ": " + why);
}

TEST_F(PackArchiveFile, DamageAndUnreadablePacksAreSaidOnceWithTheFileAndWhy) {
    gProblems.clear();
    setProblemSink(&recordProblem);
    // Start.vxs is listed, but its data runs past the end of the pack.
    auto bytes = buildPack(sampleItems());
    putU32At(bytes, 24 + 0 * 20 + 12, 0x7FFFFFFF);
    writeFile(path, bytes);
    PackArchive damaged(path);
    std::vector<uint8_t> out;
    EXPECT_FALSE(damaged.find("start.vxs", out));
    EXPECT_FALSE(damaged.find("Start.vxs", out));
    EXPECT_TRUE(damaged.find("empty.dat", out));
    ASSERT_EQ(gProblems.size(), 2u);
    EXPECT_EQ(gProblems[0], path +
                                ": damaged pack: an entry's data lies outside the file (1 of 4 "
                                "entries unreadable)");
    EXPECT_EQ(gProblems[1], path + ": Start.vxs: listed, but its data lies outside the pack");

    // A missing pack is normal; a folder or a FIFO in its place is not, and never blocks.
    gProblems.clear();
    PackArchive missing(dir.file("data02.vxc"));
    EXPECT_FALSE(missing.find("Start.vxs", out));
    EXPECT_TRUE(gProblems.empty());
    std::filesystem::create_directory(dir.file("data03.vxc"));
    ASSERT_EQ(::mkfifo(dir.file("data04.vxc").c_str(), 0600), 0);
    ASSERT_EQ(::symlink("data04.vxc", dir.file("data05.vxc").c_str()), 0);
    for (const char* name : {"data03.vxc", "data04.vxc", "data05.vxc"}) {
        PackArchive pack(dir.file(name));
        EXPECT_FALSE(pack.find("Start.vxs", out));
        EXPECT_EQ(pack.entryCount(), 0);
    }
    EXPECT_EQ(
        gProblems,
        (std::vector<std::string>{
            dir.file("data03.vxc") + ": pack cannot be read: Is a directory",
            dir.file("data04.vxc") + ": pack cannot be read: not a regular file (a pipe, socket or "
                                     "device is no data)",
            dir.file("data05.vxc") + ": pack cannot be read: not a regular file (a pipe, socket or "
                                     "device is no data)"}));
    setProblemSink(nullptr);
}

}  // namespace
}  // namespace vaxo2::io
