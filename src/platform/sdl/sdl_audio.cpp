#include <SDL.h>

#include <cstring>
#include <mutex>

#include "platform/audio_device.h"

namespace vaxo2::platform {
namespace {

// SDL's audio subsystem is counted per SDL_InitSubSystem; opening and closing go through here.
std::mutex gAudioInitMutex;

// Small enough that a started sound reaches the speaker within about a hundredth of a second,
// large enough that a busy machine does not starve the callback.
constexpr Uint16 kCallbackFrames = 512;

class SdlAudioDevice final : public AudioDevice {
  public:
    SdlAudioDevice(SDL_AudioDeviceID id, uint32_t frames, std::string driver)
        : id_(id), frames_(frames), driver_(std::move(driver)) {}
    ~SdlAudioDevice() override {
        std::lock_guard lock(gAudioInitMutex);
        // Closing waits for a running callback to return, so the source outlives its last call.
        SDL_CloseAudioDevice(id_);
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
    }
    std::string description() const override { return "SDL " + driver_; }
    uint32_t bufferedFrames() const override { return frames_; }

  private:
    SDL_AudioDeviceID id_;
    uint32_t frames_;
    std::string driver_;
};

void SDLCALL pull(void* userdata, Uint8* stream, int len) {
    auto* source = static_cast<AudioSource*>(userdata);
    const uint32_t frames = static_cast<uint32_t>(len) / (kAudioChannels * sizeof(int16_t));
    // The stream buffer is aligned for the format SDL was asked for (signed 16-bit).
    source->renderAudio(reinterpret_cast<int16_t*>(stream), frames);
}

}  // namespace

std::unique_ptr<AudioDevice> openSdlAudioDevice(AudioSource& source, std::string& error) {
    std::lock_guard lock(gAudioInitMutex);
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
        error = std::string("audio system: ") + SDL_GetError();
        return nullptr;
    }
    SDL_AudioSpec want;
    std::memset(&want, 0, sizeof want);
    want.freq = static_cast<int>(kAudioRate);
    want.format = AUDIO_S16SYS;
    want.channels = static_cast<Uint8>(kAudioChannels);
    want.samples = kCallbackFrames;
    want.callback = pull;
    want.userdata = &source;
    SDL_AudioSpec have;
    // No changes allowed: SDL converts to whatever the hardware wants behind the callback, so the
    // mixer always sees exactly 44100 Hz stereo 16-bit.
    const SDL_AudioDeviceID id = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
    if (id == 0) {
        error = std::string("audio device: ") + SDL_GetError();
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        return nullptr;
    }
    const char* driver = SDL_GetCurrentAudioDriver();
    auto device = std::make_unique<SdlAudioDevice>(id, have.samples, driver ? driver : "?");
    SDL_PauseAudioDevice(id, 0);
    return device;
}

}  // namespace vaxo2::platform
