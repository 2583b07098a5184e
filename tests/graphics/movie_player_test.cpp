// The movie player on a scripted decoder, on the stepped clock (the test thread drives it, so the
// decoding thread has topped up before every frame): which picture is due when, late pictures,
// the end, pause, stop, positions and rate, and the sound clock with the mixer.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <vector>

#include "graphics/movie_player.h"
#include "platform/clock.h"
#include "sound/mixer.h"

namespace vaxo2::graphics {
namespace {

using platform::Clock;
using platform::MovieOutput;

// Pictures (4x2 unless asked) whose bytes all hold the picture's number, every 40 ms; with
// sound, each picture is preceded by its 40 ms of mono 8 kHz PCM at half of full scale.
class ScriptedMovie final : public platform::MovieDecoder {
  public:
    ScriptedMovie(int pictures, bool sound, bool soundComes = true, int side = 0)
        : pictures_(pictures), soundComes_(soundComes) {
        info_.width = side > 0 ? side : 4;
        info_.height = side > 0 ? side : 2;
        info_.frameDurationUs = 40000;
        info_.durationUs = int64_t{pictures} * 40000;
        info_.hasAudio = sound;
        info_.audioRate = 8000;
        info_.audioChannels = 1;
    }
    const platform::MovieInfo& info() const override { return info_; }
    MovieOutput decode(std::vector<uint8_t>& picture, std::vector<int16_t>& samples,
                       int64_t& timeUs) override {
        if (next_ >= pictures_) return MovieOutput::End;
        timeUs = int64_t{next_} * 40000;
        if (info_.hasAudio && soundComes_ && !soundGiven_) {
            soundGiven_ = true;
            samples.assign(320, 16384);
            return MovieOutput::Audio;
        }
        picture.assign(static_cast<size_t>(info_.width) * info_.height * 4,
                       static_cast<uint8_t>(next_));
        ++next_;
        soundGiven_ = false;
        return MovieOutput::Picture;
    }
    bool seek(int64_t timeUs) override {
        next_ = static_cast<int>(std::max<int64_t>(timeUs, 0) / 40000);
        soundGiven_ = false;
        return true;
    }

  private:
    platform::MovieInfo info_;
    int pictures_;
    bool soundComes_;
    int next_ = 0;
    bool soundGiven_ = false;
};

class MoviePlayerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        Clock::instance().useStepped(1000);
        Clock::instance().becomeDriver();
    }
    void TearDown() override {
        player.reset();
        Clock::instance().useReal();
        Clock::instance().resignDriver();
    }
    void open(int pictures, bool sound, bool soundComes = true, int side = 0) {
        player = std::make_unique<MoviePlayer>(
            std::make_unique<ScriptedMovie>(pictures, sound, soundComes, side),
            sound ? &mixer : nullptr);
        Clock::instance().sleep(16);  // the decoder fills its queues
    }
    // One frame as the runtime runs it: time moves (the decoder tops up meanwhile), the update
    // takes the due picture, and the mix advances at the end.
    void frame(uint32_t ms = 16) {
        Clock& clock = Clock::instance();
        clock.sleep(ms);
        player->advance(clock.now());
        std::vector<int16_t> out(static_cast<size_t>(ms) * 441 / 10 * 2 + 2);
        mixer.render(out.data(), static_cast<uint32_t>(out.size() / 2));
        lastMix = std::move(out);
    }
    int shown() const { return player->picture() ? player->picture()->bgra[0] : -1; }
    uint32_t now() const { return Clock::instance().now(); }

    sound::Mixer mixer;
    std::unique_ptr<MoviePlayer> player;
    std::vector<int16_t> lastMix;
};

TEST_F(MoviePlayerTest, PicturesFollowTheRuntimeClockLateOnesAreDroppedAndTheLastOneStays) {
    open(10, false);
    EXPECT_EQ(shown(), -1);  // nothing before playback
    EXPECT_FALSE(player->playing());
    player->run(now());
    player->advance(now());
    EXPECT_EQ(shown(), 0);  // the first picture at once
    EXPECT_TRUE(player->playing());
    for (int n = 1; n <= 12; ++n) {
        frame();
        EXPECT_EQ(shown(), 16 * n / 40) << "after " << 16 * n << " ms";
    }
    EXPECT_EQ(player->picturesDropped(), 0u);
    // A long frame: four pictures fell due at once; three of them are never shown.
    frame(120);  // 312 ms
    EXPECT_EQ(shown(), 7);
    EXPECT_EQ(player->picturesDropped(), 2u);
    while (player->state() == MoviePlayer::State::Running && now() < 5000)
        frame();
    // The end: 400 ms after the start, the tenth picture's time is over.
    EXPECT_EQ(player->state(), MoviePlayer::State::Ended);
    EXPECT_FALSE(player->playing());
    EXPECT_EQ(shown(), 9);
    EXPECT_GE(player->positionUs(now()), 400000);
    // Played again, it starts over.
    player->run(now());
    EXPECT_TRUE(player->playing());
    frame();
    EXPECT_EQ(shown(), 0);
    frame(48);
    EXPECT_EQ(shown(), 1);
}

TEST_F(MoviePlayerTest, PauseHoldsStopGoesBackAndPositionsAndRateMoveTheClock) {
    open(20, false);
    player->run(now());
    frame(100);
    frame(100);  // 200 ms
    EXPECT_EQ(shown(), 5);
    player->pause(now());
    EXPECT_FALSE(player->playing());
    frame(300);
    EXPECT_EQ(shown(), 5);
    EXPECT_EQ(player->positionUs(now()), 200000);
    player->run(now());
    frame(40);
    EXPECT_EQ(shown(), 6);

    // Stop: the picture stays; the next play starts from the first picture.
    player->stop(now());
    frame(100);
    EXPECT_EQ(player->state(), MoviePlayer::State::Stopped);
    EXPECT_EQ(shown(), 6);
    player->run(now());
    frame();
    EXPECT_EQ(shown(), 0);

    // A stopped movie that is paused shows its first picture.
    player->stop(now());
    frame();
    player->pause(now());
    frame();
    EXPECT_EQ(shown(), 0);
    EXPECT_EQ(player->state(), MoviePlayer::State::Paused);

    // Positions: 400 ms into the movie, stopping at 520 ms.
    MoviePositions positions;
    positions.currentFlags = MovieSeek::Absolute;
    positions.currentMs = 400;
    positions.stopFlags = MovieSeek::Absolute;
    positions.stopMs = 520;
    player->setPositions(positions, now());
    frame();
    frame();
    EXPECT_EQ(shown(), 10);
    player->run(now());
    frame(80);
    EXPECT_EQ(shown(), 12);
    frame(48);  // 528 ms: past the stop position
    EXPECT_EQ(player->state(), MoviePlayer::State::Ended);
    EXPECT_EQ(shown(), 13);

    // Relative to where it stands, and at double speed: 16 ms of clock are 32 ms of movie.
    positions = MoviePositions{};
    positions.currentFlags = MovieSeek::Relative;
    positions.currentMs = -400;
    player->setPositions(positions, now());
    EXPECT_EQ(player->positionUs(now()), 128000);
    EXPECT_TRUE(player->setRate(2.0, now()));
    player->run(now());
    frame();
    frame(40);  // 80 ms of movie after 128
    EXPECT_EQ(shown(), 5);
    for (double refused : {0.0, -1.0, 17.0, std::numeric_limits<double>::quiet_NaN()}) {
        EXPECT_FALSE(player->setRate(refused, now())) << refused;
    }
}

TEST_F(MoviePlayerTest, TheSoundTimesThePicturesAtMinusTenDecibelsAndPausesWithThem) {
    open(25, true);
    ASSERT_TRUE(player->hasSound());
    player->run(now());
    player->advance(now());
    for (int n = 1; n <= 30; ++n) {
        frame();
        // The sound heard so far is the position; its pictures follow it.
        EXPECT_EQ(shown(), static_cast<int>(player->positionUs(now()) / 40000)) << n;
    }
    // The sound heard lags the frames by one: the mix of a frame happens at its end.
    EXPECT_NEAR(player->positionUs(now()), 464000, 3000);
    // Half of full scale at -10 dB: 16384 * 0.3162.
    EXPECT_NEAR(lastMix[200], 5181, 60);
    EXPECT_EQ(lastMix[200], lastMix[201]);  // mono on both sides

    player->pause(now());
    frame();
    frame();
    EXPECT_EQ(lastMix[200], 0);
    const int held = shown();
    frame(200);
    EXPECT_EQ(shown(), held);

    player->run(now());
    while (player->state() == MoviePlayer::State::Running && now() < 10000)
        frame();
    EXPECT_EQ(player->state(), MoviePlayer::State::Ended);
    EXPECT_EQ(shown(), 24);
    EXPECT_GE(player->positionUs(now()), 1000000);
}

TEST_F(MoviePlayerTest, SoundThatNeverComesDoesNotHoldThePictures) {
    // Large pictures, so that the decoder stops at its picture limit while it waits for the
    // sound the movie promised.
    open(40, true, false, 1024);
    player->run(now());
    const uint32_t start = now();
    frame(400);
    EXPECT_EQ(shown(), 0);  // held by the silent sound clock
    while (player->state() == MoviePlayer::State::Running && now() - start < 5000)
        frame(20);
    EXPECT_EQ(player->state(), MoviePlayer::State::Ended);
    EXPECT_EQ(shown(), 39);
    // Half a second waiting for the sound, then the runtime clock took over for 1.6 seconds.
    EXPECT_NEAR(static_cast<double>(now() - start), 2100, 60);
}

}  // namespace
}  // namespace vaxo2::graphics
