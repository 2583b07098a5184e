#include "graphics/movie_playback.h"

#include <algorithm>
#include <cstdio>

#include "graphics/tree_draw.h"
#include "platform/clock.h"
#include "platform/movie_decoder.h"

namespace vaxo2::graphics {

namespace {

// What a movie source carries besides its tiles: the requests the script made and the player.
class MovieSourceState final : public SourceExtension {
  public:
    // The source's own lock: requests are recorded and applied under it.
    std::mutex requestLock;
    bool startRequested = false;
    bool pauseRequested = false;
    bool stopRequested = false;
    std::optional<MoviePositions> positionRequest;
    std::optional<double> rateRequest;

    // Set on the render thread while drawing; `opened` (set last) publishes both to the
    // scenario thread's questions.
    std::unique_ptr<MoviePlayer> player;
    bool failed = false;
    std::atomic<bool> opened{false};

    uint64_t uploadedSerial = 0;
    std::vector<uint8_t> scratch;  // one tile's pixels when the picture spans several tiles
};

MovieSourceState* stateOf(const GraphicSource& source) {
    return dynamic_cast<MovieSourceState*>(source.extension.get());
}

// The state is made in the update or by a request, both under the tree lock, so GraphicWait
// (which asks under the same lock) never sees it half made.
MovieSourceState& ensureState(GraphicSource& source) {
    if (MovieSourceState* state = stateOf(source)) return *state;
    auto made = std::make_unique<MovieSourceState>();
    MovieSourceState& state = *made;
    source.extension = std::move(made);
    return state;
}

// Applies what was requested, in the order stop, start, pause, position, rate, clearing each
// request as it goes; true when any was applied.
bool applyRequests(MovieSourceState& state, uint32_t now) {
    std::lock_guard lock(state.requestLock);
    MoviePlayer& player = *state.player;
    bool applied = false;
    if (state.stopRequested) {
        state.stopRequested = false;
        player.stop(now);
        applied = true;
    }
    if (state.startRequested) {
        state.startRequested = false;
        player.run(now);
        applied = true;
    }
    if (state.pauseRequested) {
        state.pauseRequested = false;
        player.pause(now);
        applied = true;
    }
    if (state.positionRequest) {
        player.setPositions(*state.positionRequest, now);
        state.positionRequest.reset();
        applied = true;
    }
    if (state.rateRequest) {
        player.setRate(*state.rateRequest, now);
        state.rateRequest.reset();
        applied = true;
    }
    return applied;
}

// Tiles of at most the largest texture, each filled with opaque black, placed so that the
// movie is centred on the object with y up; the last column and row are shortened to what
// is left of the picture.
bool buildTiles(GraphicSource& source, RenderBackend& backend, int32_t width, int32_t height) {
    source.releaseTextures();
    const int32_t maxSide = std::max(1, backend.maxTextureSize());
    source.width = width;
    source.height = height;
    source.tileWidth = std::min(width, maxSide);
    source.tileHeight = std::min(height, maxSide);
    const int32_t columns = (width + source.tileWidth - 1) / source.tileWidth;
    const int32_t rows = (height + source.tileHeight - 1) / source.tileHeight;
    source.paddedWidth = columns * source.tileWidth;
    source.paddedHeight = rows * source.tileHeight;
    std::vector<uint8_t> black(static_cast<size_t>(source.tileWidth) * source.tileHeight * 4, 0);
    for (size_t a = 3; a < black.size(); a += 4)
        black[a] = 0xFF;
    source.tiles.clear();
    source.tiles.reserve(static_cast<size_t>(columns) * rows);
    for (int32_t i = 0; i < columns * rows; ++i) {
        const int32_t x0 = (i % columns) * source.tileWidth;
        const int32_t y0 = (i / columns) * source.tileHeight;
        const int32_t w = std::min(source.tileWidth, width - x0);
        const int32_t h = std::min(source.tileHeight, height - y0);
        Tile tile;
        tile.texture = backend.createTexture(source.tileWidth, source.tileHeight, black.data());
        setTileVertices(
            tile, static_cast<float>(x0) - width / 2.0f, height / 2.0f - static_cast<float>(y0),
            static_cast<float>(w), static_cast<float>(h),
            static_cast<float>(w) / static_cast<float>(source.tileWidth),
            static_cast<float>(h) / static_cast<float>(source.tileHeight), source.offset);
        source.tiles.push_back(tile);
    }
    source.backend = &backend;
    source.state = 1;
    ++source.changeCount;
    return true;
}

// One upload per tile of the picture's part that the tile shows; texels beyond the picture keep
// their black.
void uploadPicture(GraphicSource& source, RenderBackend& backend, const MoviePicture& picture,
                   std::vector<uint8_t>& scratch) {
    const int32_t width = source.width;
    const int32_t height = source.height;
    if (picture.bgra.size() < static_cast<size_t>(width) * height * 4 || source.tileWidth <= 0) {
        return;
    }
    const int32_t columns = source.paddedWidth / source.tileWidth;
    for (size_t i = 0; i < source.tiles.size(); ++i) {
        Tile& tile = source.tiles[i];
        const int32_t x0 = static_cast<int32_t>(i % columns) * source.tileWidth;
        const int32_t y0 = static_cast<int32_t>(i / columns) * source.tileHeight;
        const int32_t w = std::min(source.tileWidth, width - x0);
        const int32_t h = std::min(source.tileHeight, height - y0);
        const uint8_t* pixels = picture.bgra.data();
        if (w != width || h != height) {
            // Rows of the tile's part, so the upload takes them as one block.
            scratch.resize(static_cast<size_t>(w) * h * 4);
            for (int32_t row = 0; row < h; ++row) {
                const uint8_t* from =
                    picture.bgra.data() + (static_cast<size_t>(y0 + row) * width + x0) * 4;
                std::copy(from, from + static_cast<size_t>(w) * 4,
                          scratch.data() + static_cast<size_t>(row) * w * 4);
            }
            pixels = scratch.data();
        }
        if (tile.texture != 0 && backend.updateTexture(tile.texture, 0, 0, w, h, pixels)) {
            continue;
        }
        // A backend that cannot replace texels gets a new texture with the picture in it.
        std::vector<uint8_t> full(static_cast<size_t>(source.tileWidth) * source.tileHeight * 4, 0);
        for (size_t a = 3; a < full.size(); a += 4)
            full[a] = 0xFF;
        for (int32_t row = 0; row < h; ++row) {
            std::copy(pixels + static_cast<size_t>(row) * w * 4,
                      pixels + static_cast<size_t>(row + 1) * w * 4,
                      full.data() + static_cast<size_t>(row) * source.tileWidth * 4);
        }
        const TextureId made =
            backend.createTexture(source.tileWidth, source.tileHeight, full.data());
        if (made == 0) continue;
        if (tile.texture != 0) backend.destroyTexture(tile.texture);
        tile.texture = made;
    }
}

}  // namespace

MoviePlayback::~MoviePlayback() {
    if (!installed_) return;
    if (movieStatus() == this) setMovieStatus(nullptr);
    setSourceRealizer(SourceKind::Movie, SourceRealizer());
}

void MoviePlayback::install() {
    installed_ = true;
    setMovieStatus(this);
    setSourceRealizer(SourceKind::Movie, [this](GraphicSource& source, RenderBackend& backend) {
        return realize(source, backend);
    });
}

MoviePlayer* MoviePlayback::playerOf(const GraphicSource& source) {
    MovieSourceState* state = stateOf(source);
    return state != nullptr && state->opened.load() ? state->player.get() : nullptr;
}

void MoviePlayback::request(GraphicSource& source, MovieRequest request) {
    MovieSourceState& state = ensureState(source);
    std::lock_guard lock(state.requestLock);
    switch (request) {
        case MovieRequest::Play:
            state.startRequested = true;
            state.pauseRequested = false;
            break;
        case MovieRequest::Stop:
            state.stopRequested = true;
            state.startRequested = false;
            state.pauseRequested = false;
            break;
        case MovieRequest::Pause:
            state.pauseRequested = true;
            break;
    }
}

void MoviePlayback::requestPositions(GraphicSource& source, const MoviePositions& positions) {
    MovieSourceState& state = ensureState(source);
    std::lock_guard lock(state.requestLock);
    state.positionRequest = positions;
}

void MoviePlayback::requestRate(GraphicSource& source, double rate) {
    MovieSourceState& state = ensureState(source);
    std::lock_guard lock(state.requestLock);
    state.rateRequest = rate;
}

bool MoviePlayback::hasPlayer(const GraphicSource& source) {
    const MovieSourceState* state = stateOf(source);
    return state != nullptr && state->opened.load();
}

bool MoviePlayback::playing(const GraphicSource& source) {
    MovieSourceState* state = stateOf(source);
    if (state == nullptr) return false;
    if (state->opened.load()) {
        if (state->failed) return false;
        if (state->player->playing()) return true;
    }
    // A play that waits for its frame counts: GraphicWait right after GraphicPlay must not see
    // the movie as finished before it started.
    std::lock_guard lock(state->requestLock);
    return state->startRequested;
}

bool MoviePlayback::animating(const GraphicSource& source) {
    MovieSourceState* state = stateOf(source);
    if (state == nullptr || !state->opened.load()) return true;
    if (state->failed) return false;
    if (playing(source)) return true;
    return state->player->state() == MoviePlayer::State::Paused &&
           state->player->pictureSerial() == 0;
}

bool MoviePlayback::takeNewFrame(GraphicSource& source) {
    MovieSourceState& state = ensureState(source);
    if (!state.opened.load() || state.failed) return false;
    const uint32_t now = platform::Clock::instance().now();
    bool changed = applyRequests(state, now);
    changed |= state.player->advance(now);
    return changed;
}

bool MoviePlayback::realize(GraphicSource& source, RenderBackend& backend) {
    MovieSourceState* state = stateOf(source);
    if (state == nullptr) return false;  // not updated yet
    if (!state->opened.load()) {
        std::vector<uint8_t> bytes;
        std::string error = "cannot be read";
        std::unique_ptr<platform::MovieDecoder> decoder;
        if (backend.readFile(source.name(), bytes)) {
            decoder = platform::MovieDecoder::open(
                std::make_shared<const std::vector<uint8_t>>(std::move(bytes)), error);
        }
        if (decoder) {
            state->player = std::make_unique<MoviePlayer>(std::move(decoder), mixer_);
        } else {
            // Tried once: the object shows nothing and GraphicWait does not wait for it.
            state->failed = true;
            std::fprintf(stderr, "vaxo2: movie %s: %s\n", source.name().c_str(), error.c_str());
        }
        state->opened.store(true);
    }
    if (state->failed) return false;
    MoviePlayer& player = *state->player;
    if (!source.ready()) {
        buildTiles(source, backend, player.width(), player.height());
        state->uploadedSerial = 0;
    }
    const MoviePicture* picture = player.picture();
    // A movie that ended without a single picture leaves nothing on screen.
    if (picture == nullptr) return player.state() != MoviePlayer::State::Ended;
    if (player.pictureSerial() != state->uploadedSerial) {
        uploadPicture(source, backend, *picture, state->scratch);
        state->uploadedSerial = player.pictureSerial();
    }
    return true;
}

}  // namespace vaxo2::graphics
