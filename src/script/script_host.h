#pragma once
// What the script commands need from the subsystems above the script engine (command queues,
// render thread, sound, message text, backlog, read-text record). The application installs one
// host in the interpreter; every operation has a harmless default so that the engine runs on
// its own (tools, tests).
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace vaxo2::script {

class ScriptHost {
  public:
    virtual ~ScriptHost() = default;

    // release on the main command queue.
    virtual void releaseMainQueue() {}
    // Restart: queue deleting every graphic of the screen tree and every sound.
    virtual void queueRestartCleanup() {}
    // Queue completing all message text at once (target mask 1).
    virtual void queueTextDrawingAllFinish() {}
    // Queue stopping the current voice, carrying `value`.
    virtual void queueStopVoice(int64_t /*value*/) {}
    // Blocks until the render thread has completed a frame, or a stop flag is raised.
    virtual void waitForFrame() {}
    // Empties the backlog.
    virtual void clearHistory() {}
    // Backlog: starts a new, empty entry after the others.
    virtual void openHistoryEntry() {}
    // Backlog: appends one string to the newest entry.
    virtual void appendHistory(const std::string& /*text*/) {}

    // Automatic play: length in ms of the current voice, when one is recorded and exists.
    virtual std::optional<int64_t> currentVoiceLength() { return std::nullopt; }
    // Automatic play: max(glyphCount * 100, appearance delay) of the message object at layer
    // 100, when it exists.
    virtual std::optional<int64_t> messageDisplayTime() { return std::nullopt; }
    virtual bool anyVoicePlaying() { return false; }
    // True while the message text is still appearing (the guard period).
    virtual bool messageTextDrawing() { return false; }
    virtual void clearMessageTextGuard() {}

    // Read marks for a script: one byte per statement, owned by the read-text record; null
    // when the script has none.
    virtual uint8_t* readMarksFor(const std::string& /*name*/, size_t /*commandCount*/) {
        return nullptr;
    }
};

}  // namespace vaxo2::script
