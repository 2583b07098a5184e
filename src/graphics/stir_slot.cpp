#include "graphics/stir_slot.h"

#include <cmath>
#include <limits>

namespace vaxo2::graphics {

namespace {

int64_t saturatingAdd(int64_t a, int64_t b) {
    int64_t out = 0;
    if (__builtin_add_overflow(a, b, &out)) {
        return b > 0 ? std::numeric_limits<int64_t>::max() : std::numeric_limits<int64_t>::min();
    }
    return out;
}

bool isNeutralScale(const Float3& s) {
    return s.x == 1.0f && s.y == 1.0f && s.z == 1.0f;
}
bool isZero(const Float3& v) {
    return v.x == 0.0f && v.y == 0.0f && v.z == 0.0f;
}
Vec3 toVec(const Float3& v) {
    return Vec3{v.x, v.y, v.z};
}
Vec3 negated(const Float3& v) {
    return Vec3{-v.x, -v.y, -v.z};
}

}  // namespace

int64_t StirSlot::total() const {
    return saturatingAdd(saturatingAdd(StartDelay, Delay), saturatingAdd(Time, AfterDelay));
}

bool StirSlot::beforeMove() const {
    return !finished() && remaining > saturatingAdd(Time, AfterDelay);
}

void StirSlot::advance(int64_t dt) {
    if (finished()) {
        return;
    }
    const int64_t first = total();
    if (first == 0) {
        finish();
        return;
    }
    remaining = saturatingAdd(remaining, dt == std::numeric_limits<int64_t>::min()
                                             ? std::numeric_limits<int64_t>::max()
                                             : -dt);
    if (remaining >= 0) {
        return;
    }
    // A cycle of no length (or of negative length, from odd script values) can never bring
    // remaining back up: end there instead of spinning.
    auto wrapOnce = [this](int64_t cycle) {
        remaining = saturatingAdd(remaining, cycle);
        StartDelay = 0;
        if (Loop > 0) {
            --Loop;
        } else if (Loop == 0) {
            remaining = 0;
        }
    };
    if (first < 0) {
        Loop = Loop < 0 ? Loop : 0;
        remaining = 0;
        return;
    }
    wrapOnce(first);
    if (remaining >= 0) {
        return;
    }
    const int64_t cycle = saturatingAdd(Delay, saturatingAdd(Time, AfterDelay));
    if (cycle <= 0) {
        if (Loop >= 0) {
            Loop = 0;
        }
        remaining = 0;
        return;
    }
    // The remaining wraps all add `cycle`: count them instead of looping, so a long frame
    // (or a huge rate) costs nothing extra.
    int64_t wrapped = remaining % cycle;
    if (wrapped < 0) {
        wrapped += cycle;
    }
    // Number of whole cycles needed to lift remaining to `wrapped`; at least 1 here.
    const int64_t wraps = (wrapped - remaining) / cycle;
    if (Loop < 0) {
        remaining = wrapped;
    } else if (wraps <= Loop) {
        Loop -= wraps;
        remaining = wrapped;
    } else {
        finish();
    }
}

float easeProgress(double x, float a, float b) {
    const double A = a;
    const double B = b;
    const double f = (A - 2.0 + B) * x * x * x + (3.0 - 2.0 * A - B) * x * x + A * x;
    if (f >= 1.0) {
        return 1.0f;
    }
    if (f >= 0.0) {
        return static_cast<float>(f);
    }
    return 0.0f;  // below 0, or NaN
}

Float3 hermite(const Float3& v1, const Float3& t1, const Float3& v2, const Float3& t2, float s) {
    const float s2 = s * s;
    const float s3 = s2 * s;
    const float h1 = 2 * s3 - 3 * s2 + 1;
    const float h2 = s3 - 2 * s2 + s;
    const float h3 = -2 * s3 + 3 * s2;
    const float h4 = s3 - s2;
    return Float3{h1 * v1.x + h2 * t1.x + h3 * v2.x + h4 * t2.x,
                  h1 * v1.y + h2 * t1.y + h3 * v2.y + h4 * t2.y,
                  h1 * v1.z + h2 * t1.z + h3 * v2.z + h4 * t2.z};
}

float reduceRoll(float roll) {
    // Same as roll - 2 * (trunc(roll) / 2) with integer division, without the integer overflow
    // a huge roll would cause.
    return std::fmod(roll, 2.0f);
}

SlotValues slotValues(const StirSlot& slot) {
    SlotValues v;
    if (slot.beforeMove()) {
        v.scale = Float3{1, 1, 1};
        return v;
    }
    if (slot.finished() || slot.afterMove() || slot.Time == 0) {
        // Time 0 never moves: it jumps to the end values (and avoids 0 / 0).
        v.position = slot.Position;
        v.scale = slot.Scale;
        v.roll = slot.Roll;
        v.transmittance = slot.Transmittance;
        v.rate = slot.Rate;
        return v;
    }
    const double x =
        static_cast<double>(slot.Time - slot.remaining) / static_cast<double>(slot.Time);
    const float t = easeProgress(x, slot.TimeGainStart, slot.TimeGainEnd);
    v.position =
        hermite(Float3{0, 0, 0}, slot.PositionGainStart, slot.Position, slot.PositionGainEnd, t);
    v.scale = hermite(Float3{1, 1, 1}, slot.ScaleGainStart, slot.Scale, slot.ScaleGainEnd, t);
    v.roll = slot.Roll * t;
    v.transmittance = slot.Transmittance * t;
    v.rate = slot.Rate * t;
    return v;
}

void SlotAccumulator::applyInFront(const Mat4& local) {
    Mat4 inverse;
    if (matrix.inverse(inverse)) {
        matrix = local * matrix;
    } else {
        matrix = matrix * local;
    }
}

void SlotAccumulator::apply(const StirSlot& slot) {
    const SlotValues v = slotValues(slot);
    if (!isNeutralScale(v.scale)) {
        applyInFront(Mat4::translation(negated(slot.ScaleCenter)) * Mat4::scaling(toVec(v.scale)) *
                     Mat4::translation(toVec(slot.ScaleCenter)));
    }
    if (v.roll != 0.0f) {
        const float roll = reduceRoll(v.roll);
        applyInFront(Mat4::translation(negated(slot.RollCenter)) *
                     Mat4::rotationAxis(toVec(slot.RollAxis), roll * 3.1415927f) *
                     Mat4::translation(toVec(slot.RollCenter)));
    }
    if (!isZero(v.position)) {
        applyInFront(Mat4::translation(toVec(v.position)));
    }
    if (v.transmittance != 0.0f) {
        transmittance += v.transmittance;
    }
    if (v.rate != 1.0f) {
        rate += v.rate;
    }
}

}  // namespace vaxo2::graphics
