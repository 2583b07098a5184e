#include "graphics/movie_player.h"

#include <algorithm>
#include <cmath>

#include "platform/clock.h"
#include "sound/mixer.h"

namespace vaxo2::graphics {

using platform::Clock;
using platform::MovieOutput;

namespace {
// A picture time that jumps further than this either way is taken as damage: the picture
// follows its predecessor instead, so a broken time stamp cannot hold a movie for hours.
constexpr int64_t kMaxPictureGapUs = 2'000'000;
// Sound that starts later than the position it is meant for is preceded by silence, up to this.
constexpr int64_t kMaxSoundPadUs = 2'000'000;
constexpr double kMaxRate = 16.0;
// Between two hand-overs of sound to the device the position runs on with the runtime clock,
// at most this far, so that pictures move smoothly with sound that is mixed in large periods.
constexpr uint32_t kSmoothingMs = 100;
// Requested times are clamped to this (about 35 years), so microseconds cannot overflow.
constexpr int64_t kMaxRequestMs = int64_t{1} << 40;
}  // namespace

MoviePlayer::MoviePlayer(std::unique_ptr<platform::MovieDecoder> decoder, sound::Mixer* mixer)
    : decoder_(std::move(decoder)), info_(decoder_->info()) {
    if (info_.frameDurationUs <= 0) info_.frameDurationUs = 40000;
    const size_t pictureBytes = static_cast<size_t>(info_.width) * info_.height * 4;
    mostPictures_ =
        std::max(kPicturesAhead + 1, kMostPictureBytes / std::max<size_t>(pictureBytes, 1));
    if (mixer != nullptr && info_.hasAudio && info_.audioRate > 0 &&
        (info_.audioChannels == 1 || info_.audioChannels == 2)) {
        soundAheadFrames_ = std::max<uint32_t>(info_.audioRate * kSoundAheadMs / 1000, 256);
        stream_ = mixer->openStream(info_.audioRate, info_.audioChannels, soundAheadFrames_ * 2);
        if (stream_) {
            stream_->setPaused(true);
            stream_->setVolume(kSoundVolume);
        }
    }
    thread_.start([this](platform::WorkerThread& self) { return decodeLoop(self); });
}

MoviePlayer::~MoviePlayer() {
    Clock::instance().notify([this] { quit_ = true; });
    // The thread only ever waits briefly; give a slow machine (a sanitizer build decoding a
    // large picture) ample time before leaving it to the process exit.
    for (int i = 0; i < 10 && thread_.stop(1000) == platform::kWaitTimeout; ++i) {
    }
}

// ---------------------------------------------------------------------------------------------
// Decoding thread

std::unique_ptr<MoviePicture> MoviePlayer::takeSpare() {
    std::lock_guard lock(queueMutex_);
    if (spare_.empty()) return std::make_unique<MoviePicture>();
    std::unique_ptr<MoviePicture> picture = std::move(spare_.back());
    spare_.pop_back();
    return picture;
}

bool MoviePlayer::decoderHasWork(bool inputEnded, const std::vector<int16_t>& pending) const {
    size_t pictures = 0;
    {
        std::lock_guard lock(queueMutex_);
        if (seekPending_) return true;
        pictures = queue_.size();
    }
    if (inputEnded) return false;
    // Sound far ahead of the pictures in the file (a long sound track after a short picture
    // stream) waits to be heard rather than piling up.
    if (pending.size() > size_t{2} * info_.audioRate * info_.audioChannels) return false;
    if (pictures < kPicturesAhead) return true;
    // Sound often lies behind the pictures in the file: keep decoding for it, within bounds.
    return stream_ && !soundMuted_.load() && pending.empty() &&
           stream_->queued() < soundAheadFrames_ && pictures < mostPictures_;
}

void MoviePlayer::waitForWork() {
    Clock& clock = Clock::instance();
    // Stepped: wake at every step and top the queues up while the clock stands. Real time:
    // the render thread's wake-ups come at once; the timeout notices the sound draining.
    clock.waitUntil([this] { return wake_.load() || quit_.load(); }, clock.stepped() ? 1 : 10);
    wake_.store(false);
}

void MoviePlayer::wakeDecoder(bool evenWhenStepped) {
    Clock& clock = Clock::instance();
    // On the stepped clock the thread looks for work when time moves; waking it in the middle
    // of a frame would make what it has done by the frame's end a race.
    if (clock.stepped() && !evenWhenStepped) return;
    clock.notify([this] { wake_ = true; });
}

void MoviePlayer::writePendingSound(std::vector<int16_t>& pending) {
    if (!stream_ || pending.empty()) return;
    const uint32_t channels = info_.audioChannels;
    const auto frames = static_cast<uint32_t>(pending.size() / channels);
    const uint32_t taken = stream_->write(pending.data(), frames);
    pending.erase(pending.begin(), pending.begin() + static_cast<ptrdiff_t>(taken) * channels);
}

void MoviePlayer::queueSound(const std::vector<int16_t>& samples, int64_t timeUs,
                             std::vector<int16_t>& pending, bool& soundStarted,
                             int64_t seekTarget) {
    const uint32_t channels = info_.audioChannels;
    const size_t frames = samples.size() / channels;
    size_t skip = 0;
    if (!soundStarted) {
        // The stream's first frame belongs to the position playback starts from: sound that
        // begins later gets silence in front, sound from before it is cut.
        const int64_t offsetUs = timeUs - seekTarget;
        if (offsetUs > 0) {
            const auto pad =
                static_cast<size_t>(std::min(offsetUs, kMaxSoundPadUs) * info_.audioRate / 1000000);
            pending.insert(pending.end(), pad * channels, 0);
        } else if (offsetUs < 0) {
            skip = static_cast<size_t>(-offsetUs * info_.audioRate / 1000000);
            if (skip >= frames) return;  // wholly before the start
        }
        soundStarted = true;
    }
    pending.insert(pending.end(), samples.begin() + static_cast<ptrdiff_t>(skip * channels),
                   samples.begin() + static_cast<ptrdiff_t>(frames * channels));
}

uint32_t MoviePlayer::decodeLoop(platform::WorkerThread& self) {
    std::unique_ptr<MoviePicture> spare;
    std::vector<int16_t> samples;
    std::vector<int16_t> pending;
    uint64_t generation = 0;
    int64_t seekTarget = 0;
    bool inputEnded = false;
    bool endSignalled = false;
    bool soundStarted = false;
    bool havePicture = false;
    int64_t lastPictureUs = 0;
    while (!quit_.load() && !self.stopRequested()) {
        bool seek = false;
        {
            std::lock_guard lock(queueMutex_);
            if (seekPending_) {
                seekPending_ = false;
                seek = true;
                generation = generation_;
                seekTarget = pendingTargetUs_;
            }
        }
        if (seek) {
            // Only this thread writes sound, so only it may drop what is queued: nothing
            // written before the seek can follow the flush.
            if (stream_) stream_->flush();
            decoder_->seek(seekTarget);
            pending.clear();
            inputEnded = endSignalled = soundStarted = havePicture = false;
            soundEnded_ = false;
            seekDone_.store(generation);
            continue;
        }
        writePendingSound(pending);
        if (inputEnded && pending.empty() && !endSignalled) {
            endSignalled = true;
            if (stream_) stream_->endOfStream();
            soundEnded_ = true;
        }
        if (!decoderHasWork(inputEnded, pending)) {
            waitForWork();
            continue;
        }
        if (!spare) spare = takeSpare();
        int64_t timeUs = 0;
        switch (decoder_->decode(spare->bgra, samples, timeUs)) {
            case MovieOutput::Picture: {
                // Times a little out of order are kept (after a seek, some containers give the
                // first pictures rough times); a repeated time or a wild jump is damage.
                if (havePicture &&
                    (timeUs == lastPictureUs || timeUs > lastPictureUs + kMaxPictureGapUs ||
                     timeUs < lastPictureUs - kMaxPictureGapUs)) {
                    timeUs = lastPictureUs + info_.frameDurationUs;
                }
                havePicture = true;
                lastPictureUs = timeUs;
                // Pictures that end before the position sought are never shown.
                if (timeUs + info_.frameDurationUs <= seekTarget) break;
                spare->timeUs = timeUs;
                spare->generation = generation;
                std::lock_guard lock(queueMutex_);
                if (generation == generation_ && !seekPending_) queue_.push_back(std::move(spare));
                break;
            }
            case MovieOutput::Audio:
                if (stream_ && !soundMuted_.load()) {
                    queueSound(samples, timeUs, pending, soundStarted, seekTarget);
                    writePendingSound(pending);
                }
                break;
            case MovieOutput::End: {
                inputEnded = true;
                std::lock_guard lock(queueMutex_);
                if (generation == generation_ && !seekPending_) picturesEnded_ = true;
                break;
            }
            case MovieOutput::Nothing:
                break;
        }
    }
    return 0;
}

// ---------------------------------------------------------------------------------------------
// Render thread

bool MoviePlayer::audioClockUsable() const {
    return stream_ && !soundAbandoned_ && rate_ == 1.0 &&
           !(soundEnded_.load() && stream_->drained());
}

int64_t MoviePlayer::audioPositionUs() const {
    return audioBaseUs_ + static_cast<int64_t>(lastPlayed_ * 1000000 / info_.audioRate);
}

int64_t MoviePlayer::positionUs(uint32_t now) const {
    if (state_ != State::Running || awaitingSeek_) return heldUs_;
    if (audioClock_) {
        // Runs on only once the sound moves: before it starts, the position waits for it.
        const uint32_t since = playedMoved_ ? now - lastPlayedAt_ : 0;
        return audioPositionUs() + int64_t{std::min(since, kSmoothingMs)} * 1000;
    }
    const uint32_t elapsed = now - baseTime_;
    return baseUs_ + static_cast<int64_t>(std::llround(elapsed * 1000.0 * rate_));
}

void MoviePlayer::setRunning(bool running) {
    playing_.store(running);
    if (stream_) stream_->setPaused(!running || soundMuted_.load() || awaitingSeek_);
}

void MoviePlayer::startClock(uint32_t now, int64_t positionUs) {
    baseUs_ = positionUs;
    baseTime_ = now;
    lastPlayedAt_ = now;
    audioClock_ = audioClockUsable();
    playedMoved_ = false;
    if (audioClock_) lastPlayed_ = stream_->framesPlayed();
    setRunning(true);
}

void MoviePlayer::requestSeek(int64_t targetUs, uint32_t now) {
    {
        std::lock_guard lock(queueMutex_);
        ++generation_;
        seekPending_ = true;
        pendingTargetUs_ = targetUs;
        for (auto& picture : queue_)
            spare_.push_back(std::move(picture));
        queue_.clear();
        picturesEnded_ = false;
    }
    awaitingSeek_ = true;
    seekTargetUs_ = targetUs;
    seekIssuedAt_ = now;
    heldUs_ = targetUs;
    shownThisGeneration_ = false;
    audioClock_ = false;
    if (stream_) stream_->setPaused(true);
    wakeDecoder(false);
}

void MoviePlayer::run(uint32_t now) {
    if (state_ == State::Running) return;
    // Played to the end: GraphicPlay starts it over.
    if (state_ == State::Ended) requestSeek(0, now);
    state_ = State::Running;
    if (awaitingSeek_) {
        playing_.store(true);  // the clock starts when the decoder is there
    } else {
        startClock(now, heldUs_);
    }
}

void MoviePlayer::pause(uint32_t now) {
    if (state_ == State::Running) {
        heldUs_ = positionUs(now);
        state_ = State::Paused;
        setRunning(false);
    } else if (state_ == State::Stopped) {
        state_ = State::Paused;
    }
}

void MoviePlayer::stop(uint32_t now) {
    state_ = State::Stopped;
    setRunning(false);
    requestSeek(0, now);
}

void MoviePlayer::setPositions(const MoviePositions& positions, uint32_t now) {
    const int64_t current = positionUs(now);
    auto micros = [](int64_t ms) { return std::clamp(ms, -kMaxRequestMs, kMaxRequestMs) * 1000; };
    int64_t target = -1;
    if (positions.currentFlags == MovieSeek::Absolute) target = micros(positions.currentMs);
    if (positions.currentFlags == MovieSeek::Relative) {
        target = current + micros(positions.currentMs);
    }
    const int64_t from = target >= 0 ? target : current;
    if (positions.currentFlags != MovieSeek::NoPositioning) {
        target = std::max<int64_t>(target, 0);
        if (info_.durationUs > 0) target = std::min(target, info_.durationUs);
        // A movie at its end shows the picture at the new position and waits there.
        if (state_ == State::Ended) state_ = State::Paused;
        requestSeek(target, now);
    }
    if (positions.stopFlags == MovieSeek::Absolute) {
        stopAtUs_ = std::max<int64_t>(micros(positions.stopMs), 0);
    } else if (positions.stopFlags == MovieSeek::Relative) {
        stopAtUs_ = std::max<int64_t>(from + micros(positions.stopMs), 0);
    }
}

bool MoviePlayer::setRate(double rate, uint32_t now) {
    if (!(rate > 0.0) || rate > kMaxRate) return false;
    if (rate == rate_) return true;
    const int64_t position = positionUs(now);
    rate_ = rate;
    if (rate != 1.0) {
        // The sound cannot follow a changed speed: it falls silent and the pictures go by the
        // runtime clock.
        soundMuted_ = true;
        if (stream_) stream_->setPaused(true);
        if (state_ == State::Running && !awaitingSeek_) {
            audioClock_ = false;
            baseUs_ = position;
            baseTime_ = now;
        }
        return true;
    }
    soundMuted_ = soundAbandoned_;
    if (stream_ && !soundAbandoned_) {
        // The sound was dropped meanwhile: pick it up where the pictures are.
        requestSeek(position, now);
    } else if (state_ == State::Running && !awaitingSeek_) {
        baseUs_ = position;
        baseTime_ = now;
    }
    return true;
}

void MoviePlayer::pickPicture(int64_t positionUs) {
    std::unique_ptr<MoviePicture> chosen;
    {
        std::lock_guard lock(queueMutex_);
        // After a start or a seek the first picture shows at once, even before its time.
        if (!shownThisGeneration_ && !queue_.empty()) {
            chosen = std::move(queue_.front());
            queue_.pop_front();
        }
        while (!queue_.empty() && queue_.front()->timeUs <= positionUs) {
            if (chosen) {
                spare_.push_back(std::move(chosen));
                ++dropped_;  // late: a newer picture is due already
            }
            chosen = std::move(queue_.front());
            queue_.pop_front();
        }
        if (chosen && current_) spare_.push_back(std::move(current_));
    }
    if (!chosen) return;
    current_ = std::move(chosen);
    ++serial_;
    shownThisGeneration_ = true;
    lastShownUs_ = current_->timeUs;
    wakeDecoder(false);
}

bool MoviePlayer::advance(uint32_t now) {
    if (advancedOnce_ && now == lastAdvance_) return false;
    advancedOnce_ = true;
    lastAdvance_ = now;
    bool changed = false;
    if (awaitingSeek_) {
        // The decoder carries the seek out between frames; its first pictures are taken from
        // the next frame on, whatever the decoder's speed.
        uint64_t requested = 0;
        {
            std::lock_guard lock(queueMutex_);
            requested = generation_;
        }
        if (now == seekIssuedAt_ || seekDone_.load() != requested) return false;
        awaitingSeek_ = false;
        audioBaseUs_ = seekTargetUs_;
        lastPlayed_ = 0;
        if (state_ == State::Running) startClock(now, seekTargetUs_);
    }
    if (state_ == State::Stopped || state_ == State::Ended) return changed;

    if (state_ == State::Running && audioClock_) {
        const uint64_t played = stream_->framesPlayed();
        if (played != lastPlayed_) {
            lastPlayed_ = played;
            lastPlayedAt_ = now;
            playedMoved_ = true;
        }
        if (soundEnded_.load() && stream_->drained()) {
            // The sound has played out; the pictures go on by the runtime clock.
            baseUs_ = audioPositionUs();
            baseTime_ = now;
            audioClock_ = false;
        } else if (now - lastPlayedAt_ > kSoundStallMs && stream_->queued() == 0) {
            // Sound that does not come (a damaged sound stream) must not freeze the pictures.
            baseUs_ = positionUs(now);
            baseTime_ = now;
            audioClock_ = false;
            soundAbandoned_ = true;
            soundMuted_ = true;
            stream_->setPaused(true);
        }
    }

    const int64_t position = positionUs(now);
    const uint64_t before = serial_;
    pickPicture(position);
    changed = serial_ != before;

    if (state_ == State::Running) {
        bool picturesDone = false;
        {
            std::lock_guard lock(queueMutex_);
            picturesDone = picturesEnded_ && queue_.empty();
        }
        const int64_t endUs = shownThisGeneration_ ? lastShownUs_ + info_.frameDurationUs : 0;
        bool ended = picturesDone && !audioClock_ && position >= endUs;
        if (stopAtUs_ >= 0 && position >= stopAtUs_) ended = true;
        if (ended) {
            heldUs_ = position;
            state_ = State::Ended;
            setRunning(false);
            changed = true;
        }
    }
    return changed;
}

}  // namespace vaxo2::graphics
