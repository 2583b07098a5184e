#pragma once
// How long the render loop waits before the next frame. Kept apart from the loop so the
// arithmetic can be checked on its own.
#include <cstdint>

namespace vaxo2::app {

struct PacingStep {
    enum class Kind {
        Yield,      // flip-swap presentation: the swap paces; only yield
        ShortWait,  // the frame came early: wait out the rest, then T = the time read before it
        FullSleep,  // the frame was late: sleep a whole interval, then T = the time after it
    };
    Kind kind;
    uint32_t waitMs;
};

// The integer interval: truncated, so 16.666666 gives 16.
uint32_t frameIntervalMs(float frameInterval);

// `now` is N, `last` is T of the loop.
PacingStep nextPacingStep(uint32_t now, uint32_t last, uint32_t interval, bool flipSwap);

}  // namespace vaxo2::app
