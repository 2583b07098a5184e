#pragma once
// The runtime's command line and its timed input scripts.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/window.h"

namespace vaxo2::app {

struct TimedMessage {
    uint32_t at;  // milliseconds from the start of the run
    platform::WindowMessage message;
};

struct ScreenshotRequest {
    uint32_t at;
    std::string file;
};

struct RunOptions {
    std::string gameFolder;  // empty: the current folder
    bool headless = false;
    bool stepped = false;
    std::optional<uint32_t> exitAfter;
    std::vector<ScreenshotRequest> screenshots;
    // --dump-tree: the scene tree as JSON at those times (the first frame at or after each).
    std::vector<ScreenshotRequest> treeDumps;
    std::vector<TimedMessage> input;
    int clientWidth = 1280;
    int clientHeight = 720;
    bool showHelp = false;
    // Charset that stands for the system ANSI code page of the game's texts; empty: CP932.
    std::string codePage;
    // Load the script pre-converter libText2vxs.so from the game folder too (native code that
    // came with the game: off unless the player asks for it).
    bool gameConverter = false;
    // Draw every frame whole and present it even when nothing changed, and render a transition's
    // snapshot again every frame (for measuring what skipping unchanged pictures saves).
    bool redrawIdleFrames = false;
    // Write everything sent to the audio device into this WAV file; empty: no capture.
    std::string audioOut;
    // --trace: write a timeline of the run (start-up steps, every presented frame) here.
    std::string traceFile;
};

// An --input file larger than this is refused (it may be a pipe or a device that never ends).
inline constexpr size_t kMaxInputScriptBytes = size_t{16} << 20;

// Parses argv; on a mistake returns nullopt with `error` set.
std::optional<RunOptions> parseCommandLine(int argc, const char* const* argv, std::string& error);
extern const char* const kUsageText;

// Parses an input script: one event per line, "<ms> <event> <arguments>", '#' starts a comment.
// Events: move X Y | click X Y | rclick X Y | ldown X Y | lup X Y | rdown X Y | rup X Y |
// wheel DELTA [X Y] | key NAME | keydown NAME | keyup NAME | altkey NAME | close.
// A key NAME is a letter, a digit, RETURN, SPACE, ESCAPE, CONTROL, SHIFT, ALT, UP, DOWN, LEFT,
// RIGHT, PRIOR (PAGEUP), NEXT (PAGEDOWN), F1..F12, or a decimal virtual-key code (1 to 65535).
// Events come back sorted by time (stable for equal times).
std::optional<std::vector<TimedMessage>> parseInputScript(const std::string& text,
                                                          std::string& error);

}  // namespace vaxo2::app
