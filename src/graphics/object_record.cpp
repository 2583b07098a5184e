#include "graphics/object_record.h"

#include <cstring>

namespace vaxo2::graphics {

namespace {

class Writer {
  public:
    explicit Writer(std::vector<uint8_t>& out) : out_(out) {}
    void u8(uint8_t v) { out_.push_back(v); }
    void u32(uint32_t v) {
        for (int i = 0; i < 4; ++i) {
            out_.push_back(static_cast<uint8_t>(v >> (8 * i)));
        }
    }
    void i32(int32_t v) { u32(static_cast<uint32_t>(v)); }
    void i64(int64_t v) {
        const auto u = static_cast<uint64_t>(v);
        for (int i = 0; i < 8; ++i) {
            out_.push_back(static_cast<uint8_t>(u >> (8 * i)));
        }
    }
    void f32(float v) {
        uint32_t bits = 0;
        std::memcpy(&bits, &v, sizeof bits);
        u32(bits);
    }
    void f3(const Float3& v) {
        f32(v.x);
        f32(v.y);
        f32(v.z);
    }
    void zeros(size_t n) { out_.insert(out_.end(), n, 0); }
    void bytes(const std::string& s) {
        out_.insert(out_.end(), s.begin(), s.end());
        out_.push_back(0);
    }

  private:
    std::vector<uint8_t>& out_;
};

// Bounds-checked little-endian reads at fixed offsets of one record.
class Reader {
  public:
    Reader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    bool has(size_t offset, size_t n) const { return offset <= size_ && n <= size_ - offset; }
    uint64_t u(size_t offset, int bytes) const {
        uint64_t v = 0;
        for (int i = 0; i < bytes; ++i) {
            v |= static_cast<uint64_t>(data_[offset + i]) << (8 * i);
        }
        return v;
    }
    int64_t i64(size_t offset) const { return static_cast<int64_t>(u(offset, 8)); }
    int32_t i32(size_t offset) const { return static_cast<int32_t>(u(offset, 4)); }
    uint32_t u32(size_t offset) const { return static_cast<uint32_t>(u(offset, 4)); }
    uint8_t u8(size_t offset) const { return data_[offset]; }
    float f32(size_t offset) const {
        const uint32_t bits = u32(offset);
        float v = 0;
        std::memcpy(&v, &bits, sizeof v);
        return v;
    }
    Float3 f3(size_t offset) const { return Float3{f32(offset), f32(offset + 4), f32(offset + 8)}; }
    const uint8_t* at(size_t offset) const { return data_ + offset; }

  private:
    const uint8_t* data_;
    size_t size_;
};

void writeOptional(Writer& w, const queue::OptionalInt& value) {
    w.i64(value.value);
    w.u8(value.given ? 1 : 0);
    w.zeros(7);
}

queue::OptionalInt readOptional(const Reader& r, size_t offset) {
    queue::OptionalInt value;
    value.value = r.i64(offset);
    value.given = r.u8(offset + 8) != 0;
    return value;
}

LayerPath pathOf(const GraphicObject& object) {
    LayerPath reversed;
    for (const GraphicObject* at = &object; at != nullptr; at = at->parent) {
        reversed.push_back(at->number);
    }
    return LayerPath(reversed.rbegin(), reversed.rend());
}

// A string field given by offset and length-plus-one inside the record; false when it does not
// lie inside the record.
bool readString(const Reader& r, size_t recordLength, uint32_t offset, uint32_t lengthPlusOne,
                std::string& out) {
    out.clear();
    if (lengthPlusOne == 0) {
        return true;
    }
    if (offset > recordLength || lengthPlusOne > recordLength - offset) {
        return false;
    }
    const char* text = reinterpret_cast<const char*>(r.at(offset));
    size_t n = lengthPlusOne - 1;
    // Stop at an embedded zero: the field is a C string.
    const void* zero = std::memchr(text, 0, n);
    if (zero != nullptr) {
        n = static_cast<size_t>(static_cast<const char*>(zero) - text);
    }
    out.assign(text, n);
    return true;
}

}  // namespace

void writeSlotRecord(const StirSlot& slot, std::vector<uint8_t>& out) {
    Writer w(out);
    w.i64(kSlotRecordLength);
    w.i64(slot.No);
    w.i64(slot.remaining);
    w.i64(slot.Time);
    w.i64(slot.StartDelay);
    w.i64(slot.Delay);
    w.i64(slot.AfterDelay);
    w.f32(slot.TimeGainStart);
    w.f32(slot.TimeGainEnd);
    w.i64(slot.Loop);
    w.u8(slot.AutoDeleteFlag ? 1 : 0);
    w.zeros(3);
    w.f3(slot.Position);
    w.f3(slot.Scale);
    w.f32(slot.Roll);
    w.f32(slot.Transmittance);
    w.f32(slot.Rate);
    w.f3(slot.PositionCenter);
    w.f3(slot.ScaleCenter);
    w.f3(slot.RollCenter);
    w.f3(slot.RollAxis);
    w.f3(slot.PositionGainStart);
    w.f3(slot.PositionGainEnd);
    w.f3(slot.ScaleGainStart);
    w.f3(slot.ScaleGainEnd);
}

bool readSlotRecord(const uint8_t* data, size_t size, StirSlot& slot) {
    Reader r(data, size);
    if (!r.has(0, kSlotRecordLength)) {
        return false;
    }
    slot.No = r.i64(8);
    slot.remaining = r.i64(16);
    slot.Time = r.i64(24);
    slot.StartDelay = r.i64(32);
    slot.Delay = r.i64(40);
    slot.AfterDelay = r.i64(48);
    slot.TimeGainStart = r.f32(56);
    slot.TimeGainEnd = r.f32(60);
    slot.Loop = r.i64(64);
    slot.AutoDeleteFlag = r.u8(72) != 0;
    slot.Position = r.f3(76);
    slot.Scale = r.f3(88);
    slot.Roll = r.f32(100);
    slot.Transmittance = r.f32(104);
    slot.Rate = r.f32(108);
    slot.PositionCenter = r.f3(112);
    slot.ScaleCenter = r.f3(124);
    slot.RollCenter = r.f3(136);
    slot.RollAxis = r.f3(148);
    slot.PositionGainStart = r.f3(160);
    slot.PositionGainEnd = r.f3(172);
    slot.ScaleGainStart = r.f3(184);
    slot.ScaleGainEnd = r.f3(196);
    return true;
}

void writeObjectRecord(const GraphicObject& object, std::vector<uint8_t>& out) {
    const LayerPath path = pathOf(object);
    const GraphicSource* source = object.source.get();
    const std::string& name = source ? source->name() : std::string();
    const int64_t pathOffset = kObjectRecordHeaderLength;
    const int64_t pathLength = static_cast<int64_t>(path.size()) * 8;
    const int64_t textOffset = pathOffset + pathLength;
    const int64_t textLength = static_cast<int64_t>(object.text.size()) + 1;
    const int64_t nameOffset = textOffset + textLength;
    const int64_t nameLength = source ? static_cast<int64_t>(name.size()) + 1 : 0;
    const int64_t slotOffset = nameOffset + nameLength;
    const int64_t total =
        slotOffset + static_cast<int64_t>(object.slots.size()) * kSlotRecordLength;

    out.reserve(out.size() + static_cast<size_t>(total));
    Writer w(out);
    w.i64(total);
    w.i64(kObjectRecordHeaderLength);
    w.i64(slotOffset);
    w.i32(static_cast<int32_t>(pathOffset));
    w.i32(static_cast<int32_t>(pathLength));
    w.i32(object.hide);
    w.i32(0);
    w.i64(object.StencilAction);
    writeOptional(w, object.textSetting);
    writeOptional(w, object.textLayout.fontOverride);
    writeOptional(w, object.textLayout.colorOverride);
    w.u8(0);
    w.u8(object.byteFlag);
    w.zeros(2);
    w.i32(static_cast<int32_t>(textOffset));
    w.i32(static_cast<int32_t>(textLength));
    w.i32(source ? static_cast<int32_t>(source->kind()) : 0);
    w.i32(source ? static_cast<int32_t>(nameOffset) : 0);
    w.i32(static_cast<int32_t>(nameLength));
    w.i32(source ? source->key().value1 : 0);
    w.i32(source ? source->key().value2 : 0);
    w.i32(source && source->unique() ? 1 : 0);
    w.i32(0);
    for (int64_t number : path) {
        w.i64(number);
    }
    w.bytes(object.text);
    if (source) {
        w.bytes(name);
    }
    for (const auto& [number, slot] : object.slots) {
        writeSlotRecord(slot, out);
    }
}

void writeObjectRecords(const GraphicObject& root, std::vector<uint8_t>& out) {
    writeObjectRecord(root, out);
    for (const auto& [number, child] : root.layerChildren) {
        writeObjectRecords(*child, out);
    }
}

size_t readObjectRecord(const uint8_t* data, size_t size, GraphicObject* screenRoot) {
    Reader r(data, size);
    if (!r.has(0, kObjectRecordHeaderLength)) {
        return 0;
    }
    const int64_t total = r.i64(0);
    if (total < kObjectRecordHeaderLength || static_cast<uint64_t>(total) > size ||
        r.i64(8) != kObjectRecordHeaderLength) {
        return 0;
    }
    const auto length = static_cast<size_t>(total);
    const int64_t slotOffset = r.i64(16);
    const uint32_t pathOffset = r.u32(24);
    const uint32_t pathLength = r.u32(28);
    if (pathLength % 8 != 0 || pathOffset > length || pathLength > length - pathOffset ||
        slotOffset < kObjectRecordHeaderLength || static_cast<uint64_t>(slotOffset) > length) {
        return 0;
    }
    std::string text;
    std::string name;
    if (!readString(r, length, r.u32(100), r.u32(104), text)) {
        return 0;
    }
    const int32_t kind = r.i32(108);
    if (kind != 0 && !readString(r, length, r.u32(112), r.u32(116), name)) {
        return 0;
    }
    LayerPath path;
    for (uint32_t at = 0; at < pathLength; at += 8) {
        path.push_back(r.i64(pathOffset + at));
    }
    if (!path.empty()) {
        path.erase(path.begin());
    }
    GraphicObject* object = GraphicObject::create(screenRoot, path);
    if (object == nullptr) {
        return length;  // the root's own record, or nowhere to put it
    }
    object->releaseSource();
    if (kind != 0) {
        object->setSource(
            sourceCache().acquire(kind, name, r.i32(120), r.i32(124), r.i32(128) != 0));
    }
    object->hide = r.i32(32);
    object->StencilAction = r.i64(40);
    object->textSetting = readOptional(r, 48);
    object->textLayout.fontOverride = readOptional(r, 64);
    object->textLayout.colorOverride = readOptional(r, 80);
    object->byteFlag = r.u8(97);
    object->text = text;

    size_t at = static_cast<size_t>(slotOffset);
    while (at < length) {
        const size_t left = length - at;
        if (left < 8) {
            break;
        }
        const int64_t slotLength = r.i64(at);
        if (slotLength <= 0 || static_cast<uint64_t>(slotLength) > left) {
            break;
        }
        StirSlot slot;
        if (!readSlotRecord(data + at, static_cast<size_t>(slotLength), slot)) {
            break;
        }
        object->slots[slot.No] = slot;
        at += static_cast<size_t>(slotLength);
    }
    if (TextEngineHooks* hooks = textEngineHooks()) {
        hooks->relayout(*object);
    }
    return length;
}

size_t readObjectRecords(const uint8_t* data, size_t size, GraphicObject* screenRoot) {
    size_t count = 0;
    size_t at = 0;
    while (at < size) {
        const size_t used = readObjectRecord(data + at, size - at, screenRoot);
        if (used == 0) {
            break;
        }
        at += used;
        ++count;
    }
    return count;
}

}  // namespace vaxo2::graphics
