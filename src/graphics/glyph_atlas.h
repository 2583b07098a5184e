#pragma once
// Glyph pages: the pixels of many glyph sources packed into a few shared textures, so that a
// page of message text draws from one or two textures and the GPU backend can put every glyph
// of a frame into one draw call.
//
// Regions are packed on shelves (rows of one height class). A region keeps a one-pixel empty
// gutter on its right and bottom so that linear filtering never picks up a neighbour. Freed
// regions are reused by glyphs of the same shelf; a page whose last region is freed starts
// empty again. A page's texture is itself a (uncached-kind) source in the source cache, so a
// device release drops it with every other texture and the next upload makes it again.
#include <cstdint>
#include <mutex>
#include <vector>

#include "graphics/graphic_source.h"
#include "graphics/render_backend.h"

namespace vaxo2::graphics {

class GlyphAtlas {
  public:
    // A page of 512 holds some 250 glyphs of 30 pixels, a few pages of message text; more
    // text takes more pages of the same size (1 MB of texture each).
    static constexpr int32_t kDefaultPageSide = 512;

    struct Region {
        int32_t page = -1;
        int32_t x = 0;
        int32_t y = 0;
        int32_t width = 0;   // without the gutter
        int32_t height = 0;  // without the gutter
        bool valid() const { return page >= 0; }
    };

    explicit GlyphAtlas(int32_t pageSide = kDefaultPageSide) : pageSide_(pageSide) {}
    GlyphAtlas(const GlyphAtlas&) = delete;
    GlyphAtlas& operator=(const GlyphAtlas&) = delete;

    // A region of width x height (both at least 1). A glyph larger than a page gets a page of
    // its own, up to `maxTextureSize`. False when it cannot be placed at all.
    bool allocate(int32_t width, int32_t height, int32_t maxTextureSize, Region& out);
    void release(const Region& region);

    // Uploads width x height BGRA pixels into the region (the gutter is cleared), making the
    // page texture first when it does not exist on this backend. Returns the page texture, or
    // 0 when it cannot be made; `side` receives the page's side in pixels.
    TextureId upload(const Region& region, const uint8_t* bgra, RenderBackend& backend,
                     int32_t& side);

    size_t pageCount() const;
    size_t liveRegions() const;

  private:
    struct Shelf {
        int32_t y = 0;
        int32_t height = 0;
        int32_t end = 0;                                     // first unused x
        std::vector<std::pair<int32_t, int32_t>> freeSpans;  // (x, width) incl. gutter
    };
    struct Page {
        SourceRef texture;  // kind 0, unique: only the device-release walk sees it
        int32_t side = 0;
        std::vector<Shelf> shelves;
        int32_t nextY = 0;
        int32_t live = 0;
    };

    bool place(Page& page, int32_t w, int32_t h, int32_t& x, int32_t& y);

    mutable std::mutex mutex_;
    int32_t pageSide_;
    std::vector<Page> pages_;
};

}  // namespace vaxo2::graphics
