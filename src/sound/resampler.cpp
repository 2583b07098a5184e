#include "sound/resampler.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <mutex>
#include <utility>

namespace vaxo2::sound {

namespace {
constexpr uint32_t kPhases = 1024;
constexpr double kBeta = 9.0;
constexpr double kCutoff = 0.97;
constexpr uint32_t kHalfTapsAtUnitRatio = 16;
constexpr double kPi = 3.14159265358979323846;

double besselI0(double x) {
    double sum = 1.0, term = 1.0;
    for (int k = 1; k < 64; ++k) {
        const double f = x / (2.0 * k);
        term *= f * f;
        sum += term;
        if (term < sum * 1e-17) break;
    }
    return sum;
}
}  // namespace

// Rows of 2 * half coefficients for the fractions 0/1024 .. 1024/1024 of an input frame.
struct Resampler::Table {
    uint32_t half = 0;
    std::vector<float> rows;
};

namespace {

std::shared_ptr<const Resampler::Table> buildTable(uint32_t inRate, uint32_t outRate,
                                                   uint32_t half) {
    auto table = std::make_shared<Resampler::Table>();
    table->half = half;
    const uint32_t taps = 2 * half;
    table->rows.resize(static_cast<size_t>(kPhases + 1) * taps);
    // Lowering the rate moves the cutoff down to the output's Nyquist frequency.
    const double scale = inRate > outRate ? static_cast<double>(outRate) / inRate : 1.0;
    const double fc = kCutoff * scale;
    const double i0Beta = besselI0(kBeta);
    std::vector<double> row(taps);
    for (uint32_t p = 0; p <= kPhases; ++p) {
        const double f = static_cast<double>(p) / kPhases;
        double sum = 0.0;
        for (uint32_t k = 0; k < taps; ++k) {
            const double t = f - (static_cast<double>(k) - (half - 1));
            const double x = t / half;
            double window = 0.0;
            if (std::fabs(x) < 1.0) window = besselI0(kBeta * std::sqrt(1.0 - x * x)) / i0Beta;
            const double arg = kPi * fc * t;
            const double sinc = std::fabs(arg) < 1e-12 ? 1.0 : std::sin(arg) / arg;
            row[k] = fc * sinc * window;
            sum += row[k];
        }
        // Each phase passes a constant level unchanged.
        for (uint32_t k = 0; k < taps; ++k)
            table->rows[static_cast<size_t>(p) * taps + k] = static_cast<float>(row[k] / sum);
    }
    return table;
}

std::shared_ptr<const Resampler::Table> tableFor(uint32_t inRate, uint32_t outRate, uint32_t half) {
    static std::mutex mutex;
    static std::map<std::pair<uint32_t, uint32_t>, std::weak_ptr<const Resampler::Table>> cache;
    std::lock_guard lock(mutex);
    // Tables live while a resampler uses them; forget the ones nobody holds any more.
    std::erase_if(cache, [](const auto& entry) { return entry.second.expired(); });
    auto& slot = cache[{inRate, outRate}];
    if (auto shared = slot.lock()) return shared;
    auto table = buildTable(inRate, outRate, half);
    slot = table;
    return table;
}

}  // namespace

Resampler::Resampler(uint32_t inRate, uint32_t outRate)
    : inRate_(std::max<uint32_t>(inRate, 1)), outRate_(std::max<uint32_t>(outRate, 1)) {
    if (!passthrough()) {
        half_ = inRate_ > outRate_
                    ? static_cast<uint32_t>(
                          (uint64_t{kHalfTapsAtUnitRatio} * inRate_ + outRate_ - 1) / outRate_)
                    : kHalfTapsAtUnitRatio;
        table_ = tableFor(inRate_, outRate_, half_);
    }
    const uint64_t maxIn = (uint64_t{kMaxChunk} * inRate_ + outRate_ - 1) / outRate_ + 2;
    capacity_ = static_cast<uint32_t>((half_ - 1) + maxIn + half_ + 2 + maxIn);
    frames_.assign(static_cast<size_t>(capacity_) * 2, 0.0f);
    reset();
}

Resampler::~Resampler() = default;
Resampler::Resampler(Resampler&&) noexcept = default;
Resampler& Resampler::operator=(Resampler&&) noexcept = default;

void Resampler::reset() noexcept {
    // half - 1 frames of silence stand before input frame 0, so the first output is centred on it.
    std::fill(frames_.begin(), frames_.begin() + static_cast<ptrdiff_t>(half_ - 1) * 2, 0.0f);
    count_ = half_ - 1;
    pos_ = half_ - 1;
    frac_ = 0;
    dropped_ = 0;
}

uint32_t Resampler::inputNeeded(uint32_t outFrames) const noexcept {
    if (outFrames == 0) return 0;
    const uint64_t last = pos_ + (frac_ + uint64_t{outFrames - 1} * inRate_) / outRate_;
    const uint64_t need = last + half_ + 1;
    return need > count_ ? static_cast<uint32_t>(need - count_) : 0;
}

uint32_t Resampler::outputsAvailable(uint32_t limit) const noexcept {
    if (count_ < pos_ + half_ + 1) return 0;
    const uint64_t m = count_ - pos_ - half_ - 1;
    const uint64_t k = ((m + 1) * outRate_ - frac_ - 1) / inRate_ + 1;
    return static_cast<uint32_t>(std::min<uint64_t>(k, limit));
}

uint32_t Resampler::room() const noexcept {
    return capacity_ - count_;
}

void Resampler::push(const float* stereo, uint32_t frames) noexcept {
    frames = std::min(frames, room());
    std::memcpy(frames_.data() + static_cast<size_t>(count_) * 2, stereo,
                static_cast<size_t>(frames) * 2 * sizeof(float));
    count_ += frames;
}

void Resampler::produce(float* out, uint32_t outFrames) noexcept {
    outFrames = outputsAvailable(outFrames);
    const float* in = frames_.data();
    if (passthrough()) {
        std::memcpy(out, in + static_cast<size_t>(pos_) * 2,
                    static_cast<size_t>(outFrames) * 2 * sizeof(float));
        pos_ += outFrames;
    } else {
        const uint32_t taps = 2 * half_;
        const float* rows = table_->rows.data();
        for (uint32_t i = 0; i < outFrames; ++i) {
            const uint64_t scaled = frac_ * kPhases;
            const uint64_t phase = scaled / outRate_;
            const float w = static_cast<float>(scaled % outRate_) / static_cast<float>(outRate_);
            const float* row0 = rows + phase * taps;
            const float* row1 = row0 + taps;
            const float* x = in + static_cast<size_t>(pos_ - (half_ - 1)) * 2;
            float left = 0.0f, right = 0.0f;
            for (uint32_t k = 0; k < taps; ++k) {
                const float c = row0[k] + w * (row1[k] - row0[k]);
                left += x[2 * k] * c;
                right += x[2 * k + 1] * c;
            }
            out[2 * i] = left;
            out[2 * i + 1] = right;
            frac_ += inRate_;
            pos_ += static_cast<uint32_t>(frac_ / outRate_);
            frac_ %= outRate_;
        }
    }
    // Keep only the history the next output needs.
    const uint32_t keepFrom = pos_ - (half_ - 1);
    if (keepFrom > 0) {
        std::memmove(frames_.data(), frames_.data() + static_cast<size_t>(keepFrom) * 2,
                     static_cast<size_t>(count_ - keepFrom) * 2 * sizeof(float));
        count_ -= keepFrom;
        pos_ -= keepFrom;
        dropped_ += keepFrom;
    }
}

}  // namespace vaxo2::sound
