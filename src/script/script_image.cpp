#include "script/script_image.h"

#include <algorithm>
#include <cstring>

namespace vaxo2::script {
namespace {

uint32_t readU32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

int32_t readI32(const uint8_t* p) {
    return static_cast<int32_t>(readU32(p));
}

uint64_t readU64(const uint8_t* p) {
    return static_cast<uint64_t>(readU32(p)) | (static_cast<uint64_t>(readU32(p + 4)) << 32);
}

void putU32(std::vector<uint8_t>& out, size_t at, uint32_t v) {
    for (size_t b = 0; b < 4; ++b)
        out[at + b] = static_cast<uint8_t>(v >> (8 * b));
}

void appendU32(std::vector<uint8_t>& out, uint32_t v) {
    for (size_t b = 0; b < 4; ++b)
        out.push_back(static_cast<uint8_t>(v >> (8 * b)));
}

// The table at header words (offsetWord, sizeWord), or nothing when it lies outside.
bool tableSpan(const uint8_t* bytes, size_t size, size_t headerAt, size_t& begin, size_t& length) {
    uint64_t offset = readU32(bytes + headerAt);
    uint64_t bytesLen = readU32(bytes + headerAt + 4);
    if (offset >= size || bytesLen == 0 || offset + bytesLen > size) return false;
    begin = static_cast<size_t>(offset);
    length = static_cast<size_t>(bytesLen);
    return true;
}

}  // namespace

void ScriptImage::clear() {
    commandList.clear();
    argumentLists.clear();
    elementTable.clear();
    dataPool.clear();
    temporaryCount = 0;
}

const ScriptElement* ScriptImage::element(int32_t index) const {
    if (index < 0 || static_cast<size_t>(index) >= elementTable.size()) return nullptr;
    return &elementTable[static_cast<size_t>(index)];
}

std::optional<std::string_view> ScriptImage::text(int32_t offset) const {
    if (offset < 0 || static_cast<size_t>(offset) >= dataPool.size()) return std::nullopt;
    const uint8_t* start = dataPool.data() + offset;
    size_t avail = dataPool.size() - static_cast<size_t>(offset);
    const void* nul = std::memchr(start, 0, avail);
    if (!nul) return std::nullopt;
    return std::string_view(reinterpret_cast<const char*>(start),
                            static_cast<size_t>(static_cast<const uint8_t*>(nul) - start));
}

std::optional<int64_t> ScriptImage::integerAt(int32_t offset) const {
    if (offset < 0 || static_cast<size_t>(offset) + 8 > dataPool.size()) return std::nullopt;
    return static_cast<int64_t>(readU64(dataPool.data() + offset));
}

std::optional<double> ScriptImage::realAt(int32_t offset) const {
    if (offset < 0 || static_cast<size_t>(offset) + 8 > dataPool.size()) return std::nullopt;
    uint64_t bits = readU64(dataPool.data() + offset);
    double v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}

std::optional<ScriptImage::ArgumentList> ScriptImage::argumentList(int32_t position) const {
    if (position < 0 || static_cast<size_t>(position) >= argumentLists.size()) return std::nullopt;
    int32_t count = argumentLists[static_cast<size_t>(position)];
    if (count < 0 ||
        static_cast<size_t>(count) > argumentLists.size() - static_cast<size_t>(position) - 1)
        return std::nullopt;
    return ArgumentList{count, argumentLists.data() + position + 1};
}

bool hasImageMagic(const uint8_t* bytes, size_t size) {
    return bytes && size >= 6 && std::memcmp(bytes, kImageMagic, 6) == 0;
}

bool parseImage(const uint8_t* bytes, size_t size, ScriptImage& image) {
    image.clear();
    if (!hasImageMagic(bytes, size) || size < kImageHeaderSize) return false;
    size_t begin = 0, length = 0;
    if (tableSpan(bytes, size, 12, begin, length)) {
        image.commandList.resize(length / 4);
        for (size_t i = 0; i < image.commandList.size(); ++i)
            image.commandList[i] = readI32(bytes + begin + i * 4);
    }
    if (tableSpan(bytes, size, 20, begin, length)) {
        image.argumentLists.resize(length / 4);
        for (size_t i = 0; i < image.argumentLists.size(); ++i)
            image.argumentLists[i] = readI32(bytes + begin + i * 4);
    }
    if (tableSpan(bytes, size, 28, begin, length)) {
        image.elementTable.resize(length / 12);
        for (size_t i = 0; i < image.elementTable.size(); ++i) {
            const uint8_t* p = bytes + begin + i * 12;
            image.elementTable[i] = ScriptElement{readI32(p), readI32(p + 4), readI32(p + 8)};
        }
    }
    if (tableSpan(bytes, size, 36, begin, length))
        image.dataPool.assign(bytes + begin, bytes + begin + length);
    image.temporaryCount = readI32(bytes + 44);
    return true;
}

std::vector<uint8_t> writeImage(const ScriptImage& image) {
    std::vector<uint8_t> out(kImageHeaderSize, 0);
    std::memcpy(out.data(), kImageMagic, 6);
    putU32(out, 8, static_cast<uint32_t>(kImageHeaderSize));

    auto mark = [&](size_t headerAt, size_t start) {
        putU32(out, headerAt, static_cast<uint32_t>(start));
        putU32(out, headerAt + 4, static_cast<uint32_t>(out.size() - start));
    };
    size_t start = out.size();
    for (int32_t v : image.commandList)
        appendU32(out, static_cast<uint32_t>(v));
    mark(12, start);
    start = out.size();
    for (int32_t v : image.argumentLists)
        appendU32(out, static_cast<uint32_t>(v));
    mark(20, start);
    start = out.size();
    for (const ScriptElement& e : image.elementTable) {
        appendU32(out, static_cast<uint32_t>(e.kind));
        appendU32(out, static_cast<uint32_t>(e.name));
        appendU32(out, static_cast<uint32_t>(e.link));
    }
    mark(28, start);
    start = out.size();
    out.insert(out.end(), image.dataPool.begin(), image.dataPool.end());
    mark(36, start);
    putU32(out, 44, static_cast<uint32_t>(image.temporaryCount));
    return out;
}

void ScriptContext::sizeTemporaries() {
    int64_t count = image.temporaryCount;
    if (count < 0) count = 0;
    count = std::min<int64_t>(count, static_cast<int64_t>(image.elementTable.size()));
    temporaries.assign(static_cast<size_t>(count), ScriptValue{});
}

std::vector<uint8_t> writeStateRecord(const ScriptContext& context) {
    std::vector<uint8_t> image = writeImage(context.image);
    const size_t nameSize = context.name.size() + 1;
    const size_t total = kStateRecordHeaderSize + nameSize + image.size();
    std::vector<uint8_t> out(kStateRecordHeaderSize, 0);
    out.reserve(total);
    putU32(out, 0, static_cast<uint32_t>(static_cast<uint64_t>(total)));
    putU32(out, 4, static_cast<uint32_t>(static_cast<uint64_t>(total) >> 32));
    putU32(out, 8, static_cast<uint32_t>(kStateRecordHeaderSize));
    putU32(out, 12, static_cast<uint32_t>(nameSize));
    putU32(out, 16, static_cast<uint32_t>(kStateRecordHeaderSize + nameSize));
    putU32(out, 20, static_cast<uint32_t>(image.size()));
    putU32(out, 24, static_cast<uint32_t>(context.currentIndex));
    putU32(out, 28, static_cast<uint32_t>(context.nextIndex));
    out[32] = context.isSystemScript;
    out[33] = context.reservedByte;
    out.insert(out.end(), context.name.begin(), context.name.end());
    out.push_back(0);
    out.insert(out.end(), image.begin(), image.end());
    return out;
}

size_t readStateRecords(const uint8_t* bytes, size_t size,
                        std::vector<std::unique_ptr<ScriptContext>>& out) {
    size_t pos = 0;
    size_t count = 0;
    while (bytes && size - pos >= 8) {
        const int64_t total = static_cast<int64_t>(readU64(bytes + pos));
        if (total <= static_cast<int64_t>(kStateRecordHeaderSize) ||
            static_cast<uint64_t>(total) > size - pos)
            break;
        const uint8_t* rec = bytes + pos;
        const size_t recSize = static_cast<size_t>(total);
        auto context = std::make_unique<ScriptContext>();
        context->currentIndex = readI32(rec + 24);
        context->nextIndex = readI32(rec + 28);
        context->isSystemScript = rec[32];
        context->reservedByte = rec[33];
        // Name and image are taken only where the record's own offsets stay inside it.
        uint64_t nameAt = readU32(rec + 8), nameSize = readU32(rec + 12);
        if (nameAt < recSize && nameSize <= recSize - nameAt) {
            const char* n = reinterpret_cast<const char*>(rec + nameAt);
            size_t len = static_cast<size_t>(nameSize);
            const void* nul = std::memchr(n, 0, len);
            if (nul) len = static_cast<size_t>(static_cast<const char*>(nul) - n);
            context->name.assign(n, len);
        }
        uint64_t imageAt = readU32(rec + 16), imageSize = readU32(rec + 20);
        if (imageAt < recSize && imageSize <= recSize - imageAt)
            parseImage(rec + imageAt, static_cast<size_t>(imageSize), context->image);
        context->sizeTemporaries();
        out.push_back(std::move(context));
        ++count;
        pos += recSize;
    }
    return count;
}

}  // namespace vaxo2::script
