// The FFmpeg movie decoder on the test clips (made by tests/e2e/make_test_movies.sh): every
// format gives all 40 pictures of the counting clip in order, with their times and greys, and
// the sound the clip carries; seeking; bad input is refused or ends early, never crashes.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "platform/movie_decoder.h"

namespace vaxo2::platform {
namespace {

std::shared_ptr<const std::vector<uint8_t>> clip(const std::string& name) {
    std::ifstream in(std::string(VAXO2_TEST_MOVIES) + "/" + name, std::ios::binary);
    EXPECT_TRUE(in.good()) << name;
    return std::make_shared<const std::vector<uint8_t>>(std::istreambuf_iterator<char>(in),
                                                        std::istreambuf_iterator<char>());
}

// Picture k of the counting clip is the flat grey 16 + 5k.
int pictureNumber(const std::vector<uint8_t>& bgra, int width, int height) {
    const size_t centre = (static_cast<size_t>(height / 2) * width + width / 2) * 4;
    return static_cast<int>(std::lround((bgra[centre + 1] - 16.0) / 5.0));
}

struct Decoded {
    std::vector<int> pictures;
    std::vector<int64_t> timesUs;
    size_t soundFrames = 0;
    double soundPeak = 0;
    bool opaque = true;
};

Decoded decodeAll(MovieDecoder& decoder, int limit = 10000) {
    Decoded out;
    std::vector<uint8_t> picture;
    std::vector<int16_t> samples;
    const MovieInfo& info = decoder.info();
    for (int i = 0; i < limit; ++i) {
        int64_t t = 0;
        const MovieOutput what = decoder.decode(picture, samples, t);
        if (what == MovieOutput::End) break;
        if (what == MovieOutput::Picture) {
            const size_t bytes = static_cast<size_t>(info.width) * info.height * 4;
            EXPECT_GE(picture.size(), bytes);
            out.pictures.push_back(pictureNumber(picture, info.width, info.height));
            out.timesUs.push_back(t);
            for (size_t a = 3; a < bytes; a += 4)
                out.opaque &= picture[a] == 0xFF;
        } else if (what == MovieOutput::Audio) {
            out.soundFrames += samples.size() / info.audioChannels;
            for (int16_t s : samples)
                out.soundPeak = std::max(out.soundPeak, std::abs(s) / 32768.0);
        }
    }
    return out;
}

TEST(MovieDecoder, EveryFormatGivesEveryPictureInOrderAtItsTime) {
    struct Case {
        const char* file;
        bool sound;
    };
    for (const Case& c : {Case{"count.mpg", false}, Case{"count.wmv", true},
                          Case{"count_mpeg4.avi", false}, Case{"count_mjpeg.avi", false}}) {
        SCOPED_TRACE(c.file);
        std::string error;
        auto decoder = MovieDecoder::open(clip(c.file), error);
        ASSERT_TRUE(decoder) << error;
        const MovieInfo& info = decoder->info();
        EXPECT_EQ(info.width, 160);
        EXPECT_EQ(info.height, 120);
        EXPECT_EQ(info.frameDurationUs, 40000);
        EXPECT_EQ(info.hasAudio, c.sound);
        const Decoded d = decodeAll(*decoder);
        ASSERT_EQ(d.pictures.size(), 40u);
        EXPECT_TRUE(d.opaque);
        for (int k = 0; k < 40; ++k) {
            EXPECT_EQ(d.pictures[k], k);
            EXPECT_NEAR(d.timesUs[k] - d.timesUs[0], k * 40000, 1000) << k;
        }
        if (c.sound) {
            EXPECT_EQ(info.audioRate, 44100u);
            EXPECT_EQ(info.audioChannels, 1u);
            EXPECT_NEAR(d.soundFrames, 1.6 * 44100, 0.05 * 44100);
            EXPECT_NEAR(d.soundPeak, 0.5, 0.05);
        }
    }
}

TEST(MovieDecoder, OddSizesAndStereoSound) {
    std::string error;
    auto odd = MovieDecoder::open(clip("odd.avi"), error);
    ASSERT_TRUE(odd) << error;
    EXPECT_EQ(odd->info().width, 333);
    EXPECT_EQ(odd->info().height, 211);
    std::vector<uint8_t> picture;
    std::vector<int16_t> samples;
    int64_t t = 0;
    ASSERT_EQ(odd->decode(picture, samples, t), MovieOutput::Picture);
    // Flat orange 0xF08020 (B, G, R) in the middle, and up to the last row and column (the
    // corners' colour comes from chroma samples at the odd edge, a little less exact).
    const struct {
        size_t at;
        int tolerance;
    } points[] = {{333 * 105 + 166, 6}, {0, 20}, {332, 20}, {333 * 210, 20}, {333 * 211 - 1, 20}};
    for (const auto& p : points) {
        EXPECT_NEAR(picture[p.at * 4 + 0], 0x20, p.tolerance) << p.at;
        EXPECT_NEAR(picture[p.at * 4 + 1], 0x80, p.tolerance) << p.at;
        EXPECT_NEAR(picture[p.at * 4 + 2], 0xF0, p.tolerance) << p.at;
    }

    auto tone = MovieDecoder::open(clip("tone.mpg"), error);
    ASSERT_TRUE(tone) << error;
    EXPECT_EQ(tone->info().audioChannels, 2u);
    const Decoded d = decodeAll(*tone);
    EXPECT_NEAR(d.soundFrames, 44100, 2000);
    EXPECT_NEAR(d.soundPeak, 0.5, 0.05);
    EXPECT_EQ(d.pictures.size(), 25u);
}

TEST(MovieDecoder, SeekingGoesToTheKeyPictureBeforeAndBackToTheStart) {
    std::string error;
    auto decoder = MovieDecoder::open(clip("count.mpg"), error);
    ASSERT_TRUE(decoder) << error;
    decodeAll(*decoder, 60);
    // Back to the start: everything again.
    ASSERT_TRUE(decoder->seek(0));
    Decoded again = decodeAll(*decoder);
    ASSERT_EQ(again.pictures.size(), 40u);
    EXPECT_EQ(again.pictures.front(), 0);
    // Into the middle: the stream goes on from a picture at or before the time asked for.
    ASSERT_TRUE(decoder->seek(1000000));
    Decoded middle = decodeAll(*decoder);
    ASSERT_FALSE(middle.pictures.empty());
    EXPECT_LE(middle.pictures.front(), 25);
    EXPECT_GE(middle.pictures.front(), 10);
    EXPECT_EQ(middle.pictures.back(), 39);
}

TEST(MovieDecoder, BadInputIsRefusedOrEndsEarly) {
    std::string error;
    EXPECT_FALSE(MovieDecoder::open(std::make_shared<const std::vector<uint8_t>>(), error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(MovieDecoder::open(clip("broken/text.avi"), error));
    EXPECT_FALSE(MovieDecoder::open(nullptr, error));
    // A PNG is no movie either, whatever its name.
    const std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13};
    EXPECT_FALSE(MovieDecoder::open(std::make_shared<const std::vector<uint8_t>>(png), error));

    auto truncated = MovieDecoder::open(clip("broken/truncated.mpg"), error);
    ASSERT_TRUE(truncated) << error;
    const Decoded t = decodeAll(*truncated);
    EXPECT_GT(t.pictures.size(), 5u);
    EXPECT_LT(t.pictures.size(), 40u);

    auto damaged = MovieDecoder::open(clip("broken/damaged.mpg"), error);
    ASSERT_TRUE(damaged) << error;
    const Decoded d = decodeAll(*damaged);
    EXPECT_GT(d.pictures.size(), 5u);
    EXPECT_LE(d.pictures.size(), 45u);
}

}  // namespace
}  // namespace vaxo2::platform
