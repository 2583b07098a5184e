#include "graphics/glyph_atlas.h"

#include <algorithm>

namespace vaxo2::graphics {

namespace {
constexpr int32_t kGutter = 1;
// A shelf takes glyphs up to this much shorter than itself, so that sizes mix without
// wasting most of a row.
constexpr int32_t kShelfSlackPercent = 25;
}  // namespace

bool GlyphAtlas::place(Page& page, int32_t w, int32_t h, int32_t& x, int32_t& y) {
    Shelf* best = nullptr;
    for (Shelf& shelf : page.shelves) {
        if (shelf.height < h || shelf.height * 100 > h * (100 + kShelfSlackPercent) + 100) {
            continue;
        }
        for (size_t i = 0; i < shelf.freeSpans.size(); ++i) {
            auto& [spanX, spanW] = shelf.freeSpans[i];
            if (spanW >= w) {
                x = spanX;
                y = shelf.y;
                if (spanW == w) {
                    shelf.freeSpans.erase(shelf.freeSpans.begin() + static_cast<ptrdiff_t>(i));
                } else {
                    spanX += w;
                    spanW -= w;
                }
                return true;
            }
        }
        if (page.side - shelf.end >= w && (best == nullptr || shelf.height < best->height)) {
            best = &shelf;
        }
    }
    if (best != nullptr) {
        x = best->end;
        y = best->y;
        best->end += w;
        return true;
    }
    if (page.side - page.nextY >= h && page.side >= w) {
        Shelf shelf;
        shelf.y = page.nextY;
        shelf.height = h;
        shelf.end = w;
        page.nextY += h;
        page.shelves.push_back(shelf);
        x = 0;
        y = shelf.y;
        return true;
    }
    return false;
}

bool GlyphAtlas::allocate(int32_t width, int32_t height, int32_t maxTextureSize, Region& out) {
    if (width <= 0 || height <= 0) return false;
    const int32_t w = width + kGutter;
    const int32_t h = height + kGutter;
    const int32_t limit = maxTextureSize > 0 ? maxTextureSize : pageSide_;
    if (w > limit || h > limit) return false;
    std::lock_guard lock(mutex_);
    const int32_t side = std::min(pageSide_, limit);
    int32_t x = 0;
    int32_t y = 0;
    for (size_t i = 0; i < pages_.size(); ++i) {
        if (place(pages_[i], w, h, x, y)) {
            ++pages_[i].live;
            out = Region{static_cast<int32_t>(i), x, y, width, height};
            return true;
        }
    }
    // A new page: the standard side, or one of its own for a glyph that does not fit there.
    Page page;
    page.side = std::max({side, w, h});
    if (!place(page, w, h, x, y)) return false;
    page.live = 1;
    pages_.push_back(std::move(page));
    out = Region{static_cast<int32_t>(pages_.size() - 1), x, y, width, height};
    return true;
}

void GlyphAtlas::release(const Region& region) {
    std::lock_guard lock(mutex_);
    if (region.page < 0 || static_cast<size_t>(region.page) >= pages_.size()) return;
    Page& page = pages_[static_cast<size_t>(region.page)];
    if (--page.live <= 0) {
        // Empty: every shelf is free again; the texture stays for the next glyphs.
        page.live = 0;
        page.shelves.clear();
        page.nextY = 0;
        return;
    }
    for (Shelf& shelf : page.shelves) {
        if (shelf.y == region.y) {
            const int32_t w = region.width + kGutter;
            if (region.x + w == shelf.end) {
                shelf.end = region.x;
            } else {
                shelf.freeSpans.emplace_back(region.x, w);
            }
            return;
        }
    }
}

TextureId GlyphAtlas::upload(const Region& region, const uint8_t* bgra, RenderBackend& backend,
                             int32_t& side) {
    std::lock_guard lock(mutex_);
    if (region.page < 0 || static_cast<size_t>(region.page) >= pages_.size()) return 0;
    Page& page = pages_[static_cast<size_t>(region.page)];
    side = page.side;
    if (!page.texture) {
        page.texture = sourceCache().acquire(0, ":glyph-page", 0, 0, true);
    }
    GraphicSource& texture = *page.texture;
    if (!texture.ready() || texture.backend != &backend || texture.tiles.empty()) {
        texture.releaseTextures();
        const std::vector<uint8_t> empty(static_cast<size_t>(page.side) * page.side * 4, 0);
        Tile tile;
        tile.texture = backend.createTexture(page.side, page.side, empty.data());
        if (tile.texture == 0) return 0;
        texture.tiles.assign(1, tile);
        texture.width = texture.height = page.side;
        texture.backend = &backend;
        texture.state = 1;
    }
    const TextureId id = texture.tiles.front().texture;
    const int32_t w = region.width + kGutter;
    const int32_t h = region.height + kGutter;
    std::vector<uint8_t> block(static_cast<size_t>(w) * h * 4, 0);
    for (int32_t row = 0; row < region.height; ++row) {
        std::copy(bgra + static_cast<size_t>(row) * region.width * 4,
                  bgra + static_cast<size_t>(row + 1) * region.width * 4,
                  block.begin() + static_cast<ptrdiff_t>(row) * w * 4);
    }
    if (!backend.updateTexture(id, region.x, region.y, w, h, block.data())) return 0;
    return id;
}

size_t GlyphAtlas::pageCount() const {
    std::lock_guard lock(mutex_);
    return pages_.size();
}

size_t GlyphAtlas::liveRegions() const {
    std::lock_guard lock(mutex_);
    size_t live = 0;
    for (const Page& page : pages_) {
        live += static_cast<size_t>(page.live);
    }
    return live;
}

}  // namespace vaxo2::graphics
