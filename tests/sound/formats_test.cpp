// Volume curve, the WAV reader's acceptance rules and the two kinds of source.
#include <gtest/gtest.h>

#include <cstring>
#include <optional>

#include "sound/sound_buffer.h"
#include "sound/sound_source.h"
#include "sound/volume.h"
#include "sound/wav_reader.h"
#include "sound_test_support.h"

namespace vaxo2::sound {
namespace {

using namespace testing;

TEST(VolumeCurve, AttenuationsOfBothCurves) {
    struct Case {
        double linear;
        bool logarithmic;
        std::optional<int32_t> want;
    };
    const Case cases[] = {
        {1.0, true, 0},
        {0.5, true, -752},
        {0.1, true, -2500},
        {0.01, true, -5000},
        {0.25, true, -1505},
        {0.0001, true, -10000},
        {0.0, true, -10000},
        {-0.2, true, -10000},
        {0.00009, true, std::nullopt},
        {1.5, true, std::nullopt},
        {0.5, false, -5000},
        {0.0, false, -10000},
        {1.0, false, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(attenuationFor(c.linear, c.logarithmic), c.want)
            << c.linear << (c.logarithmic ? " log" : " linear");
    }
    EXPECT_FLOAT_EQ(gainFor(0), 1.0f);
    EXPECT_FLOAT_EQ(gainFor(-10000), 0.0f);
    EXPECT_NEAR(gainFor(-752), 0.42073, 1e-4);
    EXPECT_NEAR(gainFor(-2000), 0.1, 1e-6);
}

TEST(VolumeCurve, ARefusedVolumeKeepsThePreviousOne) {
    Mixer mixer;
    auto buffer = SoundBuffer::create(mixer, WaveFormat::pcm16(2, 44100), 4000);
    ASSERT_TRUE(buffer);
    EXPECT_TRUE(buffer->setVolume(0.5));
    EXPECT_FALSE(buffer->setVolume(0.00005));
    EXPECT_EQ(buffer->attenuation(), -752);
    EXPECT_TRUE(buffer->setVolume(0.0));
    EXPECT_EQ(buffer->attenuation(), -10000);
}

// ---------------------------------------------------------------------------------------------

TEST(WavReader, AcceptanceRules) {
    const WaveFormat f = pcmFormat(2, 22050, 16);
    const std::vector<uint8_t> pcm = sinePcm(f, 0.01, 440, 0.5);
    auto chunk = [](const char* id, const std::vector<uint8_t>& body) {
        std::vector<uint8_t> out;
        putChunk(out, id, body);
        return out;
    };
    auto cat = [](std::initializer_list<std::vector<uint8_t>> parts) {
        std::vector<uint8_t> out;
        for (const auto& p : parts)
            out.insert(out.end(), p.begin(), p.end());
        return out;
    };
    WaveFormat adpcm = f;
    adpcm.formatTag = 2;
    const auto fmt16 = chunk("fmt ", fmtBody(f));
    const auto fmt18 = chunk("fmt ", fmtBody(f, true));
    const auto data = chunk("data", pcm);
    const std::vector<uint8_t> odd{1, 2, 3};
    std::vector<uint8_t> truncated = riffWave(cat({fmt16, data}));
    truncated.resize(truncated.size() - 10);
    std::vector<uint8_t> otherRiffFirst{'R', 'I', 'F', 'F'};
    put32(otherRiffFirst, 4);
    otherRiffFirst.insert(otherRiffFirst.end(), {'A', 'V', 'I', ' '});
    const auto wave = riffWave(cat({fmt16, data}));
    otherRiffFirst.insert(otherRiffFirst.end(), wave.begin(), wave.end());
    std::vector<uint8_t> lyingRiffSize = riffWave(cat({fmt16, chunk("LIST", odd), data}));
    lyingRiffSize[4] = lyingRiffSize[5] = lyingRiffSize[6] = lyingRiffSize[7] = 0xFF;
    std::vector<uint8_t> hugeData = riffWave(cat({fmt16}));
    hugeData.insert(hugeData.end(), {'d', 'a', 't', 'a', 0xF0, 0xFF, 0xFF, 0xFF, 1, 2});

    struct Case {
        const char* what;
        std::vector<uint8_t> image;
        bool accepted;
    };
    const Case cases[] = {
        {"fmt of 16 bytes", riffWave(cat({fmt16, data})), true},
        {"fmt of 18 bytes", riffWave(cat({fmt18, data})), true},
        {"chunks between fmt and data, odd sizes padded",
         riffWave(cat({fmt16, chunk("LIST", odd), chunk("fact", {4, 0, 0, 0}), data})), true},
        {"a RIFF of another form before the WAVE", otherRiffFirst, true},
        {"a RIFF size past the end of the file", lyingRiffSize, true},
        {"compressed format", riffWave(cat({chunk("fmt ", fmtBody(adpcm)), data})), false},
        {"fmt not the first chunk", riffWave(cat({chunk("LIST", odd), fmt16, data})), false},
        {"data before fmt", riffWave(cat({data, fmt16})), false},
        {"no data chunk", riffWave(cat({fmt16, chunk("LIST", odd)})), false},
        {"truncated data", truncated, false},
        {"data chunk claiming 4 GB", hugeData, false},
        {"fmt cut short by the end of the file", riffWave(chunk("fmt ", {1, 0, 2, 0})), false},
        {"form type not WAVE",
         std::vector<uint8_t>{'R', 'I', 'F', 'F', 4, 0, 0, 0, 'A', 'V', 'I', ' '}, false},
        {"empty", {}, false},
    };
    for (const Case& c : cases) {
        const std::optional<WavData> wav = parseWav(c.image.data(), c.image.size());
        EXPECT_EQ(wav.has_value(), c.accepted) << c.what;
        if (wav && c.accepted) {
            EXPECT_EQ(wav->format, f) << c.what;
            ASSERT_EQ(wav->pcmSize, pcm.size()) << c.what;
            EXPECT_EQ(0, std::memcmp(c.image.data() + wav->pcmOffset, pcm.data(), pcm.size()))
                << c.what;
        }
    }
    // Every prefix of a valid file is handled without reading outside it.
    const auto full = riffWave(cat({fmt18, chunk("LIST", odd), data}));
    for (size_t n = 0; n < full.size(); ++n) {
        std::vector<uint8_t> prefix(full.begin(), full.begin() + static_cast<ptrdiff_t>(n));
        EXPECT_FALSE(parseWav(prefix.data(), prefix.size())) << n;
    }
}

// ---------------------------------------------------------------------------------------------

TEST(SoundSource, WavDeliversWholeAndInPiecesAndRewinds) {
    const WaveFormat f = pcmFormat(1, 8000, 8);
    const std::vector<uint8_t> pcm = sinePcm(f, 0.1, 100, 0.5);
    SoundSource source("voice\\a.wav");
    source.setImage(wavFile(f, pcm));
    EXPECT_EQ(source.format(), f);
    EXPECT_EQ(source.totalBytes(), pcm.size());
    const uint8_t* whole = nullptr;
    size_t size = 0;
    ASSERT_TRUE(source.wholePcm(whole, size));
    EXPECT_EQ(std::vector<uint8_t>(whole, whole + size), pcm);

    std::vector<uint8_t> got(pcm.size() + 100);
    size_t at = 0;
    for (long n; (n = source.read(got.data() + at, 333)) > 0;)
        at += static_cast<size_t>(n);
    EXPECT_EQ(at, pcm.size());
    EXPECT_EQ(source.read(got.data(), 10), 0);  // exhausted until rewound
    source.rewind();
    EXPECT_EQ(source.read(got.data(), 10), 10);
    EXPECT_EQ(got[0], pcm[0]);
}

TEST(SoundSource, UnknownOrMissingFilesDeliverNothing) {
    for (const std::vector<uint8_t>& image :
         {std::vector<uint8_t>{}, io::testing::bytesOf("ID3 not a sound"),
          io::testing::bytesOf("RIFF"), io::testing::bytesOf("OggS garbage garbage")}) {
        SoundSource source("x");
        source.setImage(image);
        EXPECT_TRUE(source.format().isZero());
        uint8_t buffer[16];
        EXPECT_LE(source.read(buffer, sizeof buffer), 0);
        const uint8_t* data = nullptr;
        size_t size = 0;
        EXPECT_FALSE(source.wholePcm(data, size));
    }
    SoundSource missing("no\\such\\file.ogg");
    EXPECT_TRUE(missing.format().isZero());
}

// The Ogg page checksum (polynomial 0x04c11db7, no reflection), for pages a test changes.
uint32_t oggCrc(const uint8_t* p, size_t n) {
    uint32_t crc = 0;
    for (size_t i = 0; i < n; ++i) {
        crc ^= static_cast<uint32_t>(p[i]) << 24;
        for (int b = 0; b < 8; ++b)
            crc = crc & 0x80000000u ? (crc << 1) ^ 0x04c11db7u : crc << 1;
    }
    return crc;
}

TEST(SoundSource, OggFromMemory) {
    const std::vector<uint8_t> image = readFile(testData("mono22050.ogg"));
    ASSERT_GT(image.size(), 1000u);
    SoundSource source("mono.ogg");
    source.setImage(image);
    EXPECT_EQ(source.format(), WaveFormat::pcm16(1, 22050));
    EXPECT_EQ(source.totalBytes(), 22050u);  // 0.5 s declared
    const uint8_t* whole = nullptr;
    size_t size = 0;
    ASSERT_TRUE(source.wholePcm(whole, size));
    EXPECT_EQ(size, 22050u);
    const std::vector<uint8_t> first(whole, whole + 2000);

    // Streaming from the start gives the same samples; rewinding starts over at the first one.
    std::vector<uint8_t> piece(2000);
    ASSERT_EQ(source.read(piece.data(), piece.size()), 2000);
    EXPECT_EQ(piece, first);
    while (source.read(piece.data(), piece.size()) > 0) {
    }
    EXPECT_EQ(source.read(piece.data(), piece.size()), 0);
    source.rewind();
    ASSERT_EQ(source.read(piece.data(), piece.size()), 2000);
    EXPECT_EQ(piece, first);
}

TEST(SoundSource, DamagedOggEndsEarlyOrDeliversNothing) {
    const std::vector<uint8_t> image = readFile(testData("music44100.ogg"));
    ASSERT_FALSE(image.empty());
    auto decodeAll = [](std::vector<uint8_t> bytes) {
        SoundSource source("damaged.ogg");
        source.setImage(std::move(bytes));
        std::vector<uint8_t> buffer(8192);
        size_t total = 0;
        for (int guard = 0; guard < 10000; ++guard) {
            const long n = source.read(buffer.data(), buffer.size());
            if (n == 0) break;
            if (n > 0) total += static_cast<size_t>(n);
        }
        return total;
    };
    const size_t full = decodeAll(image);
    EXPECT_EQ(full, 44100u * 4 * 3);
    // Cut at the start (headers incomplete): nothing. Cut in the audio pages: an early end.
    EXPECT_EQ(decodeAll({image.begin(), image.begin() + 200}), 0u);
    const size_t half = decodeAll({image.begin(), image.begin() + image.size() / 2});
    EXPECT_GT(half, 0u);
    EXPECT_LT(half, full);
    // Bytes overwritten in the middle: no crash, no more than the whole.
    std::vector<uint8_t> corrupt = image;
    for (size_t i = corrupt.size() / 2; i < corrupt.size() / 2 + 300; ++i)
        corrupt[i] ^= 0x5A;
    EXPECT_LE(decodeAll(corrupt), full);
}

TEST(SoundSource, AHugeDeclaredLengthAllocatesOnlyWhatDecodes) {
    std::vector<uint8_t> image = readFile(testData("stereo44100.ogg"));
    ASSERT_FALSE(image.empty());
    // The last page's granule position claims about 6.6 million years of sound.
    size_t last = 0;
    for (size_t i = 0; i + 4 <= image.size(); ++i)
        if (std::memcmp(&image[i], "OggS", 4) == 0) last = i;
    const uint64_t granule = 0x00FFFFFFFFFFFFFFull;
    for (int b = 0; b < 8; ++b)
        image[last + 6 + b] = static_cast<uint8_t>(granule >> (8 * b));
    std::memset(&image[last + 22], 0, 4);
    const uint32_t crc = oggCrc(&image[last], image.size() - last);
    for (int b = 0; b < 4; ++b)
        image[last + 22 + b] = static_cast<uint8_t>(crc >> (8 * b));

    SoundSource source("huge.ogg");
    source.setImage(image);
    EXPECT_GT(source.totalBytes(), uint64_t{1} << 40);  // believed only as a hint
    const uint8_t* data = nullptr;
    size_t size = 0;
    ASSERT_TRUE(source.wholePcm(data, size));
    EXPECT_LE(size, 44100u * 4 * 2 + 8192);
}

}  // namespace
}  // namespace vaxo2::sound
