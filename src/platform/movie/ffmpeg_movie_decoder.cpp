#include "platform/movie_decoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/mathematics.h>
#include <libavutil/mem.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cstring>

namespace vaxo2::platform {
namespace {

// The containers movies come in; anything else is refused before a demuxer looks at it.
constexpr const char* kContainers = "mpeg,mpegvideo,asf,avi";

// The codecs these containers carry in the movies a game ships.
bool videoCodecAllowed(AVCodecID id) {
    switch (id) {
        case AV_CODEC_ID_MPEG1VIDEO:
        case AV_CODEC_ID_MPEG2VIDEO:
        case AV_CODEC_ID_MPEG4:
        case AV_CODEC_ID_MSMPEG4V1:
        case AV_CODEC_ID_MSMPEG4V2:
        case AV_CODEC_ID_MSMPEG4V3:
        case AV_CODEC_ID_WMV1:
        case AV_CODEC_ID_WMV2:
        case AV_CODEC_ID_WMV3:
        case AV_CODEC_ID_VC1:
        case AV_CODEC_ID_MJPEG:
        case AV_CODEC_ID_H263:
        case AV_CODEC_ID_H264:
        case AV_CODEC_ID_CINEPAK:
        case AV_CODEC_ID_MSVIDEO1:
        case AV_CODEC_ID_RAWVIDEO:
            return true;
        default:
            return false;
    }
}

bool audioCodecAllowed(AVCodecID id) {
    switch (id) {
        case AV_CODEC_ID_MP1:
        case AV_CODEC_ID_MP2:
        case AV_CODEC_ID_MP3:
        case AV_CODEC_ID_WMAV1:
        case AV_CODEC_ID_WMAV2:
        case AV_CODEC_ID_WMAPRO:
        case AV_CODEC_ID_AC3:
        case AV_CODEC_ID_AAC:
        case AV_CODEC_ID_PCM_S16LE:
        case AV_CODEC_ID_PCM_U8:
        case AV_CODEC_ID_ADPCM_MS:
        case AV_CODEC_ID_ADPCM_IMA_WAV:
            return true;
        default:
            return false;
    }
}

// A packet run this long without any output means the data is broken beyond use.
constexpr int kMaxFruitlessPackets = 4096;
constexpr int kIoBufferSize = 32 * 1024;
constexpr size_t kPictureSlack = 64;
constexpr int64_t kSeekMarginUs = 500000;

struct FormatCloser {
    void operator()(AVFormatContext* c) const { avformat_close_input(&c); }
};
struct IoCloser {
    void operator()(AVIOContext* c) const {
        av_freep(&c->buffer);
        avio_context_free(&c);
    }
};
struct CodecCloser {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct FrameCloser {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketCloser {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct ScaleCloser {
    void operator()(SwsContext* c) const { sws_freeContext(c); }
};
struct ResampleCloser {
    void operator()(SwrContext* c) const { swr_free(&c); }
};

// The file image and the demuxer's read position in it.
struct MemoryInput {
    std::shared_ptr<const std::vector<uint8_t>> bytes;
    int64_t position = 0;
};

int readInput(void* opaque, uint8_t* buffer, int size) {
    auto* in = static_cast<MemoryInput*>(opaque);
    const auto total = static_cast<int64_t>(in->bytes->size());
    if (size <= 0) return 0;
    if (in->position >= total) return AVERROR_EOF;
    const int64_t n = std::min<int64_t>(size, total - in->position);
    std::memcpy(buffer, in->bytes->data() + in->position, static_cast<size_t>(n));
    in->position += n;
    return static_cast<int>(n);
}

int64_t seekInput(void* opaque, int64_t offset, int whence) {
    auto* in = static_cast<MemoryInput*>(opaque);
    const auto total = static_cast<int64_t>(in->bytes->size());
    whence &= ~AVSEEK_FORCE;
    if (whence == AVSEEK_SIZE) return total;
    int64_t base = 0;
    if (whence == SEEK_CUR) {
        base = in->position;
    } else if (whence == SEEK_END) {
        base = total;
    } else if (whence != SEEK_SET) {
        return AVERROR(EINVAL);
    }
    // A wild offset from a damaged header is refused, not followed outside the image.
    if ((offset > 0 && base > INT64_MAX - offset) || base + offset < 0 || base + offset > total) {
        return AVERROR(EINVAL);
    }
    in->position = base + offset;
    return in->position;
}

// One opened stream's decoder.
struct StreamDecoder {
    int index = -1;
    AVRational timeBase{1, 1};
    std::unique_ptr<AVCodecContext, CodecCloser> codec;
    bool drained = false;  // returned AVERROR_EOF after the flush packet
};

class FfmpegMovieDecoder final : public MovieDecoder {
  public:
    explicit FfmpegMovieDecoder(std::shared_ptr<const std::vector<uint8_t>> bytes) {
        input_.bytes = std::move(bytes);
    }

    bool openAll(std::string& error) {
        closeAll();
        input_.position = 0;
        if (input_.bytes->empty()) {
            error = "empty file";
            return false;
        }
        auto* buffer = static_cast<uint8_t*>(av_malloc(kIoBufferSize));
        if (buffer == nullptr) {
            error = "out of memory";
            return false;
        }
        AVIOContext* io =
            avio_alloc_context(buffer, kIoBufferSize, 0, &input_, readInput, nullptr, seekInput);
        if (io == nullptr) {
            av_free(buffer);
            error = "out of memory";
            return false;
        }
        io_.reset(io);
        AVFormatContext* format = avformat_alloc_context();
        if (format == nullptr) {
            error = "out of memory";
            return false;
        }
        format->pb = io_.get();
        format->flags |= AVFMT_FLAG_CUSTOM_IO;
        AVDictionary* options = nullptr;
        av_dict_set(&options, "format_whitelist", kContainers, 0);
        const int opened = avformat_open_input(&format, "", nullptr, &options);
        av_dict_free(&options);
        if (opened < 0) {  // the format context is freed on failure
            error = "not a movie";
            return false;
        }
        format_.reset(format);
        // Reading the stream headers decodes a few frames: a damaged header must not make
        // those decoders allocate pictures of any size it claims.
        std::vector<AVDictionary*> streamOptions(format_->nb_streams, nullptr);
        for (AVDictionary*& d : streamOptions)
            av_dict_set_int(&d, "max_pixels", kMaxMoviePixels, 0);
        const int found = avformat_find_stream_info(format_.get(), streamOptions.data());
        for (AVDictionary*& d : streamOptions)
            av_dict_free(&d);
        if (found < 0) {
            error = "unreadable stream headers";
            return false;
        }
        const int videoIndex =
            av_find_best_stream(format_.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
        if (videoIndex < 0) {
            error = "no picture stream";
            return false;
        }
        AVStream* videoStream = format_->streams[videoIndex];
        if (!videoCodecAllowed(videoStream->codecpar->codec_id)) {
            error = "unsupported picture codec";
            return false;
        }
        const int32_t w = videoStream->codecpar->width;
        const int32_t h = videoStream->codecpar->height;
        if (w <= 0 || h <= 0 || w > kMaxMovieSide || h > kMaxMovieSide ||
            int64_t{w} * h > kMaxMoviePixels) {
            error = "picture size out of range";
            return false;
        }
        if (!openStream(videoStream, video_)) {
            error = "no decoder for the pictures";
            return false;
        }
        info_ = MovieInfo{};
        info_.width = w;
        info_.height = h;
        AVRational rate = videoStream->avg_frame_rate;
        if (rate.num <= 0 || rate.den <= 0) rate = videoStream->r_frame_rate;
        if (rate.num > 0 && rate.den > 0) {
            info_.frameDurationUs = av_rescale_q(1, av_inv_q(rate), AV_TIME_BASE_Q);
        }
        if (info_.frameDurationUs <= 0 || info_.frameDurationUs > 1000000) {
            info_.frameDurationUs = 40000;  // a plausible picture time when the stream has none
        }
        if (format_->duration > 0) info_.durationUs = format_->duration;

        const int audioIndex =
            av_find_best_stream(format_.get(), AVMEDIA_TYPE_AUDIO, -1, videoIndex, nullptr, 0);
        if (audioIndex >= 0) {
            AVStream* audioStream = format_->streams[audioIndex];
            const AVCodecParameters* par = audioStream->codecpar;
            // A movie whose sound cannot be played still plays its pictures.
            if (audioCodecAllowed(par->codec_id) && par->sample_rate >= 1000 &&
                par->sample_rate <= 384000 && par->ch_layout.nb_channels > 0 &&
                openStream(audioStream, audio_)) {
                info_.hasAudio = true;
                info_.audioRate = static_cast<uint32_t>(par->sample_rate);
                info_.audioChannels = par->ch_layout.nb_channels == 1 ? 1 : 2;
            }
        }
        startUs_ = format_->start_time != AV_NOPTS_VALUE ? format_->start_time : 0;
        frame_.reset(av_frame_alloc());
        packet_.reset(av_packet_alloc());
        if (!frame_ || !packet_) {
            error = "out of memory";
            return false;
        }
        return true;
    }

    const MovieInfo& info() const override { return info_; }

    MovieOutput decode(std::vector<uint8_t>& picture, std::vector<int16_t>& samples,
                       int64_t& timeUs) override {
        if (!format_) return MovieOutput::End;
        for (int tries = 0; tries < 2 * kMaxFruitlessPackets; ++tries) {
            // What the decoders hold comes out before more input goes in.
            if (receive(video_)) {
                if (convertPicture(picture, timeUs)) return MovieOutput::Picture;
                continue;
            }
            if (receive(audio_)) {
                if (convertAudio(samples, timeUs)) return MovieOutput::Audio;
                continue;
            }
            if (inputEnded_) {
                if (finished(video_) && finished(audio_)) return MovieOutput::End;
                continue;
            }
            if (fruitless_ > kMaxFruitlessPackets) {
                endInput();
                continue;
            }
            const int read = av_read_frame(format_.get(), packet_.get());
            if (read == AVERROR(EAGAIN)) {
                ++fruitless_;
                continue;
            }
            if (read < 0) {  // the end, or data that cannot be read any further
                endInput();
                continue;
            }
            ++fruitless_;
            StreamDecoder* target = nullptr;
            if (packet_->stream_index == video_.index) target = &video_;
            if (audio_.codec && packet_->stream_index == audio_.index) target = &audio_;
            if (target != nullptr) {
                // A damaged packet is skipped; decoding goes on with the next one.
                avcodec_send_packet(target->codec.get(), packet_.get());
            }
            av_packet_unref(packet_.get());
            if (target == nullptr) return MovieOutput::Nothing;
        }
        return MovieOutput::Nothing;
    }

    bool seek(int64_t timeUs) override {
        if (!format_) return false;
        if (timeUs > 0) {
            // Some containers (MPEG program streams) find a time only roughly: aim a little
            // early, so that the stream resumes at or before the time asked for.
            const int64_t target = std::max<int64_t>(timeUs - kSeekMarginUs, 0) + startUs_;
            if (av_seek_frame(format_.get(), -1, target, AVSEEK_FLAG_BACKWARD) >= 0) {
                restartDecoders();
                return true;
            }
        }
        // The start, or a movie that cannot seek: open it again from the first byte, which
        // every container supports.
        std::string error;
        const bool reopened = openAll(error);
        return reopened && timeUs <= 0;
    }

  private:
    bool openStream(AVStream* stream, StreamDecoder& out) {
        const AVCodec* codec = avcodec_find_decoder(stream->codecpar->codec_id);
        if (codec == nullptr) return false;
        std::unique_ptr<AVCodecContext, CodecCloser> context(avcodec_alloc_context3(codec));
        if (!context || avcodec_parameters_to_context(context.get(), stream->codecpar) < 0) {
            return false;
        }
        // The player runs one decoding thread per movie; the codec adds none of its own.
        context->thread_count = 1;
        context->max_pixels = kMaxMoviePixels;
        if (avcodec_open2(context.get(), codec, nullptr) < 0) return false;
        out.index = stream->index;
        out.timeBase = stream->time_base;
        out.codec = std::move(context);
        out.drained = false;
        return true;
    }

    void closeAll() {
        scale_.reset();
        resample_.reset();
        video_ = StreamDecoder{};
        audio_ = StreamDecoder{};
        frame_.reset();
        packet_.reset();
        format_.reset();
        io_.reset();
        inputEnded_ = false;
        fruitless_ = 0;
        resampleIn_ = {};
    }

    void restartDecoders() {
        for (StreamDecoder* s : {&video_, &audio_}) {
            if (s->codec) avcodec_flush_buffers(s->codec.get());
            s->drained = false;
        }
        resample_.reset();
        inputEnded_ = false;
        fruitless_ = 0;
    }

    void endInput() {
        inputEnded_ = true;
        for (StreamDecoder* s : {&video_, &audio_}) {
            if (s->codec) avcodec_send_packet(s->codec.get(), nullptr);
        }
    }

    static bool finished(const StreamDecoder& s) { return !s.codec || s.drained; }

    // Takes one decoded frame into frame_; false when the decoder has none now.
    bool receive(StreamDecoder& s) {
        if (!s.codec || s.drained) return false;
        const int got = avcodec_receive_frame(s.codec.get(), frame_.get());
        if (got == 0) {
            fruitless_ = 0;
            return true;
        }
        if (got == AVERROR(EAGAIN) && inputEnded_) {
            // The flush packet was turned away while output was pending: offer it again. A
            // decoder that takes it gives its last frames and then the end.
            if (avcodec_send_packet(s.codec.get(), nullptr) != 0) s.drained = true;
            return false;
        }
        if (got == AVERROR_EOF || inputEnded_) {
            s.drained = true;
        } else if (got != AVERROR(EAGAIN)) {
            ++fruitless_;  // a damaged frame; a decoder that only fails ends the input
        }
        return false;
    }

    int64_t frameTimeUs(const StreamDecoder& s) const {
        const int64_t stamp = frame_->best_effort_timestamp;
        if (stamp == AV_NOPTS_VALUE) return AV_NOPTS_VALUE;
        return av_rescale_q(stamp, s.timeBase, AV_TIME_BASE_Q) - startUs_;
    }

    bool convertPicture(std::vector<uint8_t>& picture, int64_t& timeUs) {
        AVFrame* f = frame_.get();
        const bool usable = f->width > 0 && f->height > 0 && f->width <= kMaxMovieSide &&
                            f->height <= kMaxMovieSide && f->format >= 0;
        if (!usable) {
            av_frame_unref(f);
            return false;
        }
        // A stream whose pictures change size mid-way is scaled to the size it started with,
        // so the textures keep their shape.
        SwsContext* scale = sws_getCachedContext(
            scale_.release(), f->width, f->height, static_cast<AVPixelFormat>(f->format),
            info_.width, info_.height, AV_PIX_FMT_BGRA, SWS_BILINEAR, nullptr, nullptr, nullptr);
        scale_.reset(scale);
        if (scale == nullptr) {
            av_frame_unref(f);
            return false;
        }
        // The converter's vector code may write a little past the end of the last row.
        picture.resize(static_cast<size_t>(info_.width) * info_.height * 4 + kPictureSlack);
        uint8_t* planes[4] = {picture.data(), nullptr, nullptr, nullptr};
        const int strides[4] = {info_.width * 4, 0, 0, 0};
        const int rows = sws_scale(scale, f->data, f->linesize, 0, f->height, planes, strides);
        const int64_t t = frameTimeUs(video_);
        av_frame_unref(f);
        if (rows <= 0) return false;
        timeUs = t == AV_NOPTS_VALUE ? lastPictureUs_ + info_.frameDurationUs : t;
        lastPictureUs_ = timeUs;
        return true;
    }

    bool convertAudio(std::vector<int16_t>& samples, int64_t& timeUs) {
        AVFrame* f = frame_.get();
        const bool usable = f->nb_samples > 0 && f->sample_rate >= 1000 &&
                            f->sample_rate <= 384000 && f->ch_layout.nb_channels > 0 &&
                            f->format >= 0;
        if (!usable) {
            av_frame_unref(f);
            return false;
        }
        const ResampleInput in{
            f->format, f->sample_rate, f->ch_layout.nb_channels,
            f->ch_layout.order == AV_CHANNEL_ORDER_NATIVE ? f->ch_layout.u.mask : 0};
        if (!resample_ || !(in == resampleIn_)) {
            AVChannelLayout outLayout;
            av_channel_layout_default(&outLayout, static_cast<int>(info_.audioChannels));
            SwrContext* swr = nullptr;
            const int made = swr_alloc_set_opts2(
                &swr, &outLayout, AV_SAMPLE_FMT_S16, static_cast<int>(info_.audioRate),
                &f->ch_layout, static_cast<AVSampleFormat>(f->format), f->sample_rate, 0, nullptr);
            av_channel_layout_uninit(&outLayout);
            resample_.reset(swr);
            if (made < 0 || swr == nullptr || swr_init(swr) < 0) {
                resample_.reset();
                av_frame_unref(f);
                return false;
            }
            resampleIn_ = in;
        }
        const int room = swr_get_out_samples(resample_.get(), f->nb_samples);
        if (room <= 0) {
            av_frame_unref(f);
            return false;
        }
        samples.resize(static_cast<size_t>(room) * info_.audioChannels);
        uint8_t* out[1] = {reinterpret_cast<uint8_t*>(samples.data())};
        const int got = swr_convert(resample_.get(), out, room,
                                    const_cast<const uint8_t**>(f->extended_data), f->nb_samples);
        const int64_t t = frameTimeUs(audio_);
        av_frame_unref(f);
        if (got <= 0) return false;
        samples.resize(static_cast<size_t>(got) * info_.audioChannels);
        timeUs = t == AV_NOPTS_VALUE ? lastAudioUs_ : t;
        lastAudioUs_ = timeUs + int64_t{got} * 1000000 / info_.audioRate;
        return true;
    }

    struct ResampleInput {
        int format = -1;
        int rate = 0;
        int channels = 0;
        uint64_t mask = 0;
        bool operator==(const ResampleInput&) const = default;
    };

    MemoryInput input_;
    std::unique_ptr<AVIOContext, IoCloser> io_;
    std::unique_ptr<AVFormatContext, FormatCloser> format_;
    StreamDecoder video_;
    StreamDecoder audio_;
    std::unique_ptr<AVFrame, FrameCloser> frame_;
    std::unique_ptr<AVPacket, PacketCloser> packet_;
    std::unique_ptr<SwsContext, ScaleCloser> scale_;
    std::unique_ptr<SwrContext, ResampleCloser> resample_;
    ResampleInput resampleIn_;
    MovieInfo info_;
    int64_t startUs_ = 0;
    int64_t lastPictureUs_ = 0;
    int64_t lastAudioUs_ = 0;
    bool inputEnded_ = false;
    int fruitless_ = 0;
};

}  // namespace

}  // namespace vaxo2::platform

// The module's one entry point, found by name when the runtime loads the module (see
// movie_module.cpp); the caller owns what it returns.
extern "C" __attribute__((visibility("default"))) vaxo2::platform::MovieDecoder*
vaxo2_open_movie_decoder(std::shared_ptr<const std::vector<uint8_t>>* bytes, std::string* error) {
    using namespace vaxo2::platform;
    error->clear();
    if (bytes == nullptr || !*bytes) {
        *error = "no data";
        return nullptr;
    }
    // FFmpeg's own messages would go to stderr for every damaged packet; the player decides
    // what is worth saying.
    av_log_set_level(AV_LOG_QUIET);
    auto decoder = std::make_unique<FfmpegMovieDecoder>(std::move(*bytes));
    if (!decoder->openAll(*error)) return nullptr;
    return decoder.release();
}
