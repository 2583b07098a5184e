#include "script/flags.h"

namespace vaxo2::script {

int64_t FlagArray::get(int64_t n) const {
    if (n < 0 || n >= kCount) return 0;
    return values_[static_cast<size_t>(n)].load(std::memory_order_relaxed);
}

void FlagArray::set(int64_t n, int64_t value) {
    if (n < 0 || n >= kCount) return;
    values_[static_cast<size_t>(n)].store(value, std::memory_order_relaxed);
}

void FlagArray::clear() {
    for (auto& v : values_)
        v.store(0, std::memory_order_relaxed);
}

std::array<uint8_t, FlagArray::kByteSize> FlagArray::bytes() const {
    std::array<uint8_t, kByteSize> out{};
    for (size_t i = 0; i < kCount; ++i) {
        uint64_t v = static_cast<uint64_t>(values_[i].load(std::memory_order_relaxed));
        for (size_t b = 0; b < 8; ++b)
            out[i * 8 + b] = static_cast<uint8_t>(v >> (8 * b));
    }
    return out;
}

bool FlagArray::setBytes(const uint8_t* data, size_t size) {
    if (!data || size < kByteSize) return false;
    for (size_t i = 0; i < kCount; ++i) {
        uint64_t v = 0;
        for (size_t b = 0; b < 8; ++b)
            v |= static_cast<uint64_t>(data[i * 8 + b]) << (8 * b);
        values_[i].store(static_cast<int64_t>(v), std::memory_order_relaxed);
    }
    return true;
}

FlagArray& localFlags() {
    static FlagArray flags;
    return flags;
}

FlagArray& globalFlags() {
    static FlagArray flags;
    return flags;
}

}  // namespace vaxo2::script
