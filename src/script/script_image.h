#pragma once
// A compiled script: four flat tables (statements, argument lists, elements, data pool), the
// "VXS002" binary layout that stores them, and the per-script run-time context.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "script/script_value.h"

namespace vaxo2::script {

enum class ElementKind : int32_t {
    Command = 1,
    Name = 2,
    Parenthesis = 3,
    Label = 4,
    Variable = 5,
    Integer = 6,
    Real = 7,
    String = 8,
    List = 9,
};

struct ScriptElement {
    int32_t kind = 0;
    int32_t name = -1;  // DataPool offset or -1
    int32_t link = -1;  // meaning depends on kind
    bool operator==(const ScriptElement&) const = default;
};

constexpr size_t kImageHeaderSize = 48;
constexpr size_t kStateRecordHeaderSize = 64;
inline constexpr char kImageMagic[] = "VXS002";

struct ScriptImage {
    std::vector<int32_t> commandList;
    std::vector<int32_t> argumentLists;
    std::vector<ScriptElement> elementTable;
    std::vector<uint8_t> dataPool;
    int32_t temporaryCount = 0;

    void clear();

    // Bounds-checked accessors: every reference read from an image is checked when used.
    const ScriptElement* element(int32_t index) const;
    // The NUL-terminated pool text at `offset`; nothing when the offset or its terminator is
    // outside the pool.
    std::optional<std::string_view> text(int32_t offset) const;
    std::optional<int64_t> integerAt(int32_t offset) const;
    std::optional<double> realAt(int32_t offset) const;
    // The argument list at `position`: count and a pointer to its element indices. Nothing
    // when the count word or any of its entries lies outside the table (or the count is
    // negative).
    struct ArgumentList {
        int32_t count = 0;
        const int32_t* items = nullptr;
    };
    std::optional<ArgumentList> argumentList(int32_t position) const;
};

// Fills `image` from "VXS002" bytes: each table is taken only when its own offset and size lie
// inside the bytes; the others load regardless. False (and an empty image) when the bytes are
// no image at all.
bool parseImage(const uint8_t* bytes, size_t size, ScriptImage& image);
std::vector<uint8_t> writeImage(const ScriptImage& image);
bool hasImageMagic(const uint8_t* bytes, size_t size);

// One loaded script.
struct ScriptContext {
    std::string name;
    ScriptImage image;
    uint8_t* readMarks = nullptr;  // one byte per CommandList entry, owned by the read record
    int32_t currentIndex = 0;
    int32_t nextIndex = 0;
    uint8_t isSystemScript = 0;
    uint8_t reservedByte = 0;
    std::vector<ScriptValue> temporaries;
    ScriptValue result;

    int32_t commandCount() const { return static_cast<int32_t>(image.commandList.size()); }
    bool ended() const { return currentIndex >= commandCount(); }
    // Sizes the temporaries to the image's temporaryCount. A count read from a damaged image
    // is bounded by the number of elements (each temporary has a Variable element), so a
    // corrupt header cannot demand an unbounded allocation.
    void sizeTemporaries();
};

// A save-slot record of one context (header, name, image).
std::vector<uint8_t> writeStateRecord(const ScriptContext& context);
// Reads records back to back from `bytes`, appending one context per record to `out`; stops
// at the first record whose size is 64 or less or runs past the end. Returns the number read.
size_t readStateRecords(const uint8_t* bytes, size_t size,
                        std::vector<std::unique_ptr<ScriptContext>>& out);

}  // namespace vaxo2::script
