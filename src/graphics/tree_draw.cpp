#include "graphics/tree_draw.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "core/trace.h"
#include "graphics/picture_failures.h"
#include "graphics/picture_prefetch.h"

namespace vaxo2::graphics {

namespace {

// Pictures larger than this are refused rather than allocated (a corrupt header can claim
// any size).
constexpr int64_t kMaxImagePixels = int64_t{1} << 26;  // 64 M pixels, 256 MB of BGRA
constexpr int32_t kMaxImageSide = 1 << 15;

}  // namespace

void setTileVertices(Tile& tile, float left, float top, float width, float height, float u1,
                     float v1, const Float3& offset) {
    const float right = left + width;
    const float bottom = top - height;
    tile.vertices[0] = TileVertex{left, top, 0, 0xFFFFFFFFu, 0, 0};
    tile.vertices[1] = TileVertex{right, top, 0, 0xFFFFFFFFu, u1, 0};
    tile.vertices[2] = TileVertex{left, bottom, 0, 0xFFFFFFFFu, 0, v1};
    tile.vertices[3] = TileVertex{right, bottom, 0, 0xFFFFFFFFu, u1, v1};
    for (TileVertex& v : tile.vertices) {
        v.x += offset.x;
        v.y += offset.y;
        v.z += offset.z;
    }
}

namespace {

// A movie's frames reach its texture without a change any update of a second tree sees.
bool subtreeShowsMovie(const GraphicObject& object) {
    for (const GraphicObject::ChildMap* children : {&object.layerChildren, &object.glyphChildren}) {
        for (const auto& [key, child] : *children) {
            if (child->hide == 1) {
                continue;
            }
            if ((child->source && child->source->kind() == SourceKind::Movie) ||
                subtreeShowsMovie(*child)) {
                return true;
            }
        }
    }
    return false;
}

}  // namespace

StencilMode stencilModeFor(int64_t stencilAction) {
    switch (stencilAction) {
        case 0:
            return StencilMode::TestEqual255;
        case 1:
            return StencilMode::Write255;
        case 2:
            return StencilMode::WriteZero;
        case 3:
            return StencilMode::Invert;
        default:
            return StencilMode::Unchanged;
    }
}

uint32_t alphaByte(float transmittance) {
    float t = transmittance;
    if (!(t > 0.0f)) {
        t = 0.0f;
    } else if (t > 1.0f) {
        t = 1.0f;
    }
    return 255u - static_cast<uint32_t>(t * 255.0f);
}

bool realizeImage(GraphicSource& source, RenderBackend& backend) {
    if (source.failed()) {
        return false;
    }
    // A picture that cannot be shown is remembered with its bytes: the same bytes are not
    // decoded (nor reported) again, which at every frame would repeat the library's messages and,
    // for a hostile file, its allocations.
    PictureFailures& failures = pictureFailures();
    auto giveUp = [&](const std::vector<uint8_t>* content, const std::string& reason) {
        failures.remember(source.name(), content, reason);
        source.state = GraphicSource::kFailed;
        return false;
    };
    // Read and decoded ahead when a command named it (see PicturePrefetch); else here.
    PicturePrefetch::Result ahead;
    const bool prefetched =
        backend.readsLikePrefetch() && PicturePrefetch::instance().take(source.name(), ahead);
    std::vector<uint8_t> bytes;
    const bool read = prefetched ? ahead.read : backend.readFile(source.name(), bytes);
    if (prefetched) bytes.swap(ahead.bytes);
    const std::vector<uint8_t>* content = read ? &bytes : nullptr;
    if (failures.failedBefore(source.name(), content)) {
        source.state = GraphicSource::kFailed;
        return false;
    }
    if (!read) {
        return giveUp(content, "not found in the packs or the game folder");
    }
    DecodedImage image;
    bool decoded = ahead.decoded;
    if (prefetched) {
        image = std::move(ahead.image);
    } else {
        core::Trace::mark("read", source.name());
        decoded = backend.decodeImage(bytes, image);
        if (decoded) core::Trace::mark("decoded", source.name());
    }
    if (!decoded) {
        return giveUp(content,
                      image.error.empty() ? "not a picture that can be decoded" : image.error);
    }
    if (image.width <= 0 || image.height <= 0 || image.width > kMaxImageSide ||
        image.height > kMaxImageSide || int64_t{image.width} * image.height > kMaxImagePixels ||
        image.bgra.size() < static_cast<size_t>(image.width) * image.height * 4) {
        return giveUp(content, "picture size " + std::to_string(image.width) + "x" +
                                   std::to_string(image.height) + " refused");
    }
    failures.forget(source.name());
    // The file image is no longer needed: let it go before the textures are made.
    std::vector<uint8_t>().swap(bytes);
    source.releaseTextures();
    const int32_t maxSide = std::max(1, backend.maxTextureSize());
    source.width = image.width;
    source.height = image.height;
    source.tileWidth = std::min(image.width, maxSide);
    source.tileHeight = std::min(image.height, maxSide);
    const int32_t columns = (image.width + source.tileWidth - 1) / source.tileWidth;
    const int32_t rows = (image.height + source.tileHeight - 1) / source.tileHeight;
    source.paddedWidth = columns * source.tileWidth;
    source.paddedHeight = rows * source.tileHeight;

    // A picture that fits one texture (the usual case) is uploaded from the decoded pixels; only
    // tiles of a larger one are copied out.
    const bool oneTile = columns == 1 && rows == 1;
    std::vector<uint8_t> pixels;
    if (!oneTile) {
        pixels.resize(static_cast<size_t>(source.tileWidth) * source.tileHeight * 4);
    }
    source.tiles.clear();
    source.tiles.reserve(static_cast<size_t>(columns) * rows);
    for (int32_t row = 0; row < rows; ++row) {
        for (int32_t column = 0; column < columns; ++column) {
            const int32_t x0 = column * source.tileWidth;
            const int32_t y0 = row * source.tileHeight;
            const int32_t w = std::min(source.tileWidth, image.width - x0);
            const int32_t h = std::min(source.tileHeight, image.height - y0);
            if (!oneTile) {
                std::fill(pixels.begin(), pixels.end(), 0);
                for (int32_t y = 0; y < h; ++y) {
                    const uint8_t* from =
                        image.bgra.data() + (static_cast<size_t>(y0 + y) * image.width + x0) * 4;
                    std::copy(from, from + static_cast<size_t>(w) * 4,
                              pixels.data() + static_cast<size_t>(y) * source.tileWidth * 4);
                }
            }
            Tile tile;
            tile.texture = backend.createTexture(source.tileWidth, source.tileHeight,
                                                 oneTile ? image.bgra.data() : pixels.data());
            setTileVertices(
                tile, static_cast<float>(x0) - image.width / 2.0f,
                image.height / 2.0f - static_cast<float>(y0), static_cast<float>(w),
                static_cast<float>(h), static_cast<float>(w) / static_cast<float>(source.tileWidth),
                static_cast<float>(h) / static_cast<float>(source.tileHeight), source.offset);
            source.tiles.push_back(tile);
        }
    }
    source.backend = &backend;
    source.state = 1;
    ++source.changeCount;
    core::Trace::mark("uploaded", source.name());
    return true;
}

bool realizeRenderTarget(GraphicSource& source, RenderBackend& backend) {
    int32_t width = 0;
    int32_t height = 0;
    backend.backBufferSize(width, height);
    if (width <= 0 || height <= 0) {
        return false;
    }
    source.releaseTextures();
    const int32_t maxSide = std::max(1, backend.maxTextureSize());
    width = std::min(width, maxSide);
    height = std::min(height, maxSide);
    const TextureId target = backend.createRenderTarget(width, height);
    if (target == 0) {
        return false;
    }
    source.width = source.tileWidth = source.paddedWidth = width;
    source.height = source.tileHeight = source.paddedHeight = height;
    source.renderTarget = target;
    Tile tile;
    tile.texture = target;
    setTileVertices(tile, -width / 2.0f, height / 2.0f, static_cast<float>(width),
                    static_cast<float>(height), 1.0f, 1.0f, source.offset);
    source.tiles.assign(1, tile);
    source.backend = &backend;
    source.state = 1;
    ++source.changeCount;
    return true;
}

bool realizeSource(GraphicSource& source, RenderBackend& backend) {
    // A movie takes its newest picture into its textures as it is drawn, so its realizer is
    // asked at every draw.
    if (source.ready() && source.kind() != SourceKind::Movie) {
        return true;
    }
    switch (source.kind()) {
        case SourceKind::Image:
            return realizeImage(source, backend);
        case SourceKind::RenderTarget:
            return realizeRenderTarget(source, backend);
        default:
            if (const SourceRealizer* realizer = sourceRealizer(source.kind())) {
                return (*realizer)(source, backend) && source.ready();
            }
            return false;
    }
}

Mat4 pictureTransform(const GraphicObject& object) {
    if (!object.source || object.source->scale == Float3{1, 1, 1}) {
        return object.drawMatrix;
    }
    const Float3& s = object.source->scale;
    return Mat4::scaling(Vec3{s.x, s.y, s.z}) * object.drawMatrix;
}

void drawObject(GraphicObject& object, RenderBackend& backend, bool allowRenderTarget) {
    if (!object.source) {
        return;
    }
    GraphicSource& source = *object.source;
    const SourceKind kind = source.kind();
    const bool drawable = kind == SourceKind::Image || kind == SourceKind::Movie ||
                          kind == SourceKind::TextSurface ||
                          (allowRenderTarget && kind == SourceKind::RenderTarget);
    if (!drawable) {
        return;
    }
    bool tinted = false;
    uint32_t tint = 0;
    if (kind == SourceKind::TextSurface) {
        if (TextEngineHooks* hooks = textEngineHooks()) {
            tinted = hooks->glyphTint(object, backend, tint);
        }
    }
    if (!realizeSource(source, backend)) {
        return;
    }
    const uint32_t alpha = alphaByte(object.transmittance);
    if (alpha == 0) {
        return;
    }
    QuadDraw quad;
    quad.world = pictureTransform(object);
    if (object.shader) {
        quad.program = object.shader->name();
    }
    quad.stencil = stencilModeFor(object.StencilAction);
    quad.tinted = tinted;
    quad.tint = tint;
    const uint32_t diffuse = (alpha << 24) | 0xFFFFFFu;
    for (const Tile& tile : source.tiles) {
        if (tile.texture == 0) {
            continue;  // its texture could not be made: nothing to show there
        }
        quad.texture = tile.texture;
        for (int i = 0; i < 4; ++i) {
            quad.vertices[i] = tile.vertices[i];
            quad.vertices[i].diffuse = diffuse;
        }
        backend.drawQuad(quad);
    }
}

void drawSubtree(GraphicObject& object, RenderBackend& backend) {
    if (object.hide == 1) {
        return;
    }
    auto firstNonNegative = object.layerChildren.lower_bound(0);
    for (auto it = object.layerChildren.begin(); it != firstNonNegative; ++it) {
        drawSubtree(*it->second, backend);
    }
    drawObject(object, backend);
    for (auto it = firstNonNegative; it != object.layerChildren.end(); ++it) {
        drawSubtree(*it->second, backend);
    }
    for (auto& [key, glyph] : object.glyphChildren) {
        drawSubtree(*glyph, backend);
    }
}

Float3 renderTargetScale(int32_t tileWidth, int32_t tileHeight, float windowAspect) {
    const float designAspect = static_cast<float>(kDesignWidth) / kDesignHeight;
    const float r = windowAspect / designAspect;
    const float sx = static_cast<float>(kDesignWidth) / static_cast<float>(tileWidth);
    const float sy = static_cast<float>(kDesignHeight) / static_cast<float>(tileHeight);
    if (r > 1.0f) {
        return Float3{sx * r, sy, 1.0f};
    }
    return Float3{sx, sy / r, 1.0f};
}

void drawTree(GraphicObject& root, RenderBackend& backend, float windowAspect) {
    const bool intoTarget = root.source && root.source->kind() == SourceKind::RenderTarget;
    if (!intoTarget) {
        drawSubtree(root, backend);
        return;
    }
    if (root.hide == 1) {
        return;
    }
    GraphicSource& target = *root.source;
    if (!realizeSource(target, backend)) {
        return;
    }
    // The target keeps its pixels between frames: the subtree is rendered again only when
    // something in it changed, the target is a new one (realized again after a reset) or holds
    // another root's picture, or the view's aspect changed. A still snapshot under a fade is
    // rendered once.
    const bool stale = root.subtreeChangedSinceRender() ||
                       root.renderedTargetChange != target.changeCount ||
                       target.renderedBy != &root || root.renderedAspect != windowAspect ||
                       subtreeShowsMovie(root);
    if (stale) {
        backend.beginRenderTarget(target.renderTarget);
        drawSubtree(root, backend);
        backend.endRenderTarget();
        root.markSubtreeRendered();
        root.renderedTargetChange = target.changeCount;
        root.renderedAspect = windowAspect;
        target.renderedBy = &root;
    }
    if (target.tileWidth != 0 && target.tileHeight != 0) {
        target.scale = renderTargetScale(target.tileWidth, target.tileHeight, windowAspect);
    }
    drawObject(root, backend, true);
}

bool treeHasPictures(const GraphicObject& root) {
    if (root.hide == 1) {
        return false;
    }
    if (root.source) {
        const SourceKind kind = root.source->kind();
        if (kind == SourceKind::Image || kind == SourceKind::Movie ||
            kind == SourceKind::TextSurface || kind == SourceKind::RenderTarget) {
            return true;
        }
    }
    for (const auto& [key, child] : root.layerChildren) {
        if (treeHasPictures(*child)) {
            return true;
        }
    }
    for (const auto& [key, glyph] : root.glyphChildren) {
        if (treeHasPictures(*glyph)) {
            return true;
        }
    }
    return false;
}

void releaseAllTextures() {
    sourceCache().forEach([](GraphicSource& source) { source.releaseTextures(); });
}

void releaseRenderTargets() {
    sourceCache().forEach([](GraphicSource& source) {
        if (source.kind() == SourceKind::RenderTarget) {
            source.releaseTextures();
        }
    });
}

}  // namespace vaxo2::graphics
