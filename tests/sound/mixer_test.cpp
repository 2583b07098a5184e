// The mixer and the buffer model: cursors, free space, the end marker, resampling to the device
// rate, and the streaming input other subsystems feed.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

#include "sound/sound_buffer.h"
#include "sound_test_support.h"

namespace vaxo2::sound {
namespace {

using namespace testing;

std::unique_ptr<SoundBuffer> ringOf(Mixer& mixer, const WaveFormat& f, double hz) {
    auto buffer = SoundBuffer::create(mixer, f, kStreamBufferBytes);
    const std::vector<uint8_t> pcm = sinePcm(f, 8.0, hz, 0.5);
    size_t at = 0;
    for (int i = 0; i < 8; ++i) {
        const uint32_t n = std::min(buffer->freeSpace(), kRefillBytes);
        at += buffer->append(pcm.data() + at, n);
    }
    return buffer;
}

TEST(SoundBufferModel, FreeSpaceFollowsThePlayCursorAndWraps) {
    Mixer mixer;
    const WaveFormat f = WaveFormat::pcm16(2, 44100);
    auto buffer = ringOf(mixer, f, 1000);
    EXPECT_EQ(buffer->written(), int64_t{kStreamBufferBytes});  // eight refills fill the ring
    EXPECT_EQ(buffer->freeSpace(), 0u);
    buffer->play(true);

    render(mixer, 4410);  // 100 ms: the device took 17640 bytes
    EXPECT_EQ(buffer->freeSpace(), 17640u);
    buffer->appendSilence(17640);
    EXPECT_EQ(buffer->freeSpace(), 0u);

    // Keep refilling across the end of the ring: the cursors wrap and the bases follow.
    for (int i = 0; i < 50; ++i) {
        render(mixer, 4410);
        const uint32_t free = buffer->freeSpace();
        EXPECT_EQ(free, 17640u) << i;
        buffer->appendSilence(free);
    }
    EXPECT_GE(buffer->playBase(), 0);
    EXPECT_LT(buffer->written(), 2 * int64_t{kStreamBufferBytes});  // kept small
    EXPECT_TRUE(buffer->isPlaying());

    // A refill that stalls for longer than the ring: the writer fell behind, the whole ring is
    // free and the next refill rewrites all of it.
    render(mixer, 44100 * 5);
    EXPECT_EQ(buffer->freeSpace(), kStreamBufferBytes);
}

TEST(SoundBufferModel, AStreamThatRanDryStopsPastItsEndMarker) {
    Mixer mixer;
    auto buffer = ringOf(mixer, WaveFormat::pcm16(2, 44100), 1000);
    buffer->play(true);
    render(mixer, 44100);  // 1 s of the 4 s ring
    // The sources are exhausted: the refill marks the end and writes silence.
    const uint32_t free = buffer->freeSpace();
    buffer->markEnd();
    buffer->appendSilence(free);
    EXPECT_EQ(buffer->endMarker(), int64_t{kStreamBufferBytes});
    render(mixer, 44100 * 2);
    buffer->freeSpace();
    EXPECT_TRUE(buffer->isPlaying());  // 3 of 4 seconds heard
    const std::vector<int16_t> tail = render(mixer, 44100 + 4410);
    EXPECT_GT(rms(tail, 0, 44000), 0.3);              // the last second of data still sounds
    EXPECT_LT(rms(tail, 44200, 44100 + 4410), 1e-9);  // then the silence
    buffer->freeSpace();
    EXPECT_FALSE(buffer->isPlaying());
}

TEST(SoundBufferModel, StaticBuffersPlayOnceOrLoop) {
    Mixer mixer;
    const WaveFormat f = WaveFormat::pcm16(2, 44100);
    const std::vector<uint8_t> pcm = sinePcm(f, 0.5, 1000, 0.5);
    auto once = SoundBuffer::create(mixer, f, static_cast<uint32_t>(pcm.size()));
    auto loop = SoundBuffer::create(mixer, f, static_cast<uint32_t>(pcm.size()));
    once->append(pcm.data(), static_cast<uint32_t>(pcm.size()));
    loop->append(pcm.data(), static_cast<uint32_t>(pcm.size()));
    once->play(false);
    const std::vector<int16_t> a = render(mixer, 44100);
    EXPECT_FALSE(once->isPlaying());
    EXPECT_NEAR(rms(a, 0, 22050), 0.5 / std::sqrt(2.0), 0.002);
    EXPECT_EQ(rms(a, 22050, 44100), 0.0);
    // Exact: a buffer at the device rate and full volume is passed through sample for sample.
    for (size_t i = 0; i < 22050 * 2; i += 2) {
        const auto expected = static_cast<int16_t>(pcm[2 * i] | (pcm[2 * i + 1] << 8));
        ASSERT_EQ(a[i], expected) << i;
    }
    loop->play(true);
    const std::vector<int16_t> b = render(mixer, 44100 * 2);
    EXPECT_TRUE(loop->isPlaying());
    EXPECT_NEAR(rms(b, 0, 88200), 0.5 / std::sqrt(2.0), 0.002);
}

TEST(Resampling, AnyFormatPlaysAtItsPitchAndLevel) {
    struct Case {
        uint16_t channels;
        uint32_t rate;
        uint16_t bits;
        double hz;
    };
    const Case cases[] = {
        {1, 22050, 16, 440}, {2, 48000, 16, 1000}, {1, 8000, 8, 300},
        {2, 11025, 8, 1000}, {1, 96000, 16, 5000}, {2, 44100, 16, 2000},
    };
    for (const Case& c : cases) {
        Mixer mixer;
        const WaveFormat f = pcmFormat(c.channels, c.rate, c.bits);
        const std::vector<uint8_t> pcm = sinePcm(f, 1.0, c.hz, 0.5);
        auto buffer = SoundBuffer::create(mixer, f, static_cast<uint32_t>(pcm.size()));
        ASSERT_TRUE(buffer);
        buffer->append(pcm.data(), static_cast<uint32_t>(pcm.size()));
        buffer->play(false);
        const std::vector<int16_t> out = render(mixer, 44100 + 2000);
        const std::string what =
            std::to_string(c.rate) + " Hz, " + std::to_string(c.bits) + " bits";
        EXPECT_NEAR(dominantHz(out, 2000, 42000), c.hz, c.hz * 0.002) << what;
        EXPECT_NEAR(rms(out, 2000, 42000), 0.5 / std::sqrt(2.0), 0.005) << what;
        EXPECT_NEAR(rms(out, 2000, 42000, 1), 0.5 / std::sqrt(2.0), 0.005) << what;  // both sides
        EXPECT_LT(rms(out, 44100 + 100, 44100 + 2000), 1e-3) << what;  // one second, then quiet
        EXPECT_FALSE(buffer->isPlaying()) << what;
    }
}

TEST(Resampling, FormatsABufferCannotPlayAreRefused) {
    Mixer mixer;
    WaveFormat wrongBlock = pcmFormat(2, 44100, 16);
    wrongBlock.blockAlign = 3;
    for (const WaveFormat& f :
         {pcmFormat(6, 44100, 16), pcmFormat(2, 44100, 24), pcmFormat(2, 50, 16),
          pcmFormat(2, 400000, 16), wrongBlock, WaveFormat{}}) {
        EXPECT_FALSE(mixer.createBuffer(f, 4096));
    }
    EXPECT_FALSE(mixer.createBuffer(WaveFormat::pcm16(2, 44100), 0));
    EXPECT_FALSE(mixer.createBuffer(WaveFormat::pcm16(2, 44100), Mixer::kMaxBufferBytes + 1));
}

// The input another subsystem feeds from its own thread (movie sound).
TEST(MixerStream, QueuedSoundPlaysAtItsVolumeAndCountsTheFramesPlayed) {
    Mixer mixer;
    auto stream = mixer.openStream(22050, 1, 22050);
    ASSERT_TRUE(stream);
    stream->setVolume(-1000);  // -10 dB
    const std::vector<uint8_t> bytes = sinePcm(pcmFormat(1, 22050, 16), 2.0, 440, 0.5);
    std::vector<int16_t> pcm(bytes.size() / 2);
    std::memcpy(pcm.data(), bytes.data(), bytes.size());

    // The queue takes what fits and says so.
    EXPECT_EQ(stream->write(pcm.data(), 44100), 22050u);
    EXPECT_EQ(stream->writable(), 0u);
    const std::vector<int16_t> first = render(mixer, 22050);  // 0.5 s of device time
    EXPECT_NEAR(stream->framesPlayed(), 11025u, 40u);
    EXPECT_NEAR(rms(first, 1000, 22050), 0.5 / std::sqrt(2.0) * 0.316228, 0.003);
    // At that volume from the first period on, not after a ramp down from full volume.
    EXPECT_NEAR(rms(first, 64, 576), 0.5 / std::sqrt(2.0) * 0.316228, 0.006);
    EXPECT_NEAR(dominantHz(first, 1000, 22050), 440, 1.0);

    // Paused: nothing taken, silence added.
    stream->setPaused(true);
    const uint64_t before = stream->framesPlayed();
    EXPECT_EQ(rms(render(mixer, 4410), 0, 4410), 0.0);
    EXPECT_EQ(stream->framesPlayed(), before);
    stream->setPaused(false);

    // Running dry holds the clock and adds silence; flushing drops the queue and restarts it.
    render(mixer, 44100);
    const uint64_t dry = stream->framesPlayed();
    EXPECT_NEAR(dry, 22050u, 40u);
    EXPECT_LT(rms(render(mixer, 4410), 100, 4410), 1e-4);
    EXPECT_EQ(stream->framesPlayed(), dry);
    stream->write(pcm.data(), 1000);
    stream->flush();
    EXPECT_EQ(stream->queued(), 0u);
    EXPECT_EQ(stream->framesPlayed(), 0u);

    // The end of the data: it plays out, then the stream reports drained.
    stream->write(pcm.data(), 2205);
    stream->endOfStream();
    EXPECT_FALSE(stream->drained());
    render(mixer, 8820);
    EXPECT_TRUE(stream->drained());
    EXPECT_EQ(stream->framesPlayed(), 2205u);

    // Closing takes it out of the mix.
    stream.reset();
    EXPECT_EQ(rms(render(mixer, 441), 0, 441), 0.0);
    EXPECT_FALSE(mixer.openStream(44100, 3, 100));
}

TEST(MixerStream, FramesFedFromAnotherThreadArriveWholeAndInOrder) {
    Mixer mixer;
    auto stream = mixer.openStream(44100, 2, 4096);
    constexpr uint32_t kFrames = 44100 * 2;
    auto valueOf = [](uint32_t i) { return static_cast<int16_t>(i % 20000 + 1); };
    std::thread feeder([&] {
        std::vector<int16_t> block;
        for (uint32_t at = 0; at < kFrames;) {
            block.clear();
            for (uint32_t i = at; i < std::min(at + 300, kFrames); ++i)
                block.insert(block.end(), {valueOf(i), static_cast<int16_t>(-valueOf(i))});
            const uint32_t n = stream->write(block.data(), static_cast<uint32_t>(block.size() / 2));
            if (n == 0) std::this_thread::yield();
            at += n;
        }
        stream->endOfStream();
    });
    // Underruns add silence; everything else must be the fed frames, in order, untouched.
    std::vector<int16_t> heard;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!stream->drained() && std::chrono::steady_clock::now() < deadline) {
        for (int16_t v : render(mixer, 512))
            if (v != 0) heard.push_back(v);
        std::this_thread::yield();
    }
    feeder.join();
    ASSERT_EQ(heard.size(), size_t{kFrames} * 2);
    for (uint32_t i = 0; i < kFrames; ++i) {
        ASSERT_EQ(heard[2 * i], valueOf(i)) << i;
        ASSERT_EQ(heard[2 * i + 1], -valueOf(i)) << i;
    }
    EXPECT_EQ(stream->framesPlayed(), kFrames);
}

}  // namespace
}  // namespace vaxo2::sound
