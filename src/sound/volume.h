#pragma once
// Linear volumes (1.0 = full) and the attenuation in hundredths of a decibel that buffers take.
#include <atomic>
#include <cstdint>
#include <optional>

namespace vaxo2::sound {

constexpr int32_t kSilentAttenuation = -10000;  // hundredths of a dB: silence
constexpr int32_t kFullAttenuation = 0;

// Process-wide: 1 selects the logarithmic curve (the default), 0 the linear one. Nothing in the
// sound code changes it; a settings screen may.
std::atomic<uint8_t>& volumeCurveFlag();

// The attenuation for a linear volume:
//   0            -> -10000
//   logarithmic  -> trunc(log10(v * 10000) / 4 * 10000 - 10000)  (1.0 -> 0, 0.5 -> -752)
//   linear       -> trunc(v * 10000 - 10000)
// Nothing when the result lies outside -10000..0 (a buffer refuses it and keeps its volume):
// volumes below 0.0001 on the logarithmic curve, and volumes above 1.0. A negative volume (a
// fade that overshot zero) is silence.
std::optional<int32_t> attenuationFor(double linear, bool logarithmic);

// The amplitude factor of an attenuation: 10^(hundredths / 2000); 0 at -10000 and below.
float gainFor(int32_t hundredthsDb);

}  // namespace vaxo2::sound
