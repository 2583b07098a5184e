#include "io/pack_writer.h"

#include <cerrno>
#include <cstring>

#include "io/data_file.h"
#include "io/pack_archive.h"

namespace vaxo2::io {

namespace {

void putU32(std::vector<uint8_t>& out, uint32_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
    out.push_back(static_cast<uint8_t>(v >> 16));
    out.push_back(static_cast<uint8_t>(v >> 24));
}

// Header, index and names for entries whose data sizes are known; data follows directly.
bool buildFront(const std::vector<PackItem>& items, const std::vector<uint64_t>& sizes,
                uint64_t base, std::vector<uint8_t>& front, std::string& error) {
    uint64_t indexSize = uint64_t{items.size()} * kPackIndexEntrySize;
    uint64_t namesSize = 0;
    for (const auto& item : items) {
        if (item.name.find('\0') != std::string::npos) {
            error = "a name holds a zero byte: " + item.name;
            return false;
        }
        namesSize += item.name.size() + 1;
    }
    uint64_t dataStart = base + kPackHeaderSize + indexSize + namesSize;
    uint64_t end = dataStart;
    for (uint64_t s : sizes) {
        end += s;
    }
    if (indexSize > UINT32_MAX || end > UINT32_MAX) {
        error = "the pack would exceed 4 GiB, which its 32-bit offsets cannot address";
        return false;
    }
    front.clear();
    front.reserve(static_cast<size_t>(kPackHeaderSize + indexSize + namesSize));
    front.insert(front.end(), kPackSignature, kPackSignature + sizeof kPackSignature);
    putU32(front, static_cast<uint32_t>(base + kPackHeaderSize));
    putU32(front, static_cast<uint32_t>(indexSize));
    uint64_t nameOffset = base + kPackHeaderSize + indexSize;
    uint64_t dataOffset = dataStart;
    for (size_t i = 0; i < items.size(); ++i) {
        putU32(front, static_cast<uint32_t>(nameOffset));
        putU32(front, static_cast<uint32_t>(items[i].name.size() + 1));
        putU32(front, static_cast<uint32_t>(dataOffset));
        putU32(front, static_cast<uint32_t>(sizes[i]));
        putU32(front, 0);
        nameOffset += items[i].name.size() + 1;
        dataOffset += sizes[i];
    }
    for (const auto& item : items) {
        front.insert(front.end(), item.name.begin(), item.name.end());
        front.push_back(0);
    }
    return true;
}

bool itemSizes(const std::vector<PackItem>& items, std::vector<uint64_t>& sizes,
               std::string& error) {
    sizes.clear();
    for (const auto& item : items) {
        if (item.sourcePath.empty()) {
            sizes.push_back(item.bytes.size());
            continue;
        }
        DataFile in;
        if (!in.openForReading(item.sourcePath, false)) {
            error = "cannot read " + item.sourcePath + ": " + std::strerror(in.lastError());
            return false;
        }
        uint64_t size = in.size();
        if (size == DataFile::kError) {
            error = "cannot size " + item.sourcePath;
            return false;
        }
        sizes.push_back(size);
    }
    return true;
}

bool writeAll(DataFile& out, const uint8_t* data, uint64_t size, const std::string& path,
              std::string& error) {
    while (size > 0) {
        uint32_t part = static_cast<uint32_t>(size < (1u << 30) ? size : (1u << 30));
        if (out.write(data, part) != part) {
            error = "cannot write " + path + ": " + std::strerror(out.lastError());
            return false;
        }
        data += part;
        size -= part;
    }
    return true;
}

bool writeItems(DataFile& out, const std::string& outPath, const std::vector<PackItem>& items,
                const std::vector<uint64_t>& sizes, std::string& error) {
    std::vector<uint8_t> buffer(1 << 20);
    for (size_t i = 0; i < items.size(); ++i) {
        const PackItem& item = items[i];
        if (item.sourcePath.empty()) {
            if (!writeAll(out, item.bytes.data(), item.bytes.size(), outPath, error)) {
                return false;
            }
            continue;
        }
        DataFile in;
        if (!in.openForReading(item.sourcePath, false)) {
            error = "cannot read " + item.sourcePath;
            return false;
        }
        uint64_t left = sizes[i];
        while (left > 0) {
            uint32_t want = static_cast<uint32_t>(left < buffer.size() ? left : buffer.size());
            uint32_t got = in.read(buffer.data(), want);
            if (got != want) {
                error = item.sourcePath + " changed while it was being packed";
                return false;
            }
            if (!writeAll(out, buffer.data(), got, outPath, error)) {
                return false;
            }
            left -= got;
        }
    }
    return true;
}

}  // namespace

bool writePackFile(const std::string& outPath, const std::vector<PackItem>& items,
                   std::string& error) {
    std::vector<uint64_t> sizes;
    std::vector<uint8_t> front;
    if (!itemSizes(items, sizes, error) || !buildFront(items, sizes, 0, front, error)) {
        return false;
    }
    DataFile out;
    if (!out.openForWriting(outPath, false, false)) {
        error = "cannot create " + outPath + ": " + std::strerror(out.lastError());
        return false;
    }
    return writeAll(out, front.data(), front.size(), outPath, error) &&
           writeItems(out, outPath, items, sizes, error);
}

bool appendPackToFile(const std::string& hostPath, const std::vector<PackItem>& items,
                      std::string& error) {
    std::vector<uint64_t> sizes;
    if (!itemSizes(items, sizes, error)) {
        return false;
    }
    DataFile out;
    if (!out.openForWriting(hostPath, false, true)) {
        error = "cannot open " + hostPath + ": " + std::strerror(out.lastError());
        return false;
    }
    uint64_t base = out.seek(0, DataFile::kEnd);
    if (base == DataFile::kError) {
        error = "cannot seek in " + hostPath;
        return false;
    }
    if (base > INT32_MAX) {
        error = "the host file is too large to carry a pack (2 GiB at most)";
        return false;
    }
    std::vector<uint8_t> front;
    if (!buildFront(items, sizes, base, front, error)) {
        return false;
    }
    std::vector<uint8_t> trailer(kEmbeddedPackMarker,
                                 kEmbeddedPackMarker + kEmbeddedPackMarkerSize);
    putU32(trailer, static_cast<uint32_t>(base));
    putU32(trailer, 0);
    return writeAll(out, front.data(), front.size(), hostPath, error) &&
           writeItems(out, hostPath, items, sizes, error) &&
           writeAll(out, trailer.data(), trailer.size(), hostPath, error);
}

std::vector<uint8_t> buildPack(const std::vector<PackItem>& items, uint32_t base) {
    std::vector<uint64_t> sizes;
    for (const auto& item : items) {
        sizes.push_back(item.bytes.size());
    }
    std::vector<uint8_t> out;
    std::string error;
    if (!buildFront(items, sizes, base, out, error)) {
        return {};
    }
    for (const auto& item : items) {
        out.insert(out.end(), item.bytes.begin(), item.bytes.end());
    }
    return out;
}

}  // namespace vaxo2::io
