#include "sound/volume.h"

#include <cmath>

namespace vaxo2::sound {

std::atomic<uint8_t>& volumeCurveFlag() {
    static std::atomic<uint8_t> flag{1};
    return flag;
}

std::optional<int32_t> attenuationFor(double linear, bool logarithmic) {
    if (!(linear > 0.0)) return kSilentAttenuation;  // 0, negative, NaN
    const double hundredths = logarithmic ? std::log10(linear * 10000.0) / 4.0 * 10000.0 - 10000.0
                                          : linear * 10000.0 - 10000.0;
    const double truncated = std::trunc(hundredths);
    if (truncated < kSilentAttenuation || truncated > kFullAttenuation) return std::nullopt;
    return static_cast<int32_t>(truncated);
}

float gainFor(int32_t hundredthsDb) {
    if (hundredthsDb <= kSilentAttenuation) return 0.0f;
    if (hundredthsDb >= 0) return 1.0f;
    return static_cast<float>(std::pow(10.0, hundredthsDb / 2000.0));
}

}  // namespace vaxo2::sound
