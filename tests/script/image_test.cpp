#include "script/script_image.h"

#include <gtest/gtest.h>

#include <cstring>

#include "script/compiler.h"

namespace vaxo2::script {
namespace {

uint32_t word(const std::vector<uint8_t>& b, size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (uint32_t(b[at + 3]) << 24);
}

void setWord(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b[at + i] = uint8_t(v >> (8 * i));
}

ScriptImage sample() {
    ScriptImage img;
    compileScript("#top Graphic(Layer=1:2, File=\"bg.png\") Wait(Time=Flag[1] + 2) { Apply }", img);
    return img;
}

TEST(ScriptImage, WriterLayoutIsByteExact) {
    ScriptImage img;
    img.commandList = {0};
    img.argumentLists = {1, 1};
    img.elementTable = {{1, 0, 0}, {6, -1, 6}};
    img.dataPool = {'W', 'a', 'i', 't', 0, 0, 0xF4, 1, 0, 0, 0, 0, 0, 0};
    img.temporaryCount = 3;
    std::vector<uint8_t> b = writeImage(img);
    ASSERT_EQ(b.size(), 48u + 4 + 8 + 24 + 14);
    EXPECT_EQ(std::memcmp(b.data(), "VXS002\0\0", 8), 0);
    EXPECT_EQ(word(b, 8), 48u);
    EXPECT_EQ(word(b, 12), 48u);
    EXPECT_EQ(word(b, 16), 4u);
    EXPECT_EQ(word(b, 20), 52u);
    EXPECT_EQ(word(b, 24), 8u);
    EXPECT_EQ(word(b, 28), 60u);
    EXPECT_EQ(word(b, 32), 24u);
    EXPECT_EQ(word(b, 36), 84u);
    EXPECT_EQ(word(b, 40), 14u);
    EXPECT_EQ(word(b, 44), 3u);
    EXPECT_EQ(word(b, 60 + 12 + 8), 6u);  // second element's link
    EXPECT_EQ(b[84 + 6], 0xF4);

    // Empty tables: size 0 at the offset where they would have started.
    std::vector<uint8_t> e = writeImage(ScriptImage{});
    ASSERT_EQ(e.size(), 48u);
    for (size_t at : {12u, 20u, 28u, 36u})
        EXPECT_EQ(word(e, at), 48u);
}

TEST(ScriptImage, RoundTripReproducesEveryTable) {
    ScriptImage img = sample();
    ASSERT_GT(img.temporaryCount, 0);
    std::vector<uint8_t> bytes = writeImage(img);
    ScriptImage back;
    ASSERT_TRUE(parseImage(bytes.data(), bytes.size(), back));
    EXPECT_EQ(back.commandList, img.commandList);
    EXPECT_EQ(back.argumentLists, img.argumentLists);
    EXPECT_EQ(back.elementTable, img.elementTable);
    EXPECT_EQ(back.dataPool, img.dataPool);
    EXPECT_EQ(back.temporaryCount, img.temporaryCount);
}

TEST(ScriptImage, EachTableIsCheckedOnItsOwn) {
    ScriptImage img = sample();
    std::vector<uint8_t> bytes = writeImage(img);
    // ArgumentLists runs past the end.
    setWord(bytes, 24, static_cast<uint32_t>(bytes.size()));
    ScriptImage back;
    ASSERT_TRUE(parseImage(bytes.data(), bytes.size(), back));
    EXPECT_TRUE(back.argumentLists.empty());
    EXPECT_EQ(back.commandList, img.commandList);
    EXPECT_EQ(back.elementTable, img.elementTable);
    EXPECT_EQ(back.dataPool, img.dataPool);
    // Offsets near the 32-bit limit must not wrap into a "valid" range.
    setWord(bytes, 12, 0xFFFFFFF0u);
    setWord(bytes, 16, 0x20u);
    ASSERT_TRUE(parseImage(bytes.data(), bytes.size(), back));
    EXPECT_TRUE(back.commandList.empty());
    EXPECT_FALSE(back.elementTable.empty());
}

TEST(ScriptImage, ShortOrForeignBytesLoadNothing) {
    ScriptImage img;
    const uint8_t shortImage[] = {'V', 'X', 'S', '0', '0', '2', 0, 0, 48};
    EXPECT_FALSE(parseImage(shortImage, sizeof shortImage, img));
    std::vector<uint8_t> other(64, 0);
    EXPECT_FALSE(parseImage(other.data(), other.size(), img));
    EXPECT_TRUE(img.commandList.empty());
}

TEST(ScriptImage, AccessorsRejectOutOfRangeReferences) {
    ScriptImage img;
    img.dataPool = {'a', 'b'};  // no terminator
    img.argumentLists = {5, 1};
    EXPECT_FALSE(img.text(0));
    EXPECT_FALSE(img.text(-1));
    EXPECT_FALSE(img.integerAt(0));
    EXPECT_FALSE(img.argumentList(0));  // count runs past the table
    EXPECT_FALSE(img.argumentList(2));
    EXPECT_EQ(img.element(0), nullptr);
    img.argumentLists = {-1};
    EXPECT_FALSE(img.argumentList(0));
}

TEST(ScriptImage, TemporariesFromADamagedCountAreBounded) {
    ScriptContext ctx;
    ctx.image.temporaryCount = 0x7FFFFFFF;
    ctx.image.elementTable.resize(3);
    ctx.sizeTemporaries();
    EXPECT_EQ(ctx.temporaries.size(), 3u);
    ctx.image.temporaryCount = -4;
    ctx.sizeTemporaries();
    EXPECT_TRUE(ctx.temporaries.empty());
}

TEST(StateRecord, LayoutAndTwoRecordsRestoreInOrder) {
    ScriptContext a;
    a.name = "first.vxs";
    a.image = sample();
    a.currentIndex = 2;
    a.nextIndex = 3;
    a.reservedByte = 7;
    ScriptContext b;
    b.name = "second.vxs";
    compileScript("Apply", b.image);
    b.currentIndex = 1;

    std::vector<uint8_t> ra = writeStateRecord(a);
    EXPECT_EQ(word(ra, 0), ra.size());
    EXPECT_EQ(word(ra, 4), 0u);
    EXPECT_EQ(word(ra, 8), 64u);
    EXPECT_EQ(word(ra, 12), 10u);
    EXPECT_EQ(word(ra, 16), 74u);
    EXPECT_EQ(word(ra, 20), ra.size() - 74);
    EXPECT_EQ(word(ra, 24), 2u);
    EXPECT_EQ(word(ra, 28), 3u);
    EXPECT_EQ(ra[33], 7);
    EXPECT_EQ(std::memcmp(ra.data() + 64, "first.vxs\0VXS002", 16), 0);

    std::vector<uint8_t> all = ra;
    std::vector<uint8_t> rb = writeStateRecord(b);
    all.insert(all.end(), rb.begin(), rb.end());
    all.resize(all.size() + 40, 0xAB);  // trailing block shorter than a record

    std::vector<std::unique_ptr<ScriptContext>> out;
    EXPECT_EQ(readStateRecords(all.data(), all.size(), out), 2u);
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0]->name, "first.vxs");
    EXPECT_EQ(out[0]->currentIndex, 2);
    EXPECT_EQ(out[0]->nextIndex, 3);
    EXPECT_EQ(out[0]->reservedByte, 7);
    EXPECT_EQ(out[0]->image.elementTable, a.image.elementTable);
    EXPECT_EQ(out[0]->temporaries.size(), static_cast<size_t>(a.image.temporaryCount));
    EXPECT_EQ(out[0]->readMarks, nullptr);
    EXPECT_EQ(out[1]->name, "second.vxs");
    EXPECT_EQ(out[1]->image.commandList.size(), 1u);
}

TEST(StateRecord, StopsAtBadSizesAndIgnoresBadInnerOffsets) {
    ScriptContext a;
    a.name = "x.vxs";
    compileScript("Apply", a.image);
    std::vector<uint8_t> rec = writeStateRecord(a);
    std::vector<std::unique_ptr<ScriptContext>> out;

    std::vector<uint8_t> tooBig = rec;
    setWord(tooBig, 0, static_cast<uint32_t>(rec.size() + 1));
    EXPECT_EQ(readStateRecords(tooBig.data(), tooBig.size(), out), 0u);
    std::vector<uint8_t> negative = rec;
    setWord(negative, 4, 0x80000000u);
    EXPECT_EQ(readStateRecords(negative.data(), negative.size(), out), 0u);
    std::vector<uint8_t> tiny = rec;
    setWord(tiny, 0, 64);
    EXPECT_EQ(readStateRecords(tiny.data(), tiny.size(), out), 0u);

    std::vector<uint8_t> badInner = rec;
    setWord(badInner, 12, 0xFFFFFFF0u);  // name size
    setWord(badInner, 16, 0xFFFFFFF0u);  // image offset
    EXPECT_EQ(readStateRecords(badInner.data(), badInner.size(), out), 1u);
    EXPECT_TRUE(out.back()->name.empty());
    EXPECT_TRUE(out.back()->image.commandList.empty());
}

}  // namespace
}  // namespace vaxo2::script
