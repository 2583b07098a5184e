#include "platform/ogg_decoder.h"

#include <vorbis/vorbisfile.h>

#include <cstring>

namespace vaxo2::platform {
namespace {

// The file image the decoder reads, with a read position.
struct MemoryReader {
    const uint8_t* data = nullptr;
    size_t size = 0;
    size_t position = 0;
};

size_t readCallback(void* out, size_t elementSize, size_t count, void* source) {
    auto* m = static_cast<MemoryReader*>(source);
    if (elementSize == 0 || count == 0) return 0;
    const size_t left = m->size - m->position;
    size_t want = count > SIZE_MAX / elementSize ? SIZE_MAX : elementSize * count;
    if (want > left) want = left;
    std::memcpy(out, m->data + m->position, want);
    m->position += want;
    return want / elementSize;
}

// Seeks always succeed, as the decoder expects of a memory file; the position is kept inside
// the image so that a wild offset from a damaged stream cannot make a later read run outside it.
int seekCallback(void* source, ogg_int64_t offset, int origin) {
    auto* m = static_cast<MemoryReader*>(source);
    ogg_int64_t base = 0;
    if (origin == SEEK_CUR) base = static_cast<ogg_int64_t>(m->position);
    if (origin == SEEK_END) base = static_cast<ogg_int64_t>(m->size);
    ogg_int64_t target = base + offset;
    if (target < 0) target = 0;
    if (static_cast<uint64_t>(target) > m->size) target = static_cast<ogg_int64_t>(m->size);
    m->position = static_cast<size_t>(target);
    return 0;
}

int closeCallback(void*) {
    return 0;
}

long tellCallback(void* source) {
    return static_cast<long>(static_cast<MemoryReader*>(source)->position);
}

class VorbisDecoder final : public OggDecoder {
  public:
    VorbisDecoder(const uint8_t* data, size_t size) { reader_ = {data, size, 0}; }
    ~VorbisDecoder() override {
        if (open_) ov_clear(&file_);
    }
    VorbisDecoder(const VorbisDecoder&) = delete;
    VorbisDecoder& operator=(const VorbisDecoder&) = delete;

    bool openStream() {
        const ov_callbacks callbacks{readCallback, seekCallback, closeCallback, tellCallback};
        open_ = ov_open_callbacks(&reader_, &file_, nullptr, 0, callbacks) == 0;
        if (!open_) return false;
        const vorbis_info* info = ov_info(&file_, -1);
        if (!info || info->channels <= 0 || info->rate <= 0) return false;
        channels_ = info->channels;
        rate_ = static_cast<int32_t>(info->rate);
        return true;
    }

    int channels() const override { return channels_; }
    int32_t rate() const override { return rate_; }
    double timeTotal() const override {
        const double t = ov_time_total(const_cast<OggVorbis_File*>(&file_), -1);
        return t >= 0 ? t : -1.0;
    }
    long read(uint8_t* buffer, int bytes) override {
        int section = 0;
        const long got = ov_read(&file_, reinterpret_cast<char*>(buffer), bytes, 0, 2, 1, &section);
        if (got > 0 && section != 0) {
            // A chained stream whose later link changes the layout would be read in the wrong
            // format: such a link ends the stream.
            const vorbis_info* info = ov_info(&file_, section);
            if (!info || info->channels != channels_ || info->rate != rate_) return 0;
        }
        return got;
    }
    bool rewind() override { return ov_raw_seek(&file_, 0) == 0; }

  private:
    MemoryReader reader_;
    OggVorbis_File file_{};
    bool open_ = false;
    int channels_ = 0;
    int32_t rate_ = 0;
};

}  // namespace

std::unique_ptr<OggDecoder> OggDecoder::open(const uint8_t* data, size_t size) {
    if (!data || size == 0) return nullptr;
    auto decoder = std::make_unique<VorbisDecoder>(data, size);
    if (!decoder->openStream()) return nullptr;
    return decoder;
}

}  // namespace vaxo2::platform
