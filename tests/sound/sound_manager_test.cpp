// Layers, groups, fades, loops, voices and bad files, heard through the mixer.
#include <gtest/gtest.h>

#include "io/resource_loader.h"
#include "sound/sound_manager.h"
#include "sound/volume.h"
#include "sound_test_support.h"

namespace vaxo2::sound {
namespace {

using namespace testing;

const double kSine = 0.5 / std::sqrt(2.0);  // RMS of the test tones

class SoundLayers : public ::testing::Test {
  protected:
    void SetUp() override {
        io::ResourceLoader::instance().setGameFolder(dir.path());
        const WaveFormat cd = WaveFormat::pcm16(2, 44100);
        writeFile(dir.file("se/tone.wav"), wavFile(cd, sinePcm(cd, 1.0, 1000, 0.5)));
        writeFile(dir.file("se/quiet.wav"), wavFile(cd, sinePcm(cd, 0.5, 500, 0.25)));
        const WaveFormat voice = pcmFormat(1, 22050, 16);
        writeFile(dir.file("voice/v1.wav"), wavFile(voice, sinePcm(voice, 0.5, 440, 0.5)));
        writeFile(dir.file("bad/empty.wav"), std::vector<uint8_t>{});
        writeFile(dir.file("bad/junk.ogg"), io::testing::bytesOf("OggS and nothing else"));
        writeFile(dir.file("music.ogg"), readFile(testData("stereo44100.ogg")));
    }
    void TearDown() override { io::ResourceLoader::instance().setGameFolder("."); }

    struct Alter {
        std::string file;
        std::optional<float> volume;
        std::optional<int64_t> loop, stream, loopFileNo, finishToDelete;
    };
    // Sound(Layer, File, Volume, Loop, Stream, LoopFileNo, FinishToDelete, Play=1).
    void sound(int64_t layer, std::string file, float volume, int64_t loop,
               std::optional<int64_t> stream = {}, std::optional<int64_t> loopFileNo = {},
               std::optional<int64_t> finishToDelete = {}, bool play = true) {
        Alter a;
        a.file = std::move(file);
        a.volume = volume;
        a.loop = loop;
        a.stream = stream;
        a.loopFileNo = loopFileNo;
        a.finishToDelete = finishToDelete;
        soundWith(layer, a, play);
    }
    void soundWith(int64_t layer, const Alter& a, bool play) {
        queue::classQue_SoundCreate create;
        create.layer = layer;
        sounds.run(create);
        queue::classQue_SoundAlter alter;
        alter.layer = layer;
        alter.file = a.file;
        if (a.volume) alter.volume.set(*a.volume);
        if (a.loop) alter.loop.set(*a.loop);
        if (a.stream) alter.stream.set(*a.stream);
        if (a.loopFileNo) alter.loopFileNo.set(*a.loopFileNo);
        if (a.finishToDelete) alter.finishToDelete.set(*a.finishToDelete);
        sounds.run(alter);
        if (play) {
            queue::classQue_SoundPlay p;
            p.layer = layer;
            sounds.run(p);
        }
    }
    void stop(int64_t layer, int64_t time) {
        queue::classQue_SoundStop s;
        s.layer = layer;
        s.time = time;
        sounds.run(s);
    }
    // Plays `ms` of device time with the ticker's update every 100 ms.
    std::vector<int16_t> play(uint32_t ms) {
        std::vector<int16_t> all;
        for (uint32_t t = 0; t < ms; t += 100) {
            const std::vector<int16_t> part = render(mixer, 4410);
            all.insert(all.end(), part.begin(), part.end());
            sounds.update(100);
        }
        return all;
    }
    static size_t at(uint32_t ms) { return static_cast<size_t>(ms) * 441 / 10; }

    TempDir dir;
    Mixer mixer;
    SoundManager sounds{mixer};
};

TEST_F(SoundLayers, AudibleVolumeIsTheLayersTimesItsGroups) {
    struct Case {
        const char* what;
        float layer;
        std::vector<std::pair<int32_t, bool>> groups;  // value, silent
        int32_t attenuation;
    };
    const Case cases[] = {
        {"layer at 0.5", 0.5f, {}, -752},
        {"two groups of 500 over 1000", 1.0f, {{500, false}, {500, false}}, -1505},
        {"group of 500 over 0.5", 0.5f, {{500, false}}, -1505},
        {"a silent group", 1.0f, {{1000, false}, {1000, true}}, -10000},
        {"full", 1.0f, {{1000, false}}, 0},
    };
    for (const Case& c : cases) {
        for (size_t g = 0; g < c.groups.size(); ++g) {
            sounds.setGroupRange(static_cast<int64_t>(g + 1), 1, 9);
            sounds.setGroupVolume(static_cast<int64_t>(g + 1), c.groups[g].first / 1000.0);
            sounds.setGroupSilent(static_cast<int64_t>(g + 1), c.groups[g].second);
        }
        sound(5, "se\\tone.wav", c.layer, 2);
        const std::vector<int16_t> out = play(500);
        EXPECT_EQ(sounds.layerState(5)->attenuation, c.attenuation) << c.what;
        EXPECT_NEAR(rms(out, at(200), at(500)), kSine * gainFor(c.attenuation), kSine * 0.01)
            << c.what;
        for (size_t g = 0; g < c.groups.size(); ++g) {
            sounds.setGroupRange(static_cast<int64_t>(g + 1), 100, 100);  // out of the way
        }
    }
}

TEST_F(SoundLayers, StopWithATimeFadesLinearlyThenRestoresTheVolume) {
    sound(1, "se\\tone.wav", 1.0f, 2);
    play(200);
    stop(1, 1000);
    std::vector<int32_t> values;
    for (int i = 0; i < 12; ++i) {
        play(100);
        values.push_back(sounds.layerState(1)->volume.value);
    }
    const std::vector<int32_t> expected{900, 800, 700, 600, 500, 400, 300, 200, 100, 0, 1000, 1000};
    EXPECT_EQ(values, expected);
    EXPECT_FALSE(sounds.layerState(1)->playing);
    EXPECT_EQ(rms(play(300), 0, at(300)), 0.0);
    queue::classQue_SoundPlay again;
    again.layer = 1;
    sounds.run(again);
    EXPECT_NEAR(rms(play(300), at(100), at(300)), kSine, kSine * 0.01);
    stop(1, 0);  // at once
    EXPECT_EQ(rms(play(100), 0, at(100)), 0.0);
}

// The ticker sleeps while no update has work; every command and group change tells it to look.
TEST_F(SoundLayers, UpdatesAreNeededWhileALayerPlaysOrAFaderMovesAndEveryChangeIsAnnounced) {
    int announced = 0;
    sounds.setActivityHandler([&] { ++announced; });
    EXPECT_FALSE(sounds.needsUpdates()) << "nothing there";
    sound(1, "se\\quiet.wav", 1.0f, 1, std::nullopt, std::nullopt, std::nullopt, false);
    EXPECT_EQ(announced, 2) << "create and alter";
    EXPECT_FALSE(sounds.needsUpdates()) << "a layer that does not play";
    queue::classQue_SoundPlay p;
    p.layer = 1;
    sounds.run(p);
    EXPECT_TRUE(sounds.needsUpdates()) << "playing: its end must be noticed";
    play(700);
    EXPECT_FALSE(sounds.layerState(1)->playing);
    EXPECT_FALSE(sounds.needsUpdates()) << "played out";
    sounds.setGroupRange(1, 0, 9);
    sounds.setGroupVolume(1, 0.5);
    EXPECT_TRUE(sounds.needsUpdates()) << "a group volume the next update applies";
    sounds.update(100);
    EXPECT_FALSE(sounds.needsUpdates());
    queue::classQue_SoundVolume v;
    v.layer = 1;
    v.volume = 0.5f;
    v.time = 0.3;
    sounds.run(v);
    EXPECT_TRUE(sounds.needsUpdates()) << "a layer's fade, even while it is silent";
    play(400);
    EXPECT_FALSE(sounds.needsUpdates()) << "the fade ended";
    EXPECT_EQ(announced, 6);
}

TEST_F(SoundLayers, SoundVolumeFadesOverSecondsAndSilentSettingsApplyAtTheNextUpdate) {
    sound(1, "se\\tone.wav", 1.0f, 2);
    queue::classQue_SoundVolume v;
    v.layer = 1;
    v.volume = 0.5f;
    v.time = 0.5;  // seconds
    sounds.run(v);
    play(300);
    EXPECT_EQ(sounds.layerState(1)->volume.value, 700);
    play(400);
    EXPECT_EQ(sounds.layerState(1)->volume.value, 500);
    EXPECT_EQ(sounds.layerState(1)->attenuation, -752);
}

TEST_F(SoundLayers, LoopOnePlaysOnceLoopTwoLoops) {
    sound(1, "se\\tone.wav", 1.0f, 1);
    sound(2, "se\\quiet.wav", 1.0f, 2);
    sound(3, "se\\quiet.wav", 1.0f, -1);
    const std::vector<int16_t> out = play(2500);
    EXPECT_FALSE(sounds.layerState(1)->playing);
    EXPECT_TRUE(sounds.layerState(2)->playing);
    EXPECT_TRUE(sounds.layerState(3)->playing);
    // After the one-second tone, only the two looping quiet tones (coherent: twice 0.25).
    EXPECT_NEAR(rms(out, at(1100), at(2500)), kSine, kSine * 0.01);
}

TEST_F(SoundLayers, StreamsLoopFromLoopFileNoAndConvertOtherFormats) {
    // Intro (0.5 s quiet) once, then the loop file (1 s tone) for ever.
    sound(1, "se\\quiet.wav\tse\\tone.wav", 1.0f, 2, 1, 1);
    std::vector<int16_t> out = play(5000);
    EXPECT_NEAR(rms(out, at(50), at(450)), kSine / 2, kSine * 0.01);
    EXPECT_NEAR(rms(out, at(550), at(4950)), kSine, kSine * 0.01);
    EXPECT_NEAR(dominantHz(out, at(600), at(4900)), 1000, 1);

    // Looping back to the first of two files plays both again (each file restarts).
    sound(2, "se\\tone.wav\tse\\quiet.wav", 1.0f, 2, 1, 0);
    sounds.run(queue::classQue_SoundDelete{});  // layer 0: nothing
    stop(1, 0);
    out = play(4600);
    for (uint32_t lap : {0u, 1500u, 3000u}) {
        EXPECT_NEAR(rms(out, at(lap + 100), at(lap + 900)), kSine, kSine * 0.01) << lap;
        EXPECT_NEAR(rms(out, at(lap + 1050), at(lap + 1450)), kSine / 2, kSine * 0.01) << lap;
    }

    // Files of another format are converted into the first file's: the 22050 Hz mono voice
    // keeps its pitch after a 44100 Hz stereo tone, streamed and static alike.
    for (int64_t stream : {1, 0}) {
        stop(2, 0);
        sound(3, "se\\quiet.wav\tvoice\\v1.wav", 1.0f, 1, std::nullopt, std::nullopt, std::nullopt,
              false);
        queue::classQue_SoundAlter alter;
        alter.layer = 3;
        alter.stream.set(stream);
        sounds.run(alter);
        queue::classQue_SoundPlay p;
        p.layer = 3;
        sounds.run(p);
        out = play(1500);
        EXPECT_NEAR(dominantHz(out, at(600), at(950)), 440, 1) << stream;
        EXPECT_NEAR(rms(out, at(600), at(950)), kSine, kSine * 0.02) << stream;
        EXPECT_LT(rms(out, at(1050), at(1500)), 1e-3) << stream;
    }
}

TEST_F(SoundLayers, OggStreamsAndStaticSoundsDecode) {
    sound(1, "music.ogg", 1.0f, 1, 1);
    sound(2, "music.ogg", 1.0f, 1, 0);
    const std::vector<int16_t> out = play(2600);
    EXPECT_NEAR(rms(out, at(300), at(1800)), 2 * kSine, 2 * kSine * 0.02);  // both together
    EXPECT_LT(rms(out, at(2150), at(2600)), 1e-3);
    EXPECT_FALSE(sounds.layerState(2)->playing);
    EXPECT_EQ(sounds.soundLengthMs(1), 2000);
}

TEST_F(SoundLayers, BadFilesPlayNothingAndEndWithoutHanging) {
    const char* files[] = {"bad\\empty.wav", "bad\\junk.ogg", "no\\such.wav"};
    for (const char* file : files) {
        sound(1, file, 1.0f, 1, 0);  // static
        sound(2, file, 1.0f, 2, 1);  // looping stream
        sound(3, std::string(file) + "\t" + file, 1.0f, 2, 1, 1);
        const std::vector<int16_t> out = play(5000);
        EXPECT_EQ(rms(out, 0, out.size() / 2), 0.0) << file;
        EXPECT_FALSE(sounds.layerState(1)->hasBuffer) << file;
        EXPECT_FALSE(sounds.layerState(2)->playing) << file;
        EXPECT_FALSE(sounds.layerState(3)->playing) << file;
    }
}

TEST_F(SoundLayers, VoicesStopFinishedLayersGoAndSlotsKeepTheRest) {
    sounds.setGroupRange(1, 10, 19);
    sounds.setGroupAutoSkip(1, 1);
    sounds.setGroupRange(2, 20, 29);
    sounds.setGroupAutoSkip(2, 4 | 2);
    EXPECT_TRUE(sounds.isVoiceLayer(10));
    EXPECT_TRUE(sounds.isVoiceLayer(25));
    EXPECT_FALSE(sounds.isVoiceLayer(5));

    sound(10, "voice\\v1.wav", 1.0f, 1);
    sound(11, "se\\quiet.wav", 1.0f, 2);  // a looping layer in a voice group is no voice
    sound(5, "se\\tone.wav", 1.0f, 1);
    play(100);
    EXPECT_TRUE(sounds.voicePlaying());
    EXPECT_EQ(sounds.soundLengthMs(10), 500);
    sounds.setGroupSilent(1, true);
    EXPECT_FALSE(sounds.voicePlaying());
    sounds.setGroupSilent(1, false);

    queue::classQue_SoundStopToVoice stopVoices;
    stopVoices.time.set(100);
    sounds.run(stopVoices);
    play(300);
    EXPECT_FALSE(sounds.layerState(10)->playing);
    EXPECT_TRUE(sounds.layerState(11)->playing);
    EXPECT_TRUE(sounds.layerState(5)->playing);
    EXPECT_FALSE(sounds.voicePlaying());

    // finishToDelete: hidden from commands, removed by the first update after it ends.
    sound(6, "se\\quiet.wav", 0.5f, 1, std::nullopt, std::nullopt, 1);
    play(200);
    ASSERT_TRUE(sounds.layerState(6));
    play(500);
    EXPECT_FALSE(sounds.layerState(6));

    // Save slots: looping layers come back playing, others only as settings.
    sound(7, "se\\tone.wav\tse\\quiet.wav", 0.3f, 2, 1, 1);
    stop(11, 1000);  // fading out: saved as not playing, with the volume it returns to
    const std::vector<SavedSoundLayer> saved = sounds.savedLayers();
    sounds.run(queue::classQue_SoundAllDelete{});
    EXPECT_TRUE(sounds.layerNumbers().empty());
    sounds.restoreLayers(saved);
    EXPECT_EQ(sounds.savedLayers().size(), saved.size());
    const SoundLayerState seven = *sounds.layerState(7);
    EXPECT_TRUE(seven.playing);
    EXPECT_EQ(seven.volume.value, 300);
    EXPECT_EQ(seven.files, (std::vector<std::string>{"se\\tone.wav", "se\\quiet.wav"}));
    EXPECT_EQ(seven.loopFileNo, 1);
    EXPECT_FALSE(sounds.layerState(11)->playing);
    EXPECT_EQ(sounds.layerState(11)->volume.value, 1000);
}

TEST(SoundFileList, TabsSeparateAndAnEmptyFieldEnds) {
    EXPECT_EQ(splitFileList("a.ogg\tb.ogg"), (std::vector<std::string>{"a.ogg", "b.ogg"}));
    EXPECT_EQ(splitFileList("a.ogg\t\tb.ogg"), (std::vector<std::string>{"a.ogg"}));
    EXPECT_EQ(splitFileList("a.ogg\t"), (std::vector<std::string>{"a.ogg"}));
    EXPECT_TRUE(splitFileList("").empty());
}

}  // namespace
}  // namespace vaxo2::sound
