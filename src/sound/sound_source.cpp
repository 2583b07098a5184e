#include "sound/sound_source.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <new>

#include "io/resource_loader.h"
#include "platform/ogg_decoder.h"
#include "sound/wav_reader.h"

namespace vaxo2::sound {

namespace {
constexpr size_t kDecodeStep = 65536;

uint32_t clampedU32(uint64_t v) {
    return static_cast<uint32_t>(std::min<uint64_t>(v, UINT32_MAX));
}
}  // namespace

SoundSource::SoundSource(std::string name) : name_(std::move(name)) {}

SoundSource::~SoundSource() = default;

void SoundSource::setName(std::string name) {
    if (name == name_) return;
    name_ = std::move(name);
    image_.clear();
    loadTried_ = false;
    format_ = {};
    prepared_ = false;
    pcmOffset_ = pcmSize_ = readPosition_ = 0;
    isWav_ = false;
    decoder_.reset();
    oggPcm_.clear();
    oggWhole_ = false;
    expectedBytes_ = 0;
}

void SoundSource::setImage(std::vector<uint8_t> image) {
    std::string name = name_;
    setName(std::string());
    name_ = std::move(name);
    image_ = std::move(image);
    loadTried_ = true;
}

void SoundSource::load() {
    if (!image_.empty() || name_.empty() || loadTried_) return;
    loadTried_ = true;
    // Packs first, then the loose file; a file that is not there delivers nothing.
    if (!io::loadResource(name_, image_)) image_.clear();
}

void SoundSource::prepare() {
    load();
    if (image_.size() >= 4 && std::memcmp(image_.data(), "RIFF", 4) == 0) {
        isWav_ = true;
        if (prepared_) return;
        prepared_ = true;
        if (std::optional<WavData> wav = parseWav(image_.data(), image_.size())) {
            format_ = wav->format;
            pcmOffset_ = wav->pcmOffset;
            // Whole frames only: a torn last frame would shift every later frame of a ring.
            pcmSize_ = format_.blockAlign ? wav->pcmSize - wav->pcmSize % format_.blockAlign : 0;
        }
        return;
    }
    if (image_.size() >= 3 && std::memcmp(image_.data(), "Ogg", 3) == 0) {
        if (decoder_) return;
        decoder_ = platform::OggDecoder::open(image_.data(), image_.size());
        if (!decoder_) return;
        const uint64_t channels = static_cast<uint64_t>(decoder_->channels());
        const uint64_t rate = static_cast<uint64_t>(decoder_->rate());
        format_.formatTag = 1;
        format_.channels = static_cast<uint16_t>(std::min<uint64_t>(channels, 0xFFFF));
        format_.samplesPerSec = clampedU32(rate);
        format_.bitsPerSample = 16;
        format_.blockAlign = static_cast<uint16_t>(std::min<uint64_t>(channels * 2, 0xFFFF));
        format_.avgBytesPerSec = clampedU32(rate * channels * 2);
        // The length the stream declares; a damaged one may claim anything, so it only ever
        // serves as a hint and never sizes an allocation by itself.
        const double samples = decoder_->timeTotal() * static_cast<double>(channels * rate);
        expectedBytes_ = std::isfinite(samples) && samples > 0
                             ? static_cast<uint64_t>(std::min(samples, 4.0e18)) * 2
                             : 0;
    }
}

const WaveFormat& SoundSource::format() {
    prepare();
    return format_;
}

bool SoundSource::wholePcm(const uint8_t*& data, size_t& size) {
    prepare();
    if (isWav_) {
        if (pcmSize_ == 0) return false;
        data = image_.data() + pcmOffset_;
        size = pcmSize_;
        return true;
    }
    if (!decoder_) return false;
    if (!oggWhole_) {
        oggWhole_ = true;
        decoder_->rewind();
        try {
            // Sized by the declared length where that is believable, grown as decoding goes.
            oggPcm_.reserve(static_cast<size_t>(std::min<uint64_t>(
                {expectedBytes_, kMaxWholeBytes, uint64_t{image_.size()} * 64})));
            size_t have = 0;
            for (;;) {
                if (have == kMaxWholeBytes) {
                    oggPcm_.clear();  // too long for a static buffer
                    have = 0;
                    break;
                }
                oggPcm_.resize(std::min(have + kDecodeStep, kMaxWholeBytes));
                const long got = oggRead(oggPcm_.data() + have, oggPcm_.size() - have);
                if (got <= 0) break;
                have += static_cast<size_t>(got);
            }
            if (format_.blockAlign) have -= have % format_.blockAlign;
            oggPcm_.resize(have);
            oggPcm_.shrink_to_fit();
        } catch (const std::bad_alloc&) {
            oggPcm_.clear();
            oggPcm_.shrink_to_fit();
        }
        decoder_->rewind();
    }
    if (oggPcm_.empty()) return false;
    data = oggPcm_.data();
    size = oggPcm_.size();
    return true;
}

long SoundSource::oggRead(uint8_t* buffer, size_t n) {
    if (!decoder_ || format_.blockAlign == 0) return 0;
    // The decoder hands out whole frames only.
    n -= n % format_.blockAlign;
    size_t delivered = 0;
    while (delivered < n) {
        const int want = static_cast<int>(std::min<size_t>(n - delivered, INT_MAX / 2));
        const long got = decoder_->read(buffer + delivered, want);
        if (got == 0) break;
        if (got < 0) return delivered > 0 ? static_cast<long>(delivered) : got;
        delivered += static_cast<size_t>(got);
    }
    return static_cast<long>(delivered);
}

long SoundSource::read(uint8_t* buffer, size_t n) {
    prepare();
    if (isWav_) {
        if (readPosition_ >= pcmSize_) return 0;
        const size_t take = std::min(n, pcmSize_ - readPosition_);
        std::memcpy(buffer, image_.data() + pcmOffset_ + readPosition_, take);
        readPosition_ += take;
        return static_cast<long>(take);
    }
    return oggRead(buffer, n);
}

void SoundSource::rewind() {
    prepare();
    readPosition_ = 0;
    if (decoder_) decoder_->rewind();
}

uint64_t SoundSource::totalBytes() {
    prepare();
    if (isWav_) return pcmSize_;
    return oggWhole_ ? oggPcm_.size() : expectedBytes_;
}

void SoundSource::release() {
    decoder_.reset();
}

}  // namespace vaxo2::sound
