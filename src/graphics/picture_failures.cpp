#include "graphics/picture_failures.h"

#include <cstdio>

namespace vaxo2::graphics {
namespace {

// Names of distinct failing pictures kept; beyond it the record starts afresh, so a script
// that names endless missing files cannot grow it without bound.
constexpr size_t kMaxRemembered = 4096;

// FNV-1a over the size and the bytes; a fixed value stands for a file that could not be read.
uint64_t fingerprint(const std::vector<uint8_t>* bytes) {
    if (bytes == nullptr) return 0;
    uint64_t hash = 0xCBF29CE484222325ull;
    auto mix = [&hash](uint8_t byte) {
        hash ^= byte;
        hash *= 0x100000001B3ull;
    };
    for (int shift = 0; shift < 64; shift += 8)
        mix(static_cast<uint8_t>(bytes->size() >> shift));
    for (uint8_t byte : *bytes)
        mix(byte);
    return hash | 1;  // never the value of an unreadable file
}

// The name as written, with control characters shown as escapes so a hostile name cannot
// rewrite the terminal.
std::string printable(const std::string& name) {
    std::string out;
    for (unsigned char c : name) {
        if (c < 0x20 || c == 0x7F) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\x%02X", c);
            out += escape;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

}  // namespace

bool PictureFailures::failedBefore(const std::string& name,
                                   const std::vector<uint8_t>* bytes) const {
    std::lock_guard lock(mutex_);
    auto it = fingerprints_.find(name);
    return it != fingerprints_.end() && it->second == fingerprint(bytes);
}

void PictureFailures::remember(const std::string& name, const std::vector<uint8_t>* bytes,
                               const std::string& reason) {
    const uint64_t print = fingerprint(bytes);
    Sink sink;
    {
        std::lock_guard lock(mutex_);
        auto it = fingerprints_.find(name);
        if (it != fingerprints_.end() && it->second == print) return;
        if (it == fingerprints_.end() && fingerprints_.size() >= kMaxRemembered)
            fingerprints_.clear();
        fingerprints_[name] = print;
        sink = sink_;
    }
    if (sink) {
        sink(name, reason);
    } else {
        std::fprintf(stderr, "vaxo2: picture \"%s\": %s\n", printable(name).c_str(),
                     reason.c_str());
    }
}

void PictureFailures::forget(const std::string& name) {
    std::lock_guard lock(mutex_);
    fingerprints_.erase(name);
}

void PictureFailures::clear() {
    std::lock_guard lock(mutex_);
    fingerprints_.clear();
}

void PictureFailures::setSink(Sink sink) {
    std::lock_guard lock(mutex_);
    sink_ = std::move(sink);
}

PictureFailures& pictureFailures() {
    static PictureFailures failures;
    return failures;
}

}  // namespace vaxo2::graphics
