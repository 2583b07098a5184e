#pragma once
// The device-independent mixer. It owns nothing but the list of what plays; it renders 44100 Hz
// stereo signed 16-bit frames for the audio device by summing:
//  - MixerBuffers: PCM buffers in their own format (8 or 16 bits, mono or stereo, 100 Hz to
//    200 kHz), static or played as a looping ring, with a play and a write cursor and a volume
//    in hundredths of a decibel, like a hardware secondary buffer;
//  - MixerStreams: queues of 16-bit PCM that another subsystem feeds as it decodes (movie
//    sound), at any rate, with their own volume.
// Each source is resampled to the device rate on the fly.
//
// Locking: one mix lock. render() holds it while it mixes one device period; every other
// operation holds it only for constant time or one copy. MixerStream's feeding side takes no
// lock at all, so a decoder thread never waits for the audio callback.
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "sound/resampler.h"
#include "sound/wave_format.h"

namespace vaxo2::sound {

class Mixer;

class MixerBuffer {
  public:
    ~MixerBuffer();  // stops it (takes the mix lock)
    MixerBuffer(const MixerBuffer&) = delete;
    MixerBuffer& operator=(const MixerBuffer&) = delete;

    const WaveFormat& format() const { return format_; }
    uint32_t size() const { return static_cast<uint32_t>(data_.size()); }

    // Copies `bytes` at `offset` (mod size), wrapping at the end; returns the bytes copied (at
    // most the size).
    uint32_t write(uint32_t offset, const uint8_t* data, uint32_t bytes);
    // The same with the format's silence (0 for 16 bits, 0x80 for 8 bits).
    uint32_t writeSilence(uint32_t offset, uint32_t bytes);

    // Byte offsets in the buffer: what is being heard, and the first byte that may be written
    // without being heard at once (everything between them has been read for the device).
    void cursors(uint32_t& play, uint32_t& write) const;
    // The same as byte counts that keep growing across the wraps of a looping buffer (they go
    // back to 0 only when a static buffer that played to its end starts again).
    void positions(uint64_t& play, uint64_t& write) const;

    // Starts (or resumes) playing from the play cursor; a looping buffer wraps at its end, a
    // static one stops there and goes back to its start.
    void play(bool looping);
    // Stops and keeps the position.
    void stop();
    bool playing() const;
    bool looping() const;

    // Refuses (false) an attenuation outside -10000..0; the volume then stays.
    bool setVolume(int32_t hundredthsDb);
    int32_t volume() const;

  private:
    friend class Mixer;
    MixerBuffer(Mixer& mixer, const WaveFormat& format, std::vector<uint8_t> data);

    // Mix-lock held. Adds `frames` device frames into `mix`; false when it ended.
    bool mixInto(float* mix, uint32_t frames) noexcept;
    // Mix-lock held. Reads up to `frames` frames from the data at readFrame_ as stereo float.
    uint32_t fetch(float* out, uint32_t frames) noexcept;
    void rewindLocked() noexcept;

    Mixer& mixer_;
    const WaveFormat format_;
    std::vector<uint8_t> data_;
    const uint32_t frames_;  // whole frames in data_
    Resampler resampler_;
    uint32_t startFrame_ = 0;  // the frame the resampler's input frame 0 came from
    uint32_t readFrame_ = 0;   // next frame to read
    uint64_t readCount_ = 0;   // frames read since the resampler's input frame 0
    bool readEnded_ = false;   // a static buffer read to its end
    bool looping_ = false;
    int32_t attenuation_ = 0;
    float gain_ = 1.0f;  // applied at the end of the last period
    float targetGain_ = 1.0f;
    std::atomic<bool> active_{false};  // in the mixer's list
};

// A queue of PCM that another subsystem feeds while it plays (movie sound).
//
// Feeding side (one thread at a time, typically a decoder): write() and the queries are
// noexcept and lock-free; write() never blocks: it takes what fits and returns how much.
// Control (any thread): setVolume, setPaused and flush are noexcept; flush takes the mix lock for
// a moment. Destroying the stream takes it out of the mix.
class MixerStream {
  public:
    ~MixerStream();
    MixerStream(const MixerStream&) = delete;
    MixerStream& operator=(const MixerStream&) = delete;

    uint32_t rate() const { return rate_; }
    uint32_t channels() const { return channels_; }

    // Queues up to `frames` interleaved signed 16-bit frames; returns how many were taken.
    uint32_t write(const int16_t* interleaved, uint32_t frames) noexcept;
    // Frames that write() would take now.
    uint32_t writable() const noexcept;
    // Frames queued and not yet played.
    uint32_t queued() const noexcept;

    // Attenuation in hundredths of a decibel (-1000 is -10 dB); 0 and below, -10000 silent.
    void setVolume(int32_t hundredthsDb) noexcept;
    // While paused nothing is taken from the queue and the stream adds silence.
    void setPaused(bool paused) noexcept;
    // Drops everything queued (a seek or a stop) and restarts framesPlayed at 0.
    void flush() noexcept;
    // No more data will come: what is queued plays out, then drained() turns true.
    void endOfStream() noexcept;
    bool drained() const noexcept;

    // Source frames played (sent to the device) since the stream opened or was last flushed: the
    // audio clock for whoever keeps pictures in step with this sound. An empty queue holds it.
    uint64_t framesPlayed() const noexcept;

  private:
    friend class Mixer;
    MixerStream(Mixer& mixer, uint32_t rate, uint32_t channels, uint32_t capacity);
    // Mix-lock held.
    void mixInto(float* mix, uint32_t frames) noexcept;

    Mixer& mixer_;
    const uint32_t rate_;
    const uint32_t channels_;
    const uint32_t capacity_;  // frames
    std::vector<int16_t> ring_;
    Resampler resampler_;
    std::atomic<uint64_t> writeIndex_{0};  // frames ever written (feeding side)
    std::atomic<uint64_t> readIndex_{0};   // frames ever taken (mixer side)
    std::atomic<uint64_t> played_{0};
    std::atomic<int32_t> attenuation_{0};
    std::atomic<bool> paused_{false};
    std::atomic<bool> ended_{false};
    std::atomic<bool> drained_{false};
    float gain_ = 1.0f;
    bool sounded_ = false;     // a period has been mixed: later volume changes ramp
    uint64_t realPushed_ = 0;  // queued frames handed to the resampler since the last flush
};

class Mixer {
  public:
    // Largest buffer accepted, in bytes.
    static constexpr uint32_t kMaxBufferBytes = 0x0FFFFFFF;

    Mixer() = default;
    ~Mixer() = default;
    Mixer(const Mixer&) = delete;
    Mixer& operator=(const Mixer&) = delete;

    // A silent, stopped buffer of `bytes` bytes; null when the format cannot be played (see
    // isPlayableFormat), the size is 0 or above kMaxBufferBytes, or memory runs out.
    std::unique_ptr<MixerBuffer> createBuffer(const WaveFormat& format, uint32_t bytes);

    // A stream of `channels` (1 or 2) at `rate` Hz holding up to `capacityFrames` queued frames;
    // it plays from the moment it opens. Null for an unusable layout.
    std::unique_ptr<MixerStream> openStream(uint32_t rate, uint32_t channels,
                                            uint32_t capacityFrames);

    // The device side: writes `frames` interleaved stereo frames.
    void render(int16_t* out, uint32_t frames) noexcept;
    uint64_t framesRendered() const noexcept { return rendered_.load(); }

  private:
    friend class MixerBuffer;
    friend class MixerStream;

    mutable std::mutex mixLock_;
    std::vector<MixerBuffer*> buffers_;  // playing ones (guarded by mixLock_)
    std::vector<MixerStream*> streams_;  // guarded by mixLock_
    std::atomic<uint64_t> rendered_{0};
};

}  // namespace vaxo2::sound
