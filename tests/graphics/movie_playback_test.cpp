// Movie sources in the layer tree, with the counting clip (made by
// tests/e2e/make_test_movies.sh; picture k is the flat grey 16 + 5k) and a recording backend:
// tiles centred and shortened, black before the first picture, one upload per new picture, the
// requests' order, GraphicWait's view, and files that are no movie.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "graphics/movie_playback.h"
#include "graphics/tree_draw.h"
#include "platform/clock.h"
#include "recording_backend.h"

namespace vaxo2::graphics {
namespace {

using platform::Clock;

std::vector<uint8_t> clipBytes(const std::string& name) {
    std::ifstream in(std::string(VAXO2_TEST_MOVIES) + "/" + name, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

class MoviePlaybackTest : public ::testing::Test {
  protected:
    void SetUp() override {
        Clock::instance().useStepped(5000);
        Clock::instance().becomeDriver();
        playback.install();
        backend.files["count.mpg"] = clipBytes("count.mpg");
        backend.files["text.avi"] = clipBytes("broken/text.avi");
    }
    void TearDown() override {
        root.deleteAll();
        Clock::instance().useReal();
        Clock::instance().resignDriver();
    }
    GraphicObject* movie(int64_t layer, const std::string& file) {
        GraphicObject* object = GraphicObject::create(&root, {layer});
        object->setSource(sourceCache().acquire(static_cast<int32_t>(SourceKind::Movie), file));
        return object;
    }
    // One frame: time moves, the tree updates (requests, due picture), the objects draw.
    void frame(uint32_t ms = 16) {
        Clock::instance().sleep(ms);
        root.updateRoot(Clock::instance().now());
        for (auto& [number, child] : root.layerChildren)
            drawObject(*child, backend);
    }
    // The grey of texel (x, y) of a tile's texture.
    int texel(const Tile& tile, int x, int y) {
        const auto& t = backend.textures.at(tile.texture);
        return t.pixels[(static_cast<size_t>(y) * t.width + x) * 4 + 1];
    }
    static int picture(int grey) { return (grey - 16 + 2) / 5; }

    MoviePlayback playback;
    testing::RecordingBackend backend;
    GraphicObject root;
};

TEST_F(MoviePlaybackTest, TilesCentreThePictureShortenTheLastOnesAndStartBlack) {
    backend.maxSide = 64;  // 160x120 in tiles of 64: three columns, two rows
    GraphicObject* object = movie(1, "count.mpg");
    GraphicSource& source = *object->source;
    EXPECT_FALSE(playback.hasPlayer(source));
    EXPECT_TRUE(object->busy());  // no player yet: GraphicWait counts its tests
    frame();
    ASSERT_TRUE(playback.hasPlayer(source));
    EXPECT_FALSE(playback.playing(source));
    ASSERT_EQ(source.tiles.size(), 6u);
    EXPECT_EQ(source.paddedWidth, 192);
    EXPECT_EQ(source.paddedHeight, 128);
    const Tile& first = source.tiles[0];
    EXPECT_FLOAT_EQ(first.vertices[0].x, -80.0f);
    EXPECT_FLOAT_EQ(first.vertices[0].y, 60.0f);
    const Tile& last = source.tiles[5];  // x 128..160, y 64..120
    EXPECT_FLOAT_EQ(last.vertices[3].x, 80.0f);
    EXPECT_FLOAT_EQ(last.vertices[3].y, -60.0f);
    EXPECT_FLOAT_EQ(last.vertices[3].u, 0.5f);
    EXPECT_FLOAT_EQ(last.vertices[3].v, 56.0f / 64.0f);
    // Opaque black before the first picture, every tile drawn.
    for (const Tile& tile : source.tiles) {
        const auto& pixels = backend.textures.at(tile.texture).pixels;
        EXPECT_EQ(pixels[0], 0);
        EXPECT_EQ(pixels[3], 0xFF);
    }
    EXPECT_EQ(backend.draws.size(), 6u);

    playback.request(source, MovieRequest::Play);
    EXPECT_TRUE(playback.playing(source));  // the start waits for the next update
    const int updatesBefore = backend.updates;
    frame();
    EXPECT_EQ(backend.updates - updatesBefore, 6);  // each tile once for the first picture
    EXPECT_EQ(picture(texel(last, 31, 55)), 0);
    EXPECT_EQ(texel(last, 32, 0), 0);  // beyond the picture: still black
    EXPECT_EQ(texel(last, 0, 56), 0);
    for (int i = 0; i < 15; ++i)
        frame();  // 256 ms after the start
    EXPECT_EQ(picture(texel(first, 10, 10)), 6);
    EXPECT_EQ(picture(texel(last, 31, 55)), 6);
    // Drawn again without a new picture: no upload.
    const int updatesNow = backend.updates;
    drawObject(*object, backend);
    EXPECT_EQ(backend.updates, updatesNow);
    EXPECT_TRUE(object->busy());

    // A device reset drops the textures: the next draw rebuilds them with the picture.
    source.releaseTextures();
    drawObject(*object, backend);
    ASSERT_EQ(source.tiles.size(), 6u);
    EXPECT_EQ(picture(texel(source.tiles[0], 10, 10)), 6);

    while (playback.playing(source) && Clock::instance().now() < 8000)
        frame();
    EXPECT_FALSE(object->busy());  // GraphicWait ends at the end
    EXPECT_EQ(picture(texel(source.tiles[5], 0, 0)), 39);
}

TEST_F(MoviePlaybackTest, RequestsApplyAsStopStartPauseInOneFrame) {
    GraphicObject* object = movie(1, "count.mpg");
    GraphicSource& source = *object->source;
    // Requests made before the player exists wait for it.
    playback.request(source, MovieRequest::Play);
    frame();
    frame();
    ASSERT_NE(MoviePlayback::playerOf(source), nullptr);
    MoviePlayer& player = *MoviePlayback::playerOf(source);
    EXPECT_EQ(player.state(), MoviePlayer::State::Running);
    for (int i = 0; i < 10; ++i)
        frame();
    EXPECT_GT(player.positionUs(Clock::instance().now()), 100000);

    struct Case {
        std::vector<MovieRequest> requests;
        MoviePlayer::State after;
    };
    const Case cases[] = {
        // Play clears a pause asked for before it; a pause after it stays.
        {{MovieRequest::Pause, MovieRequest::Play}, MoviePlayer::State::Running},
        {{MovieRequest::Play, MovieRequest::Pause}, MoviePlayer::State::Paused},
        // Stop clears both; a play after it starts over.
        {{MovieRequest::Play, MovieRequest::Stop}, MoviePlayer::State::Stopped},
        {{MovieRequest::Stop, MovieRequest::Play}, MoviePlayer::State::Running},
        {{MovieRequest::Stop, MovieRequest::Play, MovieRequest::Pause}, MoviePlayer::State::Paused},
    };
    for (const Case& c : cases) {
        for (MovieRequest r : c.requests)
            playback.request(source, r);
        frame();
        EXPECT_EQ(player.state(), c.after) << c.requests.size();
    }
    // The last case stopped (back to the start) before it played and paused.
    frame();
    EXPECT_EQ(player.positionUs(Clock::instance().now()), 0);
    EXPECT_FALSE(playback.playing(source));

    // Positions and rate go through the source too, after the three.
    MoviePositions to;
    to.currentFlags = MovieSeek::Absolute;
    to.currentMs = 1000;
    playback.requestPositions(source, to);
    playback.requestRate(source, 2.0);
    playback.request(source, MovieRequest::Play);
    frame();
    frame();
    EXPECT_EQ(picture(texel(source.tiles[0], 0, 0)), 25);
    for (int i = 0; i < 5; ++i)
        frame();  // twice as fast from the frame the seek was done in
    EXPECT_EQ(player.positionUs(Clock::instance().now()), 1000000 + 2 * 80000);
    EXPECT_EQ(picture(texel(source.tiles[0], 0, 0)), 29);
}

TEST_F(MoviePlaybackTest, FilesThatAreNoMovieShowNothingAndDoNotHoldGraphicWait) {
    for (const char* file : {"missing.mpg", "text.avi"}) {
        SCOPED_TRACE(file);
        GraphicObject* object = movie(2, file);
        playback.request(*object->source, MovieRequest::Play);
        const size_t drawn = backend.draws.size();
        frame();
        EXPECT_TRUE(playback.hasPlayer(*object->source));  // tried once, not again
        EXPECT_FALSE(object->busy());
        const int reads = backend.reads;
        frame();
        EXPECT_EQ(backend.reads, reads);
        EXPECT_EQ(backend.draws.size(), drawn);
        EXPECT_TRUE(object->source->tiles.empty());
    }
}

}  // namespace
}  // namespace vaxo2::graphics
