#pragma once
// Queued sound commands. They carry what the script gave; the sound subsystem, which sits
// above the queue, executes them through the SoundCommandTarget it registers. Until one is
// registered (or when a runtime runs without sound) they do nothing.
#include <cstdint>
#include <string>

#include "queue/queued_command.h"

namespace vaxo2::queue {

class classQue_SoundCreate;
class classQue_SoundAlter;
class classQue_SoundPlay;
class classQue_SoundStop;
class classQue_SoundStopToVoice;
class classQue_SoundVolume;
class classQue_SoundDelete;
class classQue_SoundAllDelete;

class SoundCommandTarget {
  public:
    virtual ~SoundCommandTarget() = default;
    virtual void run(const classQue_SoundCreate& command) = 0;
    virtual void run(const classQue_SoundAlter& command) = 0;
    virtual void run(const classQue_SoundPlay& command) = 0;
    virtual void run(const classQue_SoundStop& command) = 0;
    virtual void run(const classQue_SoundStopToVoice& command) = 0;
    virtual void run(const classQue_SoundVolume& command) = 0;
    virtual void run(const classQue_SoundDelete& command) = 0;
    virtual void run(const classQue_SoundAllDelete& command) = 0;
};

// Registers the executor (null removes it). Call before the render thread starts draining.
void setSoundCommandTarget(SoundCommandTarget* target);
SoundCommandTarget* soundCommandTarget();

namespace detail {
template <typename Command>
class SoundCommand : public classQueBase {
  public:
    void execute(QueExecuteContext&) override {
        if (SoundCommandTarget* target = soundCommandTarget()) {
            target->run(static_cast<const Command&>(*this));
        }
    }
};
}  // namespace detail

class classQue_SoundCreate : public detail::SoundCommand<classQue_SoundCreate> {
  public:
    int64_t layer = 0;
};

class classQue_SoundAlter : public detail::SoundCommand<classQue_SoundAlter> {
  public:
    int64_t layer = 0;
    std::string file;  // TAB-separated list; empty keeps the layer's files
    OptionalFloat volume;
    OptionalInt pan;
    OptionalInt loop;
    OptionalInt silent;
    OptionalInt stream;
    OptionalInt finishToDelete;
    OptionalInt play;
    OptionalInt loopFileNo;
};

class classQue_SoundPlay : public detail::SoundCommand<classQue_SoundPlay> {
  public:
    int64_t layer = 0;
};

class classQue_SoundStop : public detail::SoundCommand<classQue_SoundStop> {
  public:
    int64_t layer = 0;
    int64_t time = 0;
    OptionalBool finishToDelete;
};

class classQue_SoundStopToVoice : public detail::SoundCommand<classQue_SoundStopToVoice> {
  public:
    OptionalInt time;
};

class classQue_SoundVolume : public detail::SoundCommand<classQue_SoundVolume> {
  public:
    int64_t layer = 0;
    float volume = 0.0f;
    double time = 0.0;  // seconds
};

class classQue_SoundDelete : public detail::SoundCommand<classQue_SoundDelete> {
  public:
    int64_t layer = 0;
};

class classQue_SoundAllDelete : public detail::SoundCommand<classQue_SoundAllDelete> {};

}  // namespace vaxo2::queue
