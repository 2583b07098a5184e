#pragma once
// The two process-wide arrays of script flags. Numbers outside 0..99 are ignored: reads give 0
// and writes change nothing, so no script can reach memory outside the arrays.
#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>

namespace vaxo2::script {

class FlagArray {
  public:
    static constexpr int kCount = 100;
    static constexpr size_t kByteSize = kCount * 8;

    FlagArray() { clear(); }
    FlagArray(const FlagArray&) = delete;
    FlagArray& operator=(const FlagArray&) = delete;

    int64_t get(int64_t n) const;
    void set(int64_t n, int64_t value);
    void clear();

    // The 800-byte little-endian image, entry 0 first.
    std::array<uint8_t, kByteSize> bytes() const;
    // Restores from an image; false (and nothing changed) when fewer than 800 bytes are given.
    bool setBytes(const uint8_t* data, size_t size);

  private:
    // Entries are atomic so that a save on another thread never reads a half-written value.
    std::array<std::atomic<int64_t>, kCount> values_;
};

FlagArray& localFlags();
FlagArray& globalFlags();

inline int64_t localFlag(int64_t n) {
    return localFlags().get(n);
}
inline void setLocalFlag(int64_t n, int64_t v) {
    localFlags().set(n, v);
}
inline int64_t globalFlag(int64_t n) {
    return globalFlags().get(n);
}
inline void setGlobalFlag(int64_t n, int64_t v) {
    globalFlags().set(n, v);
}
inline std::array<uint8_t, FlagArray::kByteSize> localFlagBytes() {
    return localFlags().bytes();
}
inline std::array<uint8_t, FlagArray::kByteSize> globalFlagBytes() {
    return globalFlags().bytes();
}

}  // namespace vaxo2::script
