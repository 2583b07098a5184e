#include "sound/sound_manager.h"

#include <algorithm>
#include <cmath>

namespace vaxo2::sound {

namespace {

// Layer numbers are compared as 32-bit values.
bool sameLayer(int64_t a, int64_t b) {
    return static_cast<int32_t>(a) == static_cast<int32_t>(b);
}

int32_t thousandths(float volume) {
    // In float, as the command carries it: 0.7 gives 700.
    const float v = volume * 1000.0f;
    if (!(v == v)) return 0;
    return static_cast<int32_t>(std::clamp(v, -2.0e9f, 2.0e9f));
}

int32_t truncated(double v) {
    if (!std::isfinite(v)) return v > 0 ? INT32_MAX : INT32_MIN;
    return static_cast<int32_t>(std::clamp(std::trunc(v), -2147483648.0, 2147483647.0));
}

bool reached(const Fader& f) {
    return f.rate > 0 ? f.value >= f.target : f.value <= f.target;
}

constexpr size_t kSourceChunk = 16384;

}  // namespace

std::vector<std::string> splitFileList(const std::string& list) {
    std::vector<std::string> files;
    size_t start = 0;
    while (start <= list.size()) {
        const size_t tab = list.find('\t', start);
        const size_t end = tab == std::string::npos ? list.size() : tab;
        if (end == start) break;  // an empty field ends the list
        files.push_back(list.substr(start, end - start));
        if (tab == std::string::npos) break;
        start = tab + 1;
    }
    return files;
}

// One file of a layer, with what it takes to read it in the layer buffer's format.
struct FileReader {
    std::unique_ptr<SoundSource> source;
    std::unique_ptr<PcmConverter> converter;  // null when the formats match
    std::vector<uint8_t> pending;             // converted, not yet delivered
    size_t pendingAt = 0;
    bool sourceDone = false;
};

struct SoundManager::Layer {
    int64_t number = 0;
    bool playing = false;
    bool loop = false;
    Fader volume;
    int64_t loopFileNo = 0;
    size_t current = 0;
    bool finishToDelete = false;
    bool stream = false;
    std::vector<FileReader> files;
    std::unique_ptr<SoundBuffer> buffer;
};

SoundManager::SoundManager(Mixer& mixer) : mixer_(mixer) {}

// Declared before a function's lock guard, so that the handler runs once the sound lock is
// released.
struct SoundManager::ActivityNote {
    SoundManager& manager;
    ~ActivityNote() {
        if (manager.activityHandler_) manager.activityHandler_();
    }
};

bool SoundManager::needsUpdates() const {
    std::lock_guard lock(lock_);
    auto moving = [](const Fader& f) { return f.rate != 0.0 || f.changed; };
    if (moving(master_)) return true;
    for (const auto& [no, group] : groups_) {
        if (moving(group.fader)) return true;
    }
    for (const auto& layer : layers_) {
        if (layer->playing || moving(layer->volume)) return true;
    }
    return false;
}

SoundManager::~SoundManager() {
    std::lock_guard lock(lock_);
    layers_.clear();
}

// ---------------------------------------------------------------------------------------------
// Layers

SoundManager::Layer* SoundManager::findLocked(int64_t number) const {
    for (const auto& layer : layers_) {
        if (!layer->finishToDelete && sameLayer(layer->number, number)) return layer.get();
    }
    return nullptr;
}

void SoundManager::removeLocked(int64_t number) {
    std::erase_if(layers_, [&](const auto& layer) { return sameLayer(layer->number, number); });
}

bool SoundManager::soundingLocked(const Layer& layer) const {
    return layer.playing && layer.buffer && layer.buffer->isPlaying();
}

int32_t SoundManager::audibleLocked(const Layer& layer) const {
    const auto number = static_cast<int32_t>(layer.number);
    int64_t factor = 1000;
    for (const auto& [no, group] : groups_) {
        if (!group.contains(number)) continue;
        if (group.silent) return 0;
        factor = group.fader.value * factor / 1000;
    }
    const int64_t master = int64_t{master_.value} * factor / 1000;
    return static_cast<int32_t>(
        std::clamp<int64_t>(master * layer.volume.value / 1000, INT32_MIN, INT32_MAX));
}

void SoundManager::applyVolumeLocked(Layer& layer) {
    if (layer.buffer) layer.buffer->setVolume(audibleLocked(layer) / 1000.0);
}

void SoundManager::setLayerFilesLocked(Layer& layer, const std::string& list) {
    layer.files.clear();
    for (std::string& name : splitFileList(list)) {
        FileReader reader;
        reader.source = std::make_unique<SoundSource>(std::move(name));
        layer.files.push_back(std::move(reader));
    }
    layer.current = 0;
}

void SoundManager::stopLocked(Layer& layer) {
    layer.playing = false;
    layer.volume.rate = 0.0;
    layer.volume.target = 0;
    layer.volume.stopAfterFade = false;
    if (layer.buffer) {
        layer.buffer->setVolume(0.0);
        layer.buffer->stop();
    }
}

void SoundManager::fadeOutAndStopLocked(Layer& layer, int64_t timeMs) {
    Fader& f = layer.volume;
    f.stopAfterFade = true;
    f.savedValue = f.value;
    f.target = 0;
    f.rate = timeMs > 0 ? -static_cast<double>(f.value) / static_cast<double>(timeMs)
                        : -static_cast<double>(f.value);
}

void SoundManager::enterFileLocked(Layer& layer, size_t index) {
    FileReader& f = layer.files[index];
    // Every file starts from its beginning when reading comes to it, so a loop back to an
    // earlier file really plays that file again.
    f.source->rewind();
    if (f.converter) f.converter->reset();
    f.pending.clear();
    f.pendingAt = 0;
    f.sourceDone = false;
}

void SoundManager::playLocked(Layer& layer) {
    if (layer.files.empty()) return;
    for (FileReader& f : layer.files)
        f.source->format();
    layer.current = 0;
    layer.playing = true;

    const WaveFormat format = layer.files.front().source->format();
    // Files in another format than the first are converted into it.
    const bool convertible = isPlayableFormat(format);
    for (FileReader& f : layer.files) {
        const WaveFormat& own = f.source->format();
        f.converter.reset();
        if (convertible && own != format && isPlayableFormat(own))
            f.converter = std::make_unique<PcmConverter>(own, format);
    }

    uint64_t size = kStreamBufferBytes;
    std::vector<std::vector<uint8_t>> converted(layer.files.size());
    if (!layer.stream) {
        size = 0;
        for (size_t i = 0; i < layer.files.size(); ++i) {
            FileReader& f = layer.files[i];
            const uint8_t* data = nullptr;
            size_t bytes = 0;
            if (!f.source->wholePcm(data, bytes)) continue;
            if (f.source->format() == format) {
                size += bytes;
            } else if (f.converter) {
                f.converter->convert(data, bytes, converted[i]);
                f.converter->finish(converted[i]);
                size += converted[i].size();
            }
        }
    }
    if (size == 0 || size > Mixer::kMaxBufferBytes) return;

    layer.buffer.reset();
    layer.buffer = SoundBuffer::create(mixer_, format, static_cast<uint32_t>(size));
    if (!layer.buffer) return;
    for (size_t i = 0; i < layer.files.size(); ++i)
        enterFileLocked(layer, i);
    if (layer.stream) {
        for (int i = 0; i < 8; ++i)
            refillLocked(layer);
    } else {
        for (size_t i = 0; i < layer.files.size(); ++i) {
            FileReader& f = layer.files[i];
            const uint8_t* data = nullptr;
            size_t bytes = 0;
            if (f.source->format() == format) {
                if (f.source->wholePcm(data, bytes))
                    layer.buffer->append(data, static_cast<uint32_t>(bytes));
            } else if (!converted[i].empty()) {
                layer.buffer->append(converted[i].data(),
                                     static_cast<uint32_t>(converted[i].size()));
            }
        }
    }
    applyVolumeLocked(layer);
    layer.buffer->play(layer.stream || layer.loop);
}

long SoundManager::readFileLocked(Layer& layer, size_t index, uint8_t* out, uint32_t n) {
    FileReader& f = layer.files[index];
    if (!f.converter) {
        // A file that cannot be converted into the buffer's format contributes nothing.
        const WaveFormat& bufferFormat = layer.buffer->format();
        if (f.source->format() != bufferFormat) return 0;
        return f.source->read(out, n);
    }
    uint8_t chunk[kSourceChunk];
    while (f.pending.size() - f.pendingAt < n && !f.sourceDone) {
        const uint16_t block = f.source->format().blockAlign;
        const long got = f.source->read(chunk, kSourceChunk - kSourceChunk % block);
        if (got > 0) {
            f.converter->convert(chunk, static_cast<size_t>(got), f.pending);
        } else {
            f.converter->finish(f.pending);
            f.sourceDone = true;
        }
    }
    const size_t take = std::min<size_t>(n, f.pending.size() - f.pendingAt);
    std::copy_n(f.pending.data() + f.pendingAt, take, out);
    f.pendingAt += take;
    if (f.pendingAt == f.pending.size()) {
        f.pending.clear();
        f.pendingAt = 0;
    }
    return static_cast<long>(take);
}

uint32_t SoundManager::readStreamLocked(Layer& layer, uint8_t* out, uint32_t n) {
    const size_t count = layer.files.size();
    if (count == 0) return 0;
    // A loop that goes back to an index outside the list starts over at the first file.
    const size_t loopStart =
        layer.loopFileNo >= 0 && static_cast<uint64_t>(layer.loopFileNo) < count
            ? static_cast<size_t>(layer.loopFileNo)
            : 0;
    uint32_t total = 0;
    size_t idle = 0;  // file changes since data last came
    while (total < n && layer.current < count) {
        const long got = readFileLocked(layer, layer.current, out + total, n - total);
        if (got > 0) {
            total += static_cast<uint32_t>(got);
            idle = 0;
            continue;
        }
        // Files that all deliver nothing (unreadable, empty) end the stream instead of spinning.
        if (++idle > count + 1) break;
        if (layer.current + 1 < count) {
            ++layer.current;
        } else if (!layer.loop) {
            break;
        } else if (layer.current != loopStart) {
            layer.current = loopStart;
        }
        enterFileLocked(layer, layer.current);
    }
    return total;
}

void SoundManager::refillLocked(Layer& layer) {
    if (!layer.buffer) return;
    static thread_local std::vector<uint8_t> scratch(kRefillBytes);
    const uint16_t block = std::max<uint16_t>(layer.buffer->format().blockAlign, 1);
    uint32_t n = std::min(layer.buffer->freeSpace(), kRefillBytes);
    n -= n % block;
    if (n == 0) return;
    const uint32_t got = readStreamLocked(layer, scratch.data(), n);
    if (got == 0) {
        layer.buffer->markEnd();
        layer.buffer->appendSilence(n);
    } else {
        layer.buffer->append(scratch.data(), got);
    }
}

// ---------------------------------------------------------------------------------------------
// Queued commands

void SoundManager::run(const queue::classQue_SoundCreate& command) {
    const ActivityNote note{*this};
    std::lock_guard lock(lock_);
    removeLocked(command.layer);
    auto layer = std::make_unique<Layer>();
    layer->number = command.layer;
    layers_.push_back(std::move(layer));
}

void SoundManager::run(const queue::classQue_SoundAlter& command) {
    const ActivityNote note{*this};
    std::lock_guard lock(lock_);
    Layer* layer = findLocked(command.layer);
    if (!layer) return;
    if (!command.file.empty()) {
        stopLocked(*layer);
        layer->buffer.reset();
        setLayerFilesLocked(*layer, command.file);
        layer->loop = false;
        layer->stream = false;
        layer->loopFileNo = 0;
    }
    if (command.stream.given) layer->stream = command.stream.value != 0;
    if (command.volume.given) {
        layer->volume.value = thousandths(command.volume.value);
        applyVolumeLocked(*layer);
    }
    if (command.loop.given) layer->loop = command.loop.value != 0 && command.loop.value != 1;
    if (command.finishToDelete.given) layer->finishToDelete = command.finishToDelete.value != 0;
    if (command.loopFileNo.given) layer->loopFileNo = command.loopFileNo.value;
}

void SoundManager::run(const queue::classQue_SoundPlay& command) {
    const ActivityNote note{*this};
    std::lock_guard lock(lock_);
    if (Layer* layer = findLocked(command.layer)) playLocked(*layer);
}

void SoundManager::run(const queue::classQue_SoundStop& command) {
    const ActivityNote note{*this};
    std::lock_guard lock(lock_);
    Layer* layer = findLocked(command.layer);
    if (!layer) return;
    if (command.time != 0) {
        fadeOutAndStopLocked(*layer, command.time);
    } else {
        stopLocked(*layer);
    }
}

void SoundManager::run(const queue::classQue_SoundStopToVoice& command) {
    const ActivityNote note{*this};
    std::lock_guard lock(lock_);
    const int64_t time = command.time.valueOr(0);
    for (const auto& layer : layers_) {
        if (!soundingLocked(*layer) || layer->loop) continue;
        const auto number = static_cast<int32_t>(layer->number);
        const bool voice = std::any_of(groups_.begin(), groups_.end(), [&](const auto& g) {
            return g.second.contains(number) && g.second.isVoiceGroup();
        });
        if (voice) fadeOutAndStopLocked(*layer, time);
    }
}

void SoundManager::run(const queue::classQue_SoundVolume& command) {
    const ActivityNote note{*this};
    std::lock_guard lock(lock_);
    Layer* layer = findLocked(command.layer);
    if (!layer) return;
    Fader& f = layer->volume;
    f.target = thousandths(command.volume);
    const double timeMs = std::trunc(command.time * 1000.0);
    const double delta = static_cast<double>(f.target) - f.value;
    f.rate = timeMs > 0 ? delta / timeMs : delta;
}

void SoundManager::run(const queue::classQue_SoundDelete& command) {
    const ActivityNote note{*this};
    std::lock_guard lock(lock_);
    removeLocked(command.layer);
}

void SoundManager::run(const queue::classQue_SoundAllDelete&) {
    const ActivityNote note{*this};
    std::lock_guard lock(lock_);
    layers_.clear();
}

// ---------------------------------------------------------------------------------------------
// Groups

void SoundManager::setGroupRange(int64_t no, std::optional<int64_t> first,
                                 std::optional<int64_t> last) {
    const ActivityNote note{*this};
    std::lock_guard lock(lock_);
    SoundGroup& group = groups_[no];
    if (first) group.first = *first;
    if (last) group.last = *last;
}

void SoundManager::setGroupVolume(int64_t no, double volume) {
    const ActivityNote note{*this};
    std::lock_guard lock(lock_);
    auto it = groups_.find(no);
    if (it == groups_.end()) return;
    Fader& f = it->second.fader;
    f.value = truncated(volume * 1000.0);
    f.rate = 0.0;
    f.changed = true;
}

void SoundManager::setGroupSilent(int64_t no, bool silent) {
    const ActivityNote note{*this};
    std::lock_guard lock(lock_);
    auto it = groups_.find(no);
    if (it == groups_.end()) return;
    it->second.silent = silent;
    it->second.fader.rate = 0.0;
    it->second.fader.changed = true;
}

void SoundManager::setGroupAutoSkip(int64_t no, int64_t value) {
    const ActivityNote note{*this};
    std::lock_guard lock(lock_);
    auto it = groups_.find(no);
    if (it != groups_.end()) it->second.autoSkip = value;
}

std::optional<SoundGroup> SoundManager::group(int64_t no) const {
    std::lock_guard lock(lock_);
    auto it = groups_.find(no);
    if (it == groups_.end()) return std::nullopt;
    return it->second;
}

void SoundManager::groupFadeLocked(SoundGroup& group, int32_t target, int64_t timeMs) {
    Fader& f = group.fader;
    f.target = target;
    if (group.silent || timeMs <= 0) {
        f.value = target;
        f.rate = 0.0;
        f.changed = true;
        return;
    }
    f.rate = static_cast<double>(target - f.value) / static_cast<double>(timeMs);
}

void SoundManager::setDucking(std::vector<int64_t> voiceGroups, std::vector<int64_t> duckedGroups,
                              int32_t level) {
    const ActivityNote note{*this};
    std::lock_guard lock(lock_);
    voiceGroups_ = std::move(voiceGroups);
    duckedGroups_ = std::move(duckedGroups);
    duckLevel_ = level;
}

// ---------------------------------------------------------------------------------------------
// Queries

bool SoundManager::isVoiceLayer(int64_t layer) const {
    std::lock_guard lock(lock_);
    const auto number = static_cast<int32_t>(layer);
    return std::any_of(groups_.begin(), groups_.end(), [&](const auto& g) {
        return g.second.contains(number) && g.second.isVoiceGroup();
    });
}

bool SoundManager::voicePlaying() const {
    std::lock_guard lock(lock_);
    for (const auto& layer : layers_) {
        if (!soundingLocked(*layer) || layer->loop) continue;
        const auto number = static_cast<int32_t>(layer->number);
        bool voice = false, silent = false;
        for (const auto& [no, group] : groups_) {
            if (!group.contains(number)) continue;
            voice |= group.isVoiceGroup();
            silent |= group.silent;
        }
        if (voice && !silent) return true;
    }
    return false;
}

std::optional<int64_t> SoundManager::soundLengthMs(int64_t number) const {
    std::lock_guard lock(lock_);
    Layer* layer = findLocked(number);
    if (!layer) return std::nullopt;
    int64_t total = 0;
    for (const FileReader& f : layer->files) {
        const uint32_t perSecond = f.source->format().avgBytesPerSec;
        if (perSecond == 0) continue;
        total += static_cast<int64_t>(f.source->totalBytes() * 1000 / perSecond);
    }
    return total;
}

std::optional<SoundLayerState> SoundManager::layerState(int64_t number) const {
    std::lock_guard lock(lock_);
    const Layer* layer = nullptr;
    for (const auto& l : layers_) {
        if (sameLayer(l->number, number)) layer = l.get();
    }
    if (!layer) return std::nullopt;
    SoundLayerState s;
    s.number = layer->number;
    s.playing = soundingLocked(*layer);
    s.loop = layer->loop;
    s.stream = layer->stream;
    s.finishToDelete = layer->finishToDelete;
    s.loopFileNo = layer->loopFileNo;
    s.current = layer->current;
    s.volume = layer->volume;
    for (const FileReader& f : layer->files)
        s.files.push_back(f.source->name());
    s.hasBuffer = layer->buffer != nullptr;
    s.attenuation = layer->buffer ? layer->buffer->attenuation() : 0;
    return s;
}

std::vector<int64_t> SoundManager::layerNumbers() const {
    std::lock_guard lock(lock_);
    std::vector<int64_t> numbers;
    for (const auto& layer : layers_)
        numbers.push_back(layer->number);
    return numbers;
}

std::vector<SavedSoundLayer> SoundManager::savedLayers() const {
    std::lock_guard lock(lock_);
    std::vector<SavedSoundLayer> out;
    for (const auto& layer : layers_) {
        if (layer->finishToDelete) continue;
        SavedSoundLayer s;
        s.number = layer->number;
        const Fader& f = layer->volume;
        const bool fadingOut = f.stopAfterFade && f.rate != 0.0;
        s.playing = soundingLocked(*layer) && !fadingOut;
        s.loop = layer->loop;
        s.stream = layer->stream;
        // A layer fading out to stop keeps the volume it returns to, not the fade's 0.
        s.volume = fadingOut ? f.savedValue : (f.rate != 0.0 ? f.target : f.value);
        s.loopFileNo = layer->loopFileNo;
        for (const FileReader& file : layer->files)
            s.files.push_back(file.source->name());
        out.push_back(std::move(s));
    }
    return out;
}

void SoundManager::restoreLayers(const std::vector<SavedSoundLayer>& saved) {
    const ActivityNote note{*this};
    std::lock_guard lock(lock_);
    layers_.clear();
    for (const SavedSoundLayer& s : saved) {
        auto layer = std::make_unique<Layer>();
        layer->number = s.number;
        std::string list;
        for (size_t i = 0; i < s.files.size(); ++i)
            list += (i ? "\t" : "") + s.files[i];
        setLayerFilesLocked(*layer, list);
        layer->stream = s.stream;
        layer->loopFileNo = s.loopFileNo;
        layer->loop = s.loop;
        layer->volume.value = s.volume;
        Layer& ref = *layer;
        layers_.push_back(std::move(layer));
        if (s.playing && s.loop) playLocked(ref);
    }
}

// ---------------------------------------------------------------------------------------------
// Update

void SoundManager::update(uint32_t elapsedMs) {
    std::lock_guard lock(lock_);
    const double elapsed = static_cast<double>(elapsedMs);

    // 1. Ducking of the music groups under a voice.
    if (duckLevel_ != 1000) {
        bool voiceActive = false;
        for (const auto& layer : layers_) {
            if (!soundingLocked(*layer) || layer->loop) continue;
            const auto number = static_cast<int32_t>(layer->number);
            for (int64_t no : voiceGroups_) {
                auto it = groups_.find(no);
                if (it != groups_.end() && it->second.contains(number)) voiceActive = true;
            }
        }
        for (int64_t no : duckedGroups_) {
            auto it = groups_.find(no);
            if (it == groups_.end() || it->second.fader.rate != 0.0) continue;
            SoundGroup& g = it->second;
            if (voiceActive && g.fader.value != duckLevel_) groupFadeLocked(g, duckLevel_, 200);
            if (!voiceActive && g.fader.value != 1000) groupFadeLocked(g, 1000, 500);
        }
    }

    // 2. Master and group faders.
    bool changed = false;
    auto advance = [&](Fader& f) {
        if (f.changed) changed = true;
        f.changed = false;
        if (f.rate == 0.0) return;
        changed = true;
        if (reached(f)) {
            f.rate = 0.0;
            f.value = f.target;
        } else {
            f.value = truncated(f.value + f.rate * elapsed);
        }
    };
    advance(master_);
    for (auto& [no, group] : groups_)
        advance(group.fader);

    // 3. Layers: refills first, then fades.
    for (const auto& layer : layers_) {
        if (layer->stream && soundingLocked(*layer)) refillLocked(*layer);
        if (layer->playing && !soundingLocked(*layer)) {
            // Its data ran out (a static sound played to its end, or a stream past its end).
            layer->playing = false;
            changed = true;
        }
        Fader& f = layer->volume;
        if (f.changed) changed = true;
        f.changed = false;
        if (f.rate == 0.0) continue;
        changed = true;
        if (reached(f)) {
            f.value = f.target;
            f.rate = 0.0;
            if (f.stopAfterFade) {
                stopLocked(*layer);
                f.value = f.savedValue;
            }
        } else {
            const int32_t next = truncated(f.value + f.rate * elapsed);
            f.value = f.rate > 0 ? std::min(next, f.target) : std::max(next, f.target);
        }
    }

    // 4. Apply what changed; layers that finished and asked for it go.
    if (!changed) return;
    for (const auto& layer : layers_) {
        if (soundingLocked(*layer)) applyVolumeLocked(*layer);
    }
    std::erase_if(layers_, [&](const auto& layer) {
        return layer->finishToDelete && !soundingLocked(*layer);
    });
}

}  // namespace vaxo2::sound
