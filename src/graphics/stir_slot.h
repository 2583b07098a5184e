#pragma once
// Animation slots: each describes one timed movement of an object from a neutral state to
// target values, with easing, delays and repetition. An object has no placement of its own;
// every frame its slots are advanced and folded, in slot-number order, into its local matrix,
// transmittance and time rate.
#include <cstdint>

#include "graphics/transform.h"
#include "queue/queued_command.h"

namespace vaxo2::graphics {

using Float3 = queue::Float3;

struct StirSlot {
    int64_t No = 0;
    int64_t remaining = 0;  // milliseconds left in the current cycle, counting down
    int64_t Time = 0;
    int64_t StartDelay = 0;
    int64_t Delay = 0;
    int64_t AfterDelay = 0;
    float TimeGainStart = 1.0f;
    float TimeGainEnd = 1.0f;
    int64_t Loop = 0;  // cycles still to start; negative repeats forever
    bool AutoDeleteFlag = false;
    Float3 Position{0, 0, 0};
    Float3 Scale{1, 1, 1};
    float Roll = 0.0f;  // half turns
    float Transmittance = 0.0f;
    float Rate = 0.0f;
    Float3 PositionCenter{0, 0, 0};
    Float3 ScaleCenter{0, 0, 0};
    Float3 RollCenter{0, 0, 0};
    Float3 RollAxis{0, 0, 1};
    Float3 PositionGainStart{0, 0, 0};
    Float3 PositionGainEnd{0, 0, 0};
    Float3 ScaleGainStart{0, 0, 0};
    Float3 ScaleGainEnd{0, 0, 0};

    // StartDelay + Delay + Time + AfterDelay, saturating instead of overflowing.
    int64_t total() const;
    bool finished() const { return Loop == 0 && remaining == 0; }
    bool beforeMove() const;
    bool afterMove() const { return remaining < AfterDelay; }

    // Advances by dt milliseconds (already scaled by the object's rate). Runs in constant time
    // whatever dt and Loop are.
    void advance(int64_t dt);
    // Jumps to the end: the end values apply and stay.
    void finish() {
        Loop = 0;
        remaining = 0;
    }
};

// The values a slot contributes at its current state.
struct SlotValues {
    Float3 position{0, 0, 0};
    Float3 scale{1, 1, 1};
    float roll = 0.0f;
    float transmittance = 0.0f;
    float rate = 0.0f;
};

// The eased progress for raw progress x with slopes a (start) and b (end), clamped to [0, 1]
// (a NaN gives 0).
float easeProgress(double x, float a, float b);
// Cubic Hermite between v1 and v2 with tangents t1 and t2.
Float3 hermite(const Float3& v1, const Float3& t1, const Float3& v2, const Float3& t2, float s);
// Roll reduced into (-2, 2) half turns, keeping sign and fraction.
float reduceRoll(float roll);

SlotValues slotValues(const StirSlot& slot);

// What one object's slots fold into during an update.
struct SlotAccumulator {
    Mat4 matrix = Mat4::identity();
    float transmittance = 0.0f;
    float rate = 1.0f;

    void apply(const StirSlot& slot);

  private:
    void applyInFront(const Mat4& local);
};

}  // namespace vaxo2::graphics
