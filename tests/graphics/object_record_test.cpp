#include "graphics/object_record.h"

#include <gtest/gtest.h>

#include <cstring>

namespace vaxo2::graphics {
namespace {

int64_t i64At(const std::vector<uint8_t>& b, size_t at) {
    int64_t v = 0;
    for (int i = 7; i >= 0; --i)
        v = (v << 8) | b[at + static_cast<size_t>(i)];
    return v;
}
int32_t i32At(const std::vector<uint8_t>& b, size_t at) {
    return static_cast<int32_t>(
        static_cast<uint32_t>(b[at]) | (static_cast<uint32_t>(b[at + 1]) << 8) |
        (static_cast<uint32_t>(b[at + 2]) << 16) | (static_cast<uint32_t>(b[at + 3]) << 24));
}
float f32At(const std::vector<uint8_t>& b, size_t at) {
    const uint32_t bits = static_cast<uint32_t>(i32At(b, at));
    float f;
    std::memcpy(&f, &bits, 4);
    return f;
}
void putI64(std::vector<uint8_t>& b, size_t at, int64_t v) {
    for (int i = 0; i < 8; ++i)
        b[at + static_cast<size_t>(i)] = static_cast<uint8_t>(static_cast<uint64_t>(v) >> (8 * i));
}
void putI32(std::vector<uint8_t>& b, size_t at, int32_t v) {
    for (int i = 0; i < 4; ++i)
        b[at + static_cast<size_t>(i)] = static_cast<uint8_t>(static_cast<uint32_t>(v) >> (8 * i));
}

class ObjectRecords : public ::testing::Test {
  protected:
    void SetUp() override {
        GraphicObject* parent = GraphicObject::create(&screen, {3});
        parent->loadImage("bg.png");
        parent->StencilAction = 1;
        parent->hide = 1;
        GraphicObject* child = GraphicObject::create(&screen, {3, -2});
        child->text = "ab";
        child->byteFlag = 1;
        child->textLayout.colorOverride.set(0x123456);
        StirSlot slot;
        slot.No = 5;
        slot.remaining = 400;
        slot.Time = 1000;
        slot.Loop = 2;
        slot.AutoDeleteFlag = true;
        slot.Position = Float3{1, 2, 3};
        slot.Roll = 0.5f;
        slot.ScaleGainEnd = Float3{7, 8, 9};
        child->slots[5] = slot;
    }
    GraphicObject screen;
};

TEST_F(ObjectRecords, ByteLayoutOfOneRecord) {
    std::vector<uint8_t> bytes;
    writeObjectRecord(*GraphicObject::find(&screen, {3, -2}), bytes);
    // Header 136, path of 3 levels, "ab\0", no source name, two slots (0 and 5).
    ASSERT_EQ(bytes.size(), 136u + 24u + 3u + 2u * 208u);
    EXPECT_EQ(i64At(bytes, 0), static_cast<int64_t>(bytes.size()));
    EXPECT_EQ(i64At(bytes, 8), 136);
    EXPECT_EQ(i64At(bytes, 16), 136 + 24 + 3);
    EXPECT_EQ(i32At(bytes, 24), 136);
    EXPECT_EQ(i32At(bytes, 28), 24);
    EXPECT_EQ(i64At(bytes, 136), 0);  // the root's own number first
    EXPECT_EQ(i64At(bytes, 144), 3);
    EXPECT_EQ(i64At(bytes, 152), -2);
    EXPECT_EQ(i64At(bytes, 80), 0x123456);  // text value 3 (colour override), given
    EXPECT_EQ(bytes[88], 1);
    EXPECT_EQ(bytes[72], 0);  // text value 2 not given
    EXPECT_EQ(bytes[97], 1);
    EXPECT_EQ(i32At(bytes, 100), 160);
    EXPECT_EQ(i32At(bytes, 104), 3);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&bytes[160])), "ab");
    EXPECT_EQ(i32At(bytes, 108), 0);  // no source
    EXPECT_EQ(i32At(bytes, 112), 0);
    const size_t slot = 163 + 208;  // slot 5 follows slot 0
    EXPECT_EQ(i64At(bytes, slot), 208);
    EXPECT_EQ(i64At(bytes, slot + 8), 5);
    EXPECT_EQ(i64At(bytes, slot + 16), 400);
    EXPECT_EQ(i64At(bytes, slot + 24), 1000);
    EXPECT_EQ(i64At(bytes, slot + 64), 2);
    EXPECT_EQ(bytes[slot + 72], 1);
    EXPECT_FLOAT_EQ(f32At(bytes, slot + 76), 1.0f);
    EXPECT_FLOAT_EQ(f32At(bytes, slot + 84), 3.0f);
    EXPECT_FLOAT_EQ(f32At(bytes, slot + 88), 1.0f);  // Scale x default
    EXPECT_FLOAT_EQ(f32At(bytes, slot + 100), 0.5f);
    EXPECT_FLOAT_EQ(f32At(bytes, slot + 148 + 8), 1.0f);  // RollAxis z
    EXPECT_FLOAT_EQ(f32At(bytes, slot + 196 + 8), 9.0f);  // ScaleGainEnd z

    std::vector<uint8_t> withSource;
    writeObjectRecord(*GraphicObject::find(&screen, {3}), withSource);
    EXPECT_EQ(i32At(withSource, 108), 1);
    EXPECT_EQ(i32At(withSource, 32), 1);
    EXPECT_EQ(i64At(withSource, 40), 1);
    const int32_t nameAt = i32At(withSource, 112);
    EXPECT_EQ(i32At(withSource, 116), 7);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&withSource[static_cast<size_t>(nameAt)])),
              "bg.png");
}

TEST_F(ObjectRecords, TreeRoundTripRestoresObjectsAndSlots) {
    std::vector<uint8_t> bytes;
    writeObjectRecords(screen, bytes);
    GraphicObject restored;
    GraphicObject::create(&restored, {3})->loadImage("stale.png");
    EXPECT_EQ(readObjectRecords(bytes.data(), bytes.size(), &restored), 3u);
    GraphicObject* parent = GraphicObject::find(&restored, {3});
    ASSERT_NE(parent, nullptr);
    EXPECT_EQ(parent->source->name(), "bg.png");
    EXPECT_EQ(parent->source.get(), GraphicObject::find(&screen, {3})->source.get());  // shared
    EXPECT_EQ(parent->hide, 1);
    GraphicObject* child = GraphicObject::find(&restored, {3, -2});
    ASSERT_NE(child, nullptr);
    EXPECT_EQ(child->text, "ab");
    EXPECT_EQ(child->textLayout.colorOverride.value, 0x123456);
    EXPECT_TRUE(child->textLayout.colorOverride.given);
    const StirSlot& slot = child->slots.at(5);
    EXPECT_EQ(slot.remaining, 400);  // continues where it was saved
    EXPECT_EQ(slot.ScaleGainEnd, (Float3{7, 8, 9}));

    std::vector<uint8_t> again;
    writeObjectRecords(restored, again);
    EXPECT_EQ(again, bytes);
}

TEST_F(ObjectRecords, MalformedRecordsAreRefusedWithoutOverreading) {
    std::vector<uint8_t> good;
    writeObjectRecord(*GraphicObject::find(&screen, {3, -2}), good);
    GraphicObject target;

    auto rejects = [&](std::vector<uint8_t> bytes) {
        return readObjectRecord(bytes.data(), bytes.size(), &target) == 0;
    };
    std::vector<uint8_t> b = good;
    putI64(b, 0, static_cast<int64_t>(good.size()) + 1);  // longer than the bytes
    EXPECT_TRUE(rejects(b));
    b = good;
    putI64(b, 8, 120);  // wrong header length
    EXPECT_TRUE(rejects(b));
    b = good;
    putI32(b, 24, 0x7FFFFFF0);  // path outside the record
    EXPECT_TRUE(rejects(b));
    b = good;
    putI32(b, 28, 12);  // not whole levels
    EXPECT_TRUE(rejects(b));
    b = good;
    putI32(b, 104, 100000);  // text runs past the record
    EXPECT_TRUE(rejects(b));
    b = good;
    putI64(b, 16, -5);  // slots before the header
    EXPECT_TRUE(rejects(b));
    EXPECT_TRUE(rejects(std::vector<uint8_t>(good.begin(), good.begin() + 100)));
    EXPECT_TRUE(target.layerChildren.empty());

    // A bad slot length stops the slot list, keeping the slots read so far.
    b = good;
    putI64(b, 163 + 208, 0);
    EXPECT_EQ(readObjectRecord(b.data(), b.size(), &target), good.size());
    GraphicObject* object = GraphicObject::find(&target, {3, -2});
    ASSERT_NE(object, nullptr);
    EXPECT_EQ(object->slots.count(0), 1u);
    EXPECT_EQ(object->slots.count(5), 0u);

    // Truncated slot record: the length claims more than is left.
    b = good;
    putI64(b, 163 + 208, 5000);
    EXPECT_EQ(readObjectRecord(b.data(), b.size(), &target), good.size());

    // Every truncation of a valid stream reads whole records only.
    std::vector<uint8_t> stream;
    writeObjectRecords(screen, stream);
    for (size_t cut = 0; cut < stream.size(); cut += 7) {
        GraphicObject scratch;
        const size_t n = readObjectRecords(stream.data(), cut, &scratch);
        EXPECT_LE(n, 3u);
    }
}

}  // namespace
}  // namespace vaxo2::graphics
