#pragma once
// Sound layers, groups and the sound commands' effects. Scripts play sound on numbered layers; a
// layer holds a list of files, a volume fader and its flags, and owns a SoundBuffer while it
// plays. Groups are numbered ranges of layer numbers with a volume, a silence switch and a voice
// mark; a layer's audible volume is its own times every group's that contains it. The queued
// sound commands run here on the render thread, the group commands on the scenario thread, and
// update() on the ticker thread every 100 ms (fades, stream refills). One lock (the sound lock)
// serialises all of them.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "queue/sound_commands.h"
#include "sound/mixer.h"
#include "sound/pcm_converter.h"
#include "sound/sound_buffer.h"
#include "sound/sound_source.h"

namespace vaxo2::sound {

// Volumes are thousandths: 1000 is full volume.
struct Fader {
    int32_t value = 1000;
    double rate = 0.0;  // per millisecond; 0 when no fade runs
    int32_t target = 0;
    bool stopAfterFade = false;  // layers: when the fade ends, stop and restore savedValue
    int32_t savedValue = 0;
    bool changed = false;  // an immediate change the next update must apply
};

struct SoundGroup {
    int64_t first = 0;
    int64_t last = 0;
    Fader fader;
    bool silent = false;
    int64_t autoSkip = 0;

    bool contains(int32_t layer) const { return first <= layer && layer <= last; }
    // Voices: automatic-play skip value 1, or bit 2 set.
    bool isVoiceGroup() const { return autoSkip == 1 || (autoSkip & 4) != 0; }
};

// One layer as a save slot keeps it.
struct SavedSoundLayer {
    int64_t number = 0;
    bool playing = false;
    bool loop = false;
    bool stream = false;
    int32_t volume = 1000;
    int64_t loopFileNo = 0;
    std::vector<std::string> files;
};

// A layer's state, for tests and diagnostics.
struct SoundLayerState {
    int64_t number = 0;
    bool playing = false;  // started and still sounding
    bool loop = false;
    bool stream = false;
    bool finishToDelete = false;
    int64_t loopFileNo = 0;
    size_t current = 0;
    Fader volume;
    std::vector<std::string> files;
    bool hasBuffer = false;
    int32_t attenuation = 0;  // the buffer's, hundredths of a dB
};

class SoundManager final : public queue::SoundCommandTarget {
  public:
    // Update interval of the ticker, and the fade every earlier voice gets when a new one starts.
    static constexpr int64_t kVoiceFadeMs = 100;
    // The backlog's voice replay layer.
    static constexpr int64_t kReplayLayer = 99;

    explicit SoundManager(Mixer& mixer);
    ~SoundManager() override;
    SoundManager(const SoundManager&) = delete;
    SoundManager& operator=(const SoundManager&) = delete;

    // The sound lock.
    std::mutex& soundLock() { return lock_; }
    // The mixer the layers play through; other subsystems open their streams on it (movie sound).
    Mixer& mixer() { return mixer_; }

    // Queued commands (render thread).
    void run(const queue::classQue_SoundCreate& command) override;
    void run(const queue::classQue_SoundAlter& command) override;
    void run(const queue::classQue_SoundPlay& command) override;
    void run(const queue::classQue_SoundStop& command) override;
    void run(const queue::classQue_SoundStopToVoice& command) override;
    void run(const queue::classQue_SoundVolume& command) override;
    void run(const queue::classQue_SoundDelete& command) override;
    void run(const queue::classQue_SoundAllDelete& command) override;

    // Group commands (scenario thread, at once). SoundGroup creates the group or changes the
    // range bounds that are given; the others do nothing for an unknown group.
    void setGroupRange(int64_t group, std::optional<int64_t> first, std::optional<int64_t> last);
    void setGroupVolume(int64_t group, double volume);
    void setGroupSilent(int64_t group, bool silent);
    void setGroupAutoSkip(int64_t group, int64_t value);
    std::optional<SoundGroup> group(int64_t group) const;

    // Queries.
    // True when the layer number lies in a voice group.
    bool isVoiceLayer(int64_t layer) const;
    // A voice sounds: a layer in a voice group and in no silent group plays without looping.
    bool voicePlaying() const;
    // The length in milliseconds of the sound on `layer` (the sum over its files), when the layer
    // exists.
    std::optional<int64_t> soundLengthMs(int64_t layer) const;
    std::optional<SoundLayerState> layerState(int64_t layer) const;
    std::vector<int64_t> layerNumbers() const;

    // Save slots: the layers without finishToDelete, and their recreation.
    std::vector<SavedSoundLayer> savedLayers() const;
    void restoreLayers(const std::vector<SavedSoundLayer>& layers);

    // Ducking of music groups under voices; off (level 1000) unless set.
    void setDucking(std::vector<int64_t> voiceGroups, std::vector<int64_t> duckedGroups,
                    int32_t level);

    // Ticker: fades, refills, removal of finished layers. `elapsedMs` since the last update.
    void update(uint32_t elapsedMs);
    // Whether update() has work: a fader moves, or a layer plays (a stream to refill, an end to
    // notice). False: the ticker may sleep.
    bool needsUpdates() const;
    // Called after every command or group change (outside the sound lock): the ticker may have
    // work again. Set before the threads start.
    void setActivityHandler(std::function<void()> handler) {
        activityHandler_ = std::move(handler);
    }

  private:
    struct Layer;
    struct ActivityNote;

    Layer* findLocked(int64_t number) const;
    void removeLocked(int64_t number);
    void playLocked(Layer& layer);
    void stopLocked(Layer& layer);
    void fadeOutAndStopLocked(Layer& layer, int64_t timeMs);
    bool soundingLocked(const Layer& layer) const;
    int32_t audibleLocked(const Layer& layer) const;
    void applyVolumeLocked(Layer& layer);
    void refillLocked(Layer& layer);
    uint32_t readStreamLocked(Layer& layer, uint8_t* out, uint32_t n);
    long readFileLocked(Layer& layer, size_t index, uint8_t* out, uint32_t n);
    void enterFileLocked(Layer& layer, size_t index);
    void setLayerFilesLocked(Layer& layer, const std::string& list);
    void groupFadeLocked(SoundGroup& group, int32_t target, int64_t timeMs);

    Mixer& mixer_;
    mutable std::mutex lock_;
    std::vector<std::unique_ptr<Layer>> layers_;  // in creation order
    std::map<int64_t, SoundGroup> groups_;
    Fader master_;
    std::vector<int64_t> voiceGroups_;
    std::vector<int64_t> duckedGroups_;
    int32_t duckLevel_ = 1000;
    std::function<void()> activityHandler_;
};

// The TAB-separated file list of the File argument; an empty field ends it.
std::vector<std::string> splitFileList(const std::string& list);

}  // namespace vaxo2::sound
