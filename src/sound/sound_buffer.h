#pragma once
// One sound buffer as the sound layers see it: PCM written once (a whole sound) or as a ring
// refilled while it plays (a stream), with the cursor bookkeeping that tells a refill how much
// it may write, and an end marker for a stream that ran dry. The PCM itself lives in a
// MixerBuffer.
#include <cstdint>
#include <memory>
#include <optional>

#include "sound/mixer.h"
#include "sound/wave_format.h"

namespace vaxo2::sound {

// Four seconds of 44.1 kHz 16-bit stereo: the ring of every stream, whatever its format.
constexpr uint32_t kStreamBufferBytes = 705600;
// Half a second of the same: the most one refill writes.
constexpr uint32_t kRefillBytes = 88200;

class SoundBuffer {
  public:
    // Null when the mixer cannot make a buffer of this format and size.
    static std::unique_ptr<SoundBuffer> create(Mixer& mixer, const WaveFormat& format,
                                               uint32_t size);

    const WaveFormat& format() const { return buffer_->format(); }
    uint32_t size() const { return buffer_->size(); }

    // Copies at `offset` (wrapping); returns the bytes copied.
    uint32_t writeAt(uint32_t offset, const uint8_t* data, uint32_t bytes);
    // Writes at the ring position and advances it by what was copied.
    uint32_t append(const uint8_t* data, uint32_t bytes);
    // The same with silence.
    uint32_t appendSilence(uint32_t bytes);

    // Bytes a refill may write now without overwriting what has not been heard. Also stops the
    // buffer once playback has passed the end marker.
    uint32_t freeSpace();
    // Marks the current ring position as the end of the data (once).
    void markEnd();

    void play(bool looping) { buffer_->play(looping); }
    void stop() { buffer_->stop(); }
    bool isPlaying() const { return buffer_->playing(); }

    // Linear volume (1.0 = full) through the process-wide curve; false when the buffer refused
    // the attenuation (it keeps its previous volume).
    bool setVolume(double linear);
    int32_t attenuation() const { return buffer_->volume(); }

    // The bookkeeping, for tests.
    int64_t written() const { return written_; }
    int64_t playBase() const { return playBase_; }
    int64_t writeBase() const { return writeBase_; }
    std::optional<int64_t> endMarker() const { return endMarker_; }

  private:
    explicit SoundBuffer(std::unique_ptr<MixerBuffer> buffer) : buffer_(std::move(buffer)) {}

    std::unique_ptr<MixerBuffer> buffer_;
    int64_t written_ = 0;
    uint32_t lastWriteCursor_ = 0;
    int64_t writeBase_ = 0;
    uint32_t lastPlayCursor_ = 0;
    uint64_t lastPlayPosition_ = 0;
    uint64_t lastWritePosition_ = 0;
    int64_t playBase_ = 0;
    std::optional<int64_t> endMarker_;
};

}  // namespace vaxo2::sound
