#include "sound/sound_buffer.h"

#include "sound/volume.h"

namespace vaxo2::sound {

std::unique_ptr<SoundBuffer> SoundBuffer::create(Mixer& mixer, const WaveFormat& format,
                                                 uint32_t size) {
    std::unique_ptr<MixerBuffer> buffer = mixer.createBuffer(format, size);
    if (!buffer) return nullptr;
    return std::unique_ptr<SoundBuffer>(new SoundBuffer(std::move(buffer)));
}

uint32_t SoundBuffer::writeAt(uint32_t offset, const uint8_t* data, uint32_t bytes) {
    return buffer_->write(offset, data, bytes);
}

uint32_t SoundBuffer::append(const uint8_t* data, uint32_t bytes) {
    const uint32_t copied = writeAt(static_cast<uint32_t>(written_ % size()), data, bytes);
    written_ += copied;
    return copied;
}

uint32_t SoundBuffer::appendSilence(uint32_t bytes) {
    const uint32_t copied = buffer_->writeSilence(static_cast<uint32_t>(written_ % size()), bytes);
    written_ += copied;
    return copied;
}

void SoundBuffer::markEnd() {
    if (!endMarker_) endMarker_ = written_;
}

uint32_t SoundBuffer::freeSpace() {
    const int64_t size = this->size();
    uint64_t playPosition = 0, writePosition = 0;
    buffer_->positions(playPosition, writePosition);
    const auto play = static_cast<uint32_t>(playPosition % static_cast<uint64_t>(size));
    const auto write = static_cast<uint32_t>(writePosition % static_cast<uint64_t>(size));
    // A cursor that went round the ring adds a ring to its base: once per lap, so a refill that
    // stalled for a whole ring or more still sees that the device passed it.
    auto laps = [&](uint64_t now, uint64_t last, uint32_t cursor, uint32_t lastCursor) -> int64_t {
        if (now >= last) return static_cast<int64_t>(now / size - last / size);
        return cursor < lastCursor ? 1 : 0;  // started over from the beginning
    };
    playBase_ += size * laps(playPosition, lastPlayPosition_, play, lastPlayCursor_);
    writeBase_ += size * laps(writePosition, lastWritePosition_, write, lastWriteCursor_);
    lastPlayPosition_ = playPosition;
    lastWritePosition_ = writePosition;
    lastPlayCursor_ = play;
    lastWriteCursor_ = write;
    // Keep the absolute positions small.
    if (playBase_ >= size && writeBase_ >= size && written_ >= size) {
        playBase_ -= size;
        writeBase_ -= size;
        written_ -= size;
        if (endMarker_) *endMarker_ -= size;
    }
    const int64_t safe = writeBase_ + write;
    const int64_t limit = playBase_ + play + size;
    int64_t free = 0;
    if (written_ < safe) {
        // The writer fell behind the device (a stalled refill): start over on the whole ring.
        playBase_ %= size;
        writeBase_ %= size;
        written_ %= size;
        free = size;
    } else if (written_ < limit) {
        free = limit - written_;
    }
    if (endMarker_ && (*endMarker_ < 0 || *endMarker_ < playBase_ + play)) buffer_->stop();
    return static_cast<uint32_t>(free);
}

bool SoundBuffer::setVolume(double linear) {
    const std::optional<int32_t> hundredths = attenuationFor(linear, volumeCurveFlag().load() != 0);
    return hundredths && buffer_->setVolume(*hundredths);
}

}  // namespace vaxo2::sound
