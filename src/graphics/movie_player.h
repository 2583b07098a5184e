#pragma once
// The player of one movie source: a decoding thread that keeps a few converted pictures and a
// little sound ahead, the movie's sound in a mixer stream, and the clock that decides which
// picture is due. Control (run, pause, stop, positions, rate) and the choice of the picture
// happen on the render thread; GraphicWait reads playing() from the scenario thread.
//
// Timing: while the movie has sound, its position is the sound played so far (the mixer
// stream's frame count); without sound, after it has played out, or at a rate other than 1,
// it is the runtime clock from the moment playback started. Positions are computed from a base,
// never accumulated frame by frame, so playback does not drift. A picture is shown once the
// position reaches its time; pictures whose time has passed when a newer one is also due are
// dropped unseen.
//
// On the stepped clock the decoding thread takes part in the stepping: it tops its queues up
// while the clock stands between two frames, so every run sees the same pictures and writes
// the same sound at the same times.
#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/movie_decoder.h"
#include "platform/threads.h"

namespace vaxo2::sound {
class Mixer;
class MixerStream;
}  // namespace vaxo2::sound

namespace vaxo2::graphics {

struct MoviePicture {
    int64_t timeUs = 0;
    uint64_t generation = 0;
    std::vector<uint8_t> bgra;  // width * height * 4, top row first
};

// How a position request places the current and the stop position, as a seeking interface
// names them.
enum class MovieSeek : int32_t {
    NoPositioning = 0,
    Absolute = 1,  // the given time from the start
    Relative = 2,  // the given time added to the current position
};

struct MoviePositions {
    MovieSeek currentFlags = MovieSeek::NoPositioning;
    int64_t currentMs = 0;
    MovieSeek stopFlags = MovieSeek::NoPositioning;
    int64_t stopMs = 0;
};

class MoviePlayer {
  public:
    enum class State : uint8_t { Stopped, Running, Paused, Ended };

    // The movie's sound volume, as the movie's audio renderer had it: -10 dB.
    static constexpr int32_t kSoundVolume = -1000;
    // Pictures decoded ahead of the one shown, and the most kept while waiting for sound
    // (files may store much picture before its sound): what fits in 64 MB, at least one more.
    static constexpr size_t kPicturesAhead = 3;
    static constexpr size_t kMostPictureBytes = size_t{64} << 20;
    // Sound decoded ahead of what is heard.
    static constexpr uint32_t kSoundAheadMs = 200;
    // Sound that stops coming for this long no longer holds the pictures back.
    static constexpr uint32_t kSoundStallMs = 500;

    // Starts the decoding thread at once: the first pictures are ready before playback starts.
    // `mixer` null plays without sound.
    MoviePlayer(std::unique_ptr<platform::MovieDecoder> decoder, sound::Mixer* mixer);
    ~MoviePlayer();
    MoviePlayer(const MoviePlayer&) = delete;
    MoviePlayer& operator=(const MoviePlayer&) = delete;

    int32_t width() const { return info_.width; }
    int32_t height() const { return info_.height; }
    const platform::MovieInfo& info() const { return info_; }
    bool hasSound() const { return stream_ != nullptr; }

    // ---- control (render thread) ----
    // From stopped or paused: plays on from the position. At the end: starts over.
    void run(uint32_t now);
    // Holds the picture and the sound. A stopped movie shows its first picture and holds it.
    void pause(uint32_t now);
    // Stops and goes back to the start; the picture on screen stays until playback starts.
    void stop(uint32_t now);
    void setPositions(const MoviePositions& positions, uint32_t now);
    // Playback speed (above 0, at most 16); false when refused. Other than 1 the sound is
    // silent and the runtime clock times the pictures.
    bool setRate(double rate, uint32_t now);

    // ---- each frame (render thread) ----
    // Takes the picture due at `now`, notices the end; true when the picture changed or the
    // movie ended. Once per clock time: a second call at the same time does nothing.
    bool advance(uint32_t now);
    // The picture to show; null until the first one arrived.
    const MoviePicture* picture() const { return current_.get(); }
    // Changes whenever picture() does.
    uint64_t pictureSerial() const { return serial_; }

    State state() const { return state_; }
    int64_t positionUs(uint32_t now) const;
    uint64_t picturesDropped() const { return dropped_; }
    // Running and not at the end yet. Any thread.
    bool playing() const { return playing_.load(); }

  private:
    uint32_t decodeLoop(platform::WorkerThread& self);
    bool decoderHasWork(bool inputEnded, const std::vector<int16_t>& pending) const;
    void waitForWork();
    void wakeDecoder(bool evenWhenStepped);
    // Sound for the stream, trimmed or padded so that its first frame lies at `audioStartUs`.
    void queueSound(const std::vector<int16_t>& samples, int64_t timeUs,
                    std::vector<int16_t>& pending, bool& soundStarted, int64_t seekTarget);
    void writePendingSound(std::vector<int16_t>& pending);
    std::unique_ptr<MoviePicture> takeSpare();

    void requestSeek(int64_t targetUs, uint32_t now);
    void startClock(uint32_t now, int64_t positionUs);
    void setRunning(bool running);
    bool audioClockUsable() const;
    int64_t audioPositionUs() const;
    void pickPicture(int64_t positionUs);

    std::unique_ptr<platform::MovieDecoder> decoder_;
    platform::MovieInfo info_;
    std::unique_ptr<sound::MixerStream> stream_;
    uint32_t soundAheadFrames_ = 0;
    size_t mostPictures_ = kPicturesAhead + 1;

    // ---- render thread only ----
    State state_ = State::Stopped;
    std::unique_ptr<MoviePicture> current_;
    uint64_t serial_ = 0;
    uint64_t dropped_ = 0;
    bool shownThisGeneration_ = false;
    int64_t lastShownUs_ = 0;
    int64_t heldUs_ = 0;  // the position while not running
    int64_t baseUs_ = 0;  // runtime clock: position at baseTime_
    uint32_t baseTime_ = 0;
    double rate_ = 1.0;
    bool audioClock_ = false;
    bool soundAbandoned_ = false;
    int64_t audioBaseUs_ = 0;  // position of the stream's first frame since the last flush
    uint64_t lastPlayed_ = 0;
    uint32_t lastPlayedAt_ = 0;
    bool playedMoved_ = false;
    int64_t stopAtUs_ = -1;  // a requested stop position, -1 none
    bool awaitingSeek_ = false;
    int64_t seekTargetUs_ = 0;
    uint32_t seekIssuedAt_ = 0;
    bool advancedOnce_ = false;
    uint32_t lastAdvance_ = 0;

    // ---- shared with the decoding thread, under queueMutex_ ----
    mutable std::mutex queueMutex_;
    std::deque<std::unique_ptr<MoviePicture>> queue_;
    std::vector<std::unique_ptr<MoviePicture>> spare_;
    bool picturesEnded_ = false;  // the decoder gave End for the current generation
    uint64_t generation_ = 0;
    bool seekPending_ = false;
    int64_t pendingTargetUs_ = 0;

    // ---- single flags across the threads ----
    std::atomic<bool> playing_{false};
    std::atomic<bool> wake_{false};
    std::atomic<bool> quit_{false};
    std::atomic<bool> soundMuted_{false};
    std::atomic<bool> soundEnded_{false};  // the decoder wrote the last sound of this generation
    std::atomic<uint64_t> seekDone_{0};    // the generation whose seek the decoder carried out

    platform::WorkerThread thread_;
};

}  // namespace vaxo2::graphics
