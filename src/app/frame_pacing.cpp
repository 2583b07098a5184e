#include "app/frame_pacing.h"

namespace vaxo2::app {

uint32_t frameIntervalMs(float frameInterval) {
    if (!(frameInterval > 0.0f)) return 0;
    if (frameInterval >= 4294967295.0f) return 0xFFFFFFFFu;
    return static_cast<uint32_t>(frameInterval);
}

PacingStep nextPacingStep(uint32_t now, uint32_t last, uint32_t interval, bool flipSwap) {
    if (flipSwap) return {PacingStep::Kind::Yield, 0};
    const uint32_t elapsed = now - last;  // unsigned: survives the clock's wrap
    if (elapsed < interval) return {PacingStep::Kind::ShortWait, interval - elapsed};
    return {PacingStep::Kind::FullSleep, interval};
}

}  // namespace vaxo2::app
