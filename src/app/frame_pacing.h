#pragma once
// How long the render loop waits before the next frame. Kept apart from the loop so the
// arithmetic can be checked on its own.
#include <cstdint>

namespace vaxo2::app {

struct PacingStep {
    enum class Kind {
        Yield,      // flip-swap presentation: the swap paces; only yield
        ShortWait,  // the frame came early: wait out the rest, then T = N + the wait
        FullSleep,  // the frame was late: sleep a whole interval, then T = the time after it
    };
    Kind kind;
    uint32_t waitMs;
};

// The integer interval: truncated, so 16.666666 gives 16.
uint32_t frameIntervalMs(float frameInterval);

// `now` is N, `last` is T of the loop.
PacingStep nextPacingStep(uint32_t now, uint32_t last, uint32_t interval, bool flipSwap);

// T for the next pass after an early frame's wait. It is the moment the wait ends, not the time
// read before it: with the earlier reading a quick frame step left T a whole wait behind, the
// next pass then waited only the remainder, and the loop settled at two frames per interval.
inline uint32_t timeAfterShortWait(uint32_t now, const PacingStep& step) {
    return now + step.waitMs;
}

}  // namespace vaxo2::app
