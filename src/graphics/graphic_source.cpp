#include "graphics/graphic_source.h"

#include <array>

#include "graphics/render_backend.h"

namespace vaxo2::graphics {

GraphicSource::~GraphicSource() {
    releaseTextures();
}

void GraphicSource::releaseTextures() {
    if (backend != nullptr && !sharedTextures) {
        for (const Tile& tile : tiles) {
            if (tile.texture != 0) {
                backend->destroyTexture(tile.texture);
            }
        }
    }
    tiles.clear();
    renderTarget = 0;
    backend = nullptr;
    state = 0;
}

SourceRef::SourceRef(const SourceRef& other) : source_(other.source_) {
    if (source_ != nullptr) {
        if (source_->cache_ != nullptr) {
            source_->cache_->addReference(source_);
        } else {
            ++source_->references_;
        }
    }
}

void SourceRef::reset() {
    GraphicSource* source = source_;
    source_ = nullptr;
    if (source == nullptr) {
        return;
    }
    if (source->cache_ != nullptr) {
        source->cache_->dropReference(source);
    } else if (--source->references_ <= 0) {
        delete source;
    }
}

SourceRef SourceCache::acquire(int32_t kind, const std::string& name, int32_t value1,
                               int32_t value2, bool unique) {
    SourceKey key{kind, name, value1, value2};
    std::lock_guard lock(mutex_);
    if (!unique) {
        auto range = entries_.equal_range(key);
        for (auto it = range.first; it != range.second; ++it) {
            if (!it->second->unique_) {
                ++it->second->references_;
                return SourceRef(it->second);
            }
        }
    }
    auto* source = new GraphicSource(key, unique);
    source->cache_ = this;
    source->references_ = 1;
    entries_.emplace(std::move(key), source);
    return SourceRef(source);
}

bool SourceCache::holds(int32_t kind, const std::string& name) const {
    std::lock_guard lock(mutex_);
    auto range = entries_.equal_range(SourceKey{kind, name, 0, 0});
    for (auto it = range.first; it != range.second; ++it) {
        if (!it->second->unique_) return true;
    }
    return false;
}

size_t SourceCache::size() const {
    std::lock_guard lock(mutex_);
    return entries_.size();
}

void SourceCache::forEach(const std::function<void(GraphicSource&)>& visit) {
    std::lock_guard lock(mutex_);
    for (auto& [key, source] : entries_) {
        visit(*source);
    }
}

void SourceCache::addReference(GraphicSource* source) {
    std::lock_guard lock(mutex_);
    ++source->references_;
}

void SourceCache::dropReference(GraphicSource* source) {
    std::unique_lock lock(mutex_);
    if (--source->references_ > 0) {
        return;
    }
    auto range = entries_.equal_range(source->key_);
    for (auto it = range.first; it != range.second; ++it) {
        if (it->second == source) {
            entries_.erase(it);
            break;
        }
    }
    lock.unlock();
    delete source;
}

SourceCache& sourceCache() {
    static SourceCache cache;
    return cache;
}

SourceCache& shaderCache() {
    static SourceCache cache;
    return cache;
}

namespace {
std::array<SourceRealizer, 6>& realizers() {
    static std::array<SourceRealizer, 6> table;
    return table;
}
}  // namespace

void setSourceRealizer(SourceKind kind, SourceRealizer realizer) {
    const auto index = static_cast<size_t>(kind);
    if (index < realizers().size()) {
        realizers()[index] = std::move(realizer);
    }
}

const SourceRealizer* sourceRealizer(SourceKind kind) {
    const auto index = static_cast<size_t>(kind);
    if (index < realizers().size() && realizers()[index]) {
        return &realizers()[index];
    }
    return nullptr;
}

}  // namespace vaxo2::graphics
