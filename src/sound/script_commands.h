#pragma once
// The sound script commands. Sound, SoundAlter, SoundStop and SoundVolume queue commands into the
// main queue (SoundAlter also does the voice bookkeeping on the scenario thread); the four group
// commands act at once on the application context's sound manager.
#include <cstdint>
#include <vector>

#include "queue/command_queue.h"
#include "script/script_value.h"

namespace vaxo2::script {
class ScriptInterpreter;
}

namespace vaxo2::sound {

// Registers Sound, SoundAlter, SoundStop, SoundVolume, SoundGroup, SoundGroupVolume,
// SoundGroupSilent and SoundGroupAutomodeSkip.
void registerSoundCommands();

// The builders behind Sound and SoundAlter, for a statement's bound arguments.
void queueSound(script::ScriptInterpreter& interpreter,
                const std::vector<script::ScriptValue>& args, int32_t count,
                queue::CommandQueue& queue);
void queueSoundAlter(script::ScriptInterpreter& interpreter,
                     const std::vector<script::ScriptValue>& args, int32_t count,
                     queue::CommandQueue& queue);

}  // namespace vaxo2::sound
