#pragma once
// Drawables shared between objects: an image, a movie frame, a text surface or a render target.
// Sources live in a process-wide cache keyed by kind, name and creation values, counted by
// references, and are realized (textures created) lazily at their first draw.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <tuple>
#include <vector>

#include "queue/queued_command.h"

namespace vaxo2::graphics {

class RenderBackend;
class SourceCache;
using Float3 = queue::Float3;

enum class SourceKind : int32_t {
    None = 0,
    Image = 1,
    Movie = 2,
    TextSurface = 3,
    RenderTarget = 5,
};
// In the shader cache, kind 2 is a pixel shader.
constexpr int32_t kShaderKindPixel = 2;

struct TileVertex {
    float x = 0, y = 0, z = 0;
    uint32_t diffuse = 0xFFFFFFFFu;
    float u = 0, v = 0;
};

// A GPU texture as the engine sees it: an opaque id handed out by the Gpu (0 = none).
using TextureId = uint64_t;

struct Tile {
    TextureId texture = 0;
    // Strip order: top-left, top-right, bottom-left, bottom-right.
    TileVertex vertices[4];
};

struct SourceKey {
    int32_t kind = 0;
    std::string name;
    int32_t value1 = 0;
    int32_t value2 = 0;
    bool operator<(const SourceKey& o) const {
        return std::tie(kind, name, value1, value2) < std::tie(o.kind, o.name, o.value1, o.value2);
    }
    bool operator==(const SourceKey&) const = default;
};

// Content of kinds whose pixels come from elsewhere (movie frames, text glyphs) hangs here.
class SourceExtension {
  public:
    virtual ~SourceExtension() = default;
};

class GraphicSource {
  public:
    GraphicSource(SourceKey key, bool unique) : key_(std::move(key)), unique_(unique) {}
    ~GraphicSource();
    GraphicSource(const GraphicSource&) = delete;
    GraphicSource& operator=(const GraphicSource&) = delete;

    const SourceKey& key() const { return key_; }
    SourceKind kind() const { return static_cast<SourceKind>(key_.kind); }
    const std::string& name() const { return key_.name; }
    bool unique() const { return unique_; }
    int32_t references() const { return references_; }

    static constexpr int32_t kFailed = 2;
    bool ready() const { return state == 1; }
    // Reading or decoding failed: not tried again at each draw, only when an object loads the
    // source anew or the textures are released (see pictureFailures()).
    bool failed() const { return state == kFailed; }

    // Drops the textures (device reset, shutdown) so that the next draw rebuilds them.
    void releaseTextures();

    int32_t state = 0;  // 0 not realized, 1 ready, kFailed
    int32_t width = 0;
    int32_t height = 0;
    int32_t tileWidth = 0;
    int32_t tileHeight = 0;
    int32_t paddedWidth = 0;
    int32_t paddedHeight = 0;
    std::vector<Tile> tiles;
    Float3 offset{0, 0, 0};
    Float3 scale{1, 1, 1};
    uint32_t changeCount = 0;
    // Render targets: the depth-stencil surface that goes with the colour texture.
    TextureId renderTarget = 0;
    // Render targets: the root whose subtree the target holds now (only compared, never used).
    const void* renderedBy = nullptr;
    // Movie and text sources keep their decoder state here.
    std::unique_ptr<SourceExtension> extension;
    // The backend the textures were made on (to release them).
    RenderBackend* backend = nullptr;
    // The tiles show parts of textures owned elsewhere (glyph pages): a release forgets them
    // instead of destroying them.
    bool sharedTextures = false;

  private:
    friend class SourceCache;
    friend class SourceRef;
    SourceCache* cache_ = nullptr;
    SourceKey key_;
    bool unique_;
    int32_t references_ = 0;
};

// Reference-counted handle: copying adds a reference, destruction drops it.
class SourceRef {
  public:
    SourceRef() = default;
    explicit SourceRef(GraphicSource* adopted) : source_(adopted) {}  // takes one reference
    SourceRef(const SourceRef& other);
    SourceRef(SourceRef&& other) noexcept : source_(other.source_) { other.source_ = nullptr; }
    SourceRef& operator=(SourceRef other) noexcept {
        std::swap(source_, other.source_);
        return *this;
    }
    ~SourceRef() { reset(); }

    void reset();
    GraphicSource* get() const { return source_; }
    GraphicSource* operator->() const { return source_; }
    GraphicSource& operator*() const { return *source_; }
    explicit operator bool() const { return source_ != nullptr; }

  private:
    GraphicSource* source_ = nullptr;
};

// One cache for drawable sources and one for shaders.
class SourceCache {
  public:
    // Looks the key up unless `unique`; on a hit adds a reference, on a miss creates the
    // source with one reference.
    SourceRef acquire(int32_t kind, const std::string& name, int32_t value1 = 0, int32_t value2 = 0,
                      bool unique = false);
    size_t size() const;
    // Whether a shared source of this kind and name is cached (it may not be realized yet).
    bool holds(int32_t kind, const std::string& name) const;
    // Every cached source, for device resets.
    void forEach(const std::function<void(GraphicSource&)>& visit);

  private:
    friend class SourceRef;
    void addReference(GraphicSource* source);
    void dropReference(GraphicSource* source);

    mutable std::recursive_mutex mutex_;
    std::multimap<SourceKey, GraphicSource*> entries_;
};

SourceCache& sourceCache();
SourceCache& shaderCache();

// Realizing a kind other than image and render target is done by the subsystem that owns its
// pixels (movie, text); it registers here. Returns false when not ready yet.
using SourceRealizer = std::function<bool(GraphicSource&, RenderBackend&)>;
void setSourceRealizer(SourceKind kind, SourceRealizer realizer);
const SourceRealizer* sourceRealizer(SourceKind kind);

}  // namespace vaxo2::graphics
