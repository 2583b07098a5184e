#pragma once
// The serialized form of a layer tree that save slots carry: one self-contained little-endian
// record per object (parent first, then layer children in ascending number; glyph children are
// left to the text engine to rebuild), each followed by its slot records.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "graphics/graphic_object.h"

namespace vaxo2::graphics {

constexpr int64_t kObjectRecordHeaderLength = 136;
constexpr int64_t kSlotRecordLength = 208;

// Appends the record of one object.
void writeObjectRecord(const GraphicObject& object, std::vector<uint8_t>& out);
// Appends the records of an object and its layer subtree.
void writeObjectRecords(const GraphicObject& root, std::vector<uint8_t>& out);

// Reads one record at the start of `data` and restores it under `screenRoot`. Returns the
// record's length, or 0 when the bytes do not hold a well-formed record (nothing is changed
// then). The root's own record (a path of one level) is accepted and changes nothing.
size_t readObjectRecord(const uint8_t* data, size_t size, GraphicObject* screenRoot);
// Reads records one after another until the bytes end or a record is malformed; returns the
// number of records read.
size_t readObjectRecords(const uint8_t* data, size_t size, GraphicObject* screenRoot);

void writeSlotRecord(const StirSlot& slot, std::vector<uint8_t>& out);
// Reads a slot record of at least kSlotRecordLength bytes; false when too short.
bool readSlotRecord(const uint8_t* data, size_t size, StirSlot& slot);

}  // namespace vaxo2::graphics
