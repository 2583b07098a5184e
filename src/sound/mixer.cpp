#include "sound/mixer.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

#include "sound/volume.h"

namespace vaxo2::sound {

namespace {

constexpr uint32_t kFetchFrames = 512;

inline float sample16(const uint8_t* p) {
    const auto v = static_cast<int16_t>(static_cast<uint16_t>(p[0] | (p[1] << 8)));
    return static_cast<float>(v) * (1.0f / 32768.0f);
}

inline float sample8(uint8_t v) {
    return (static_cast<float>(v) - 128.0f) * (1.0f / 128.0f);
}

// Adds `frames` stereo frames of `src` into `mix`, the gain moving linearly from g0 to g1 over
// them so that a volume step does not click.
void addWithGain(float* mix, const float* src, uint32_t frames, float g0, float g1) {
    if (g0 == g1) {
        if (g1 == 0.0f) return;
        for (uint32_t i = 0; i < frames * 2; ++i)
            mix[i] += src[i] * g1;
        return;
    }
    const float step = (g1 - g0) / static_cast<float>(frames);
    for (uint32_t i = 0; i < frames; ++i) {
        const float g = g0 + step * static_cast<float>(i + 1);
        mix[2 * i] += src[2 * i] * g;
        mix[2 * i + 1] += src[2 * i + 1] * g;
    }
}

template <typename T>
void eraseFrom(std::vector<T*>& list, T* item) {
    auto it = std::find(list.begin(), list.end(), item);
    if (it != list.end()) list.erase(it);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// MixerBuffer

MixerBuffer::MixerBuffer(Mixer& mixer, const WaveFormat& format, std::vector<uint8_t> data)
    : mixer_(mixer),
      format_(format),
      data_(std::move(data)),
      frames_(static_cast<uint32_t>(data_.size() / format.blockAlign)),
      resampler_(format.samplesPerSec, 44100) {}

MixerBuffer::~MixerBuffer() {
    stop();
}

uint32_t MixerBuffer::write(uint32_t offset, const uint8_t* data, uint32_t bytes) {
    const uint32_t size = this->size();
    if (size == 0 || !data) return 0;
    bytes = std::min(bytes, size);
    offset %= size;
    const uint32_t first = std::min(bytes, size - offset);
    // A buffer out of the mix is touched by its owner only, so a large first fill copies without
    // holding up the device.
    std::unique_lock<std::mutex> lock(mixer_.mixLock_, std::defer_lock);
    if (active_.load(std::memory_order_acquire)) lock.lock();
    std::memcpy(data_.data() + offset, data, first);
    std::memcpy(data_.data(), data + first, bytes - first);
    return bytes;
}

uint32_t MixerBuffer::writeSilence(uint32_t offset, uint32_t bytes) {
    const uint32_t size = this->size();
    if (size == 0) return 0;
    bytes = std::min(bytes, size);
    offset %= size;
    const uint8_t silence = format_.bitsPerSample == 8 ? 0x80 : 0x00;
    const uint32_t first = std::min(bytes, size - offset);
    std::unique_lock<std::mutex> lock(mixer_.mixLock_, std::defer_lock);
    if (active_.load(std::memory_order_acquire)) lock.lock();
    std::memset(data_.data() + offset, silence, first);
    std::memset(data_.data(), silence, bytes - first);
    return bytes;
}

void MixerBuffer::cursors(uint32_t& play, uint32_t& write) const {
    std::lock_guard lock(mixer_.mixLock_);
    if (frames_ == 0) {
        play = write = 0;
        return;
    }
    const uint64_t heard = startFrame_ + resampler_.inputPosition();
    play = static_cast<uint32_t>(heard % frames_) * format_.blockAlign;
    write = static_cast<uint32_t>((startFrame_ + readCount_) % frames_) * format_.blockAlign;
}

void MixerBuffer::positions(uint64_t& play, uint64_t& write) const {
    std::lock_guard lock(mixer_.mixLock_);
    play = (startFrame_ + resampler_.inputPosition()) * format_.blockAlign;
    write = (startFrame_ + readCount_) * format_.blockAlign;
}

void MixerBuffer::rewindLocked() noexcept {
    startFrame_ = 0;
    readFrame_ = 0;
    readCount_ = 0;
    readEnded_ = false;
    resampler_.reset();
}

void MixerBuffer::play(bool looping) {
    std::lock_guard lock(mixer_.mixLock_);
    looping_ = looping;
    if (active_.load()) return;
    if (readEnded_) rewindLocked();
    gain_ = targetGain_;
    mixer_.buffers_.push_back(this);
    active_.store(true, std::memory_order_release);
}

void MixerBuffer::stop() {
    std::lock_guard lock(mixer_.mixLock_);
    if (!active_.load()) return;
    eraseFrom(mixer_.buffers_, this);
    active_.store(false, std::memory_order_release);
}

bool MixerBuffer::playing() const {
    return active_.load(std::memory_order_acquire);
}

bool MixerBuffer::looping() const {
    std::lock_guard lock(mixer_.mixLock_);
    return looping_;
}

bool MixerBuffer::setVolume(int32_t hundredthsDb) {
    if (hundredthsDb < kSilentAttenuation || hundredthsDb > kFullAttenuation) return false;
    std::lock_guard lock(mixer_.mixLock_);
    attenuation_ = hundredthsDb;
    targetGain_ = gainFor(hundredthsDb);
    return true;
}

int32_t MixerBuffer::volume() const {
    std::lock_guard lock(mixer_.mixLock_);
    return attenuation_;
}

uint32_t MixerBuffer::fetch(float* out, uint32_t frames) noexcept {
    const uint32_t block = format_.blockAlign;
    const bool stereo = format_.channels == 2;
    const bool eight = format_.bitsPerSample == 8;
    for (uint32_t i = 0; i < frames; ++i) {
        if (readFrame_ >= frames_) {
            if (looping_ && frames_ > 0) {
                readFrame_ = 0;
            } else {
                // Past the end of a static buffer: silence lets the filter ring out.
                readEnded_ = true;
                out[2 * i] = out[2 * i + 1] = 0.0f;
                continue;
            }
        }
        const uint8_t* p = data_.data() + static_cast<size_t>(readFrame_) * block;
        float left, right;
        if (eight) {
            left = sample8(p[0]);
            right = stereo ? sample8(p[1]) : left;
        } else {
            left = sample16(p);
            right = stereo ? sample16(p + 2) : left;
        }
        out[2 * i] = left;
        out[2 * i + 1] = right;
        ++readFrame_;
        ++readCount_;
    }
    return frames;
}

bool MixerBuffer::mixInto(float* mix, uint32_t frames) noexcept {
    float scratch[kFetchFrames * 2];
    uint32_t need = resampler_.inputNeeded(frames);
    while (need > 0) {
        const uint32_t n = std::min({need, kFetchFrames, resampler_.room()});
        if (n == 0) break;
        fetch(scratch, n);
        resampler_.push(scratch, n);
        need -= n;
    }
    float out[Resampler::kMaxChunk * 2];
    const uint32_t made = resampler_.outputsAvailable(frames);
    resampler_.produce(out, made);
    addWithGain(mix, out, made, gain_, targetGain_);
    gain_ = targetGain_;
    if (!looping_ && readEnded_ && startFrame_ + resampler_.inputPosition() >= frames_) {
        // Played to its end: stopped, and the next play starts from the beginning.
        rewindLocked();
        return false;
    }
    return true;
}

// ---------------------------------------------------------------------------------------------
// MixerStream

MixerStream::MixerStream(Mixer& mixer, uint32_t rate, uint32_t channels, uint32_t capacity)
    : mixer_(mixer),
      rate_(rate),
      channels_(channels),
      capacity_(capacity),
      ring_(static_cast<size_t>(capacity) * channels),
      resampler_(rate, 44100) {}

MixerStream::~MixerStream() {
    std::lock_guard lock(mixer_.mixLock_);
    eraseFrom(mixer_.streams_, this);
}

uint32_t MixerStream::write(const int16_t* interleaved, uint32_t frames) noexcept {
    if (!interleaved) return 0;
    const uint64_t w = writeIndex_.load(std::memory_order_relaxed);
    const uint64_t r = readIndex_.load(std::memory_order_acquire);
    const uint64_t free = capacity_ - std::min<uint64_t>(w - r, capacity_);
    const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(frames, free));
    const uint32_t at = static_cast<uint32_t>(w % capacity_);
    const uint32_t first = std::min(n, capacity_ - at);
    std::memcpy(ring_.data() + static_cast<size_t>(at) * channels_, interleaved,
                static_cast<size_t>(first) * channels_ * sizeof(int16_t));
    std::memcpy(ring_.data(), interleaved + static_cast<size_t>(first) * channels_,
                static_cast<size_t>(n - first) * channels_ * sizeof(int16_t));
    writeIndex_.store(w + n, std::memory_order_release);
    if (n > 0) drained_.store(false, std::memory_order_relaxed);
    return n;
}

uint32_t MixerStream::writable() const noexcept {
    const uint64_t queuedNow =
        writeIndex_.load(std::memory_order_relaxed) - readIndex_.load(std::memory_order_acquire);
    return capacity_ - static_cast<uint32_t>(std::min<uint64_t>(queuedNow, capacity_));
}

uint32_t MixerStream::queued() const noexcept {
    return capacity_ - writable();
}

void MixerStream::setVolume(int32_t hundredthsDb) noexcept {
    attenuation_.store(std::clamp(hundredthsDb, kSilentAttenuation, kFullAttenuation));
}

void MixerStream::setPaused(bool paused) noexcept {
    paused_.store(paused);
}

void MixerStream::flush() noexcept {
    std::lock_guard lock(mixer_.mixLock_);
    readIndex_.store(writeIndex_.load(std::memory_order_acquire), std::memory_order_release);
    resampler_.reset();
    realPushed_ = 0;
    played_.store(0);
    ended_.store(false);
    drained_.store(false);
}

void MixerStream::endOfStream() noexcept {
    ended_.store(true);
}

bool MixerStream::drained() const noexcept {
    return drained_.load();
}

uint64_t MixerStream::framesPlayed() const noexcept {
    return played_.load();
}

void MixerStream::mixInto(float* mix, uint32_t frames) noexcept {
    if (paused_.load()) return;
    const uint64_t w = writeIndex_.load(std::memory_order_acquire);
    uint64_t r = readIndex_.load(std::memory_order_relaxed);
    const uint32_t need = resampler_.inputNeeded(frames);
    const uint32_t take = static_cast<uint32_t>(std::min<uint64_t>(need, w - r));
    float scratch[kFetchFrames * 2];
    for (uint32_t done = 0; done < take;) {
        const uint32_t n = std::min({take - done, kFetchFrames, resampler_.room()});
        if (n == 0) break;
        for (uint32_t i = 0; i < n; ++i) {
            const int16_t* s = ring_.data() + static_cast<size_t>((r + i) % capacity_) * channels_;
            const float left = static_cast<float>(s[0]) * (1.0f / 32768.0f);
            scratch[2 * i] = left;
            scratch[2 * i + 1] =
                channels_ == 2 ? static_cast<float>(s[1]) * (1.0f / 32768.0f) : left;
        }
        resampler_.push(scratch, n);
        r += n;
        done += n;
        realPushed_ += n;
    }
    readIndex_.store(r, std::memory_order_release);
    const uint64_t real = realPushed_;
    const bool ended = ended_.load() && r == w;
    if (ended && take < need) {
        // Nothing more will come: silence after the last frame lets the filter ring out.
        std::fill(scratch, scratch + sizeof scratch / sizeof scratch[0], 0.0f);
        for (uint32_t pad = need - take; pad > 0;) {
            const uint32_t n = std::min({pad, kFetchFrames, resampler_.room()});
            if (n == 0) break;
            resampler_.push(scratch, n);
            pad -= n;
        }
    }
    float out[Resampler::kMaxChunk * 2];
    const uint32_t made = resampler_.outputsAvailable(frames);
    resampler_.produce(out, made);
    const float target = gainFor(attenuation_.load());
    // The volume set before the first sound is where the stream starts, not a ramp from full.
    if (!sounded_) gain_ = target;
    sounded_ = sounded_ || made > 0;
    addWithGain(mix, out, made, gain_, target);
    gain_ = target;
    const uint64_t heard = std::min(resampler_.inputPosition(), real);
    played_.store(heard);
    if (ended && heard >= real) drained_.store(true);
}

// ---------------------------------------------------------------------------------------------
// Mixer

std::unique_ptr<MixerBuffer> Mixer::createBuffer(const WaveFormat& format, uint32_t bytes) {
    if (!isPlayableFormat(format) || bytes == 0 || bytes > kMaxBufferBytes) return nullptr;
    std::vector<uint8_t> data;
    try {
        data.assign(bytes, format.bitsPerSample == 8 ? 0x80 : 0x00);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    return std::unique_ptr<MixerBuffer>(new MixerBuffer(*this, format, std::move(data)));
}

std::unique_ptr<MixerStream> Mixer::openStream(uint32_t rate, uint32_t channels,
                                               uint32_t capacityFrames) {
    if ((channels != 1 && channels != 2) || rate < kMinBufferRate || rate > kMaxBufferRate ||
        capacityFrames == 0 || capacityFrames > kMaxBufferBytes / 4) {
        return nullptr;
    }
    std::unique_ptr<MixerStream> stream;
    try {
        stream.reset(new MixerStream(*this, rate, channels, capacityFrames));
        std::lock_guard lock(mixLock_);
        streams_.push_back(stream.get());
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    return stream;
}

void Mixer::render(int16_t* out, uint32_t frames) noexcept {
    std::lock_guard lock(mixLock_);
    float mix[Resampler::kMaxChunk * 2];
    for (uint32_t done = 0; done < frames;) {
        const uint32_t n = std::min(frames - done, Resampler::kMaxChunk);
        std::fill(mix, mix + n * 2, 0.0f);
        for (size_t i = 0; i < buffers_.size();) {
            MixerBuffer* b = buffers_[i];
            if (b->mixInto(mix, n)) {
                ++i;
            } else {
                b->active_.store(false, std::memory_order_release);
                buffers_.erase(buffers_.begin() + static_cast<ptrdiff_t>(i));
            }
        }
        for (MixerStream* s : streams_)
            s->mixInto(mix, n);
        int16_t* dst = out + static_cast<size_t>(done) * 2;
        for (uint32_t i = 0; i < n * 2; ++i) {
            const float v = std::nearbyint(mix[i] * 32768.0f);
            dst[i] = static_cast<int16_t>(std::clamp(v, -32768.0f, 32767.0f));
        }
        done += n;
    }
    rendered_.fetch_add(frames);
}

}  // namespace vaxo2::sound
