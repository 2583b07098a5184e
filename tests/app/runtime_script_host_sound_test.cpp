// The sound side of the script host as KeyWait uses it: the voice's length for automatic play,
// whether a voice still sounds, the queued voice stop, and voices recorded in the text history.
#include <gtest/gtest.h>

#include "app/runtime_script_host.h"
#include "queue/command_queue.h"
#include "sound/mixer.h"
#include "sound/sound_manager.h"

namespace vaxo2::app {
namespace {

class Voices : public queue::SoundCommandTarget {
  public:
    std::vector<int64_t> stops;
    void run(const queue::classQue_SoundCreate&) override {}
    void run(const queue::classQue_SoundAlter&) override {}
    void run(const queue::classQue_SoundPlay&) override {}
    void run(const queue::classQue_SoundStop&) override {}
    void run(const queue::classQue_SoundStopToVoice& c) override {
        stops.push_back(c.time.valueOr(-1));
    }
    void run(const queue::classQue_SoundVolume&) override {}
    void run(const queue::classQue_SoundDelete&) override {}
    void run(const queue::classQue_SoundAllDelete&) override {}
};

class Backlog : public graphics::MessageHistory {
  public:
    std::vector<std::vector<std::string>> entries;
    void openEntry() override { entries.emplace_back(); }
    void appendText(const std::string& text) override { entries.back().push_back(text); }
};

TEST(RuntimeScriptHostSound, VoiceLengthPlayingStopAndHistory) {
    core::AppContext app;
    core::ScopedAppContext published(app);
    RuntimeScriptHost host(app);
    // Without a sound manager: no voice.
    EXPECT_EQ(host.currentVoiceLength(), std::nullopt);
    EXPECT_FALSE(host.anyVoicePlaying());

    sound::Mixer mixer;
    sound::SoundManager sounds(mixer);
    app.soundManager = &sounds;
    queue::classQue_SoundCreate create;
    create.layer = 12;
    sounds.run(create);
    app.lastVoiceLayer = 12;
    EXPECT_EQ(host.currentVoiceLength(), std::nullopt);  // no voice file recorded
    app.lastVoiceFile = "voice\\missing.ogg";
    EXPECT_EQ(host.currentVoiceLength(), 0);  // the layer exists, its file does not
    app.lastVoiceLayer = 13;
    EXPECT_EQ(host.currentVoiceLength(), std::nullopt);

    Voices voices;
    queue::setSoundCommandTarget(&voices);
    queue::mainCommandQueue().clear();
    host.queueStopVoice(100);
    host.releaseMainQueue();
    queue::QueExecuteContext context;
    queue::mainCommandQueue().executeReleased(context);
    queue::setSoundCommandTarget(nullptr);
    EXPECT_EQ(voices.stops, std::vector<int64_t>{100});

    // Voice marks go to the history the text commands write, when there is one.
    host.openHistoryEntry();  // no text engine: nothing, no crash
    graphics::TextEngine engine;
    Backlog backlog;
    engine.setHistory(&backlog);
    host.setTextEngine(&engine);
    host.openHistoryEntry();
    host.appendHistory("!<voicev.ogg");
    EXPECT_EQ(backlog.entries, (std::vector<std::vector<std::string>>{{"!<voicev.ogg"}}));
}

}  // namespace
}  // namespace vaxo2::app
