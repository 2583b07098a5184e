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
    uint32_t play = 0, write = 0;
    buffer_->cursors(play, write);
    if (play < lastPlayCursor_) playBase_ += size;
    if (write < lastWriteCursor_) writeBase_ += size;
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
