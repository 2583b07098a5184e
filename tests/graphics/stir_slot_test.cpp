#include "graphics/stir_slot.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace vaxo2::graphics {
namespace {

// A slot as GraphicSlot makes it: Loop 1 unless told otherwise.
StirSlot scriptSlot(int64_t time, Float3 position = {}) {
    StirSlot slot;
    slot.No = 1;
    slot.Loop = 1;
    slot.Time = time;
    slot.Position = position;
    return slot;
}

// Advances in frames of `step` ms until `elapsed` ms have passed.
void run(StirSlot& slot, int64_t elapsed, int64_t step = 16) {
    for (int64_t t = 0; t < elapsed; t += step) {
        slot.advance(std::min(step, elapsed - t));
    }
}

TEST(StirSlotEasing, DefaultGainsAreLinearAndClamped) {
    EXPECT_FLOAT_EQ(easeProgress(0.25, 1, 1), 0.25f);
    EXPECT_FLOAT_EQ(easeProgress(0.5, 1, 1), 0.5f);
    EXPECT_FLOAT_EQ(easeProgress(-0.5, 1, 1), 0.0f);
    EXPECT_FLOAT_EQ(easeProgress(1.5, 1, 1), 1.0f);
    // Slopes 0 and 0: a smoothstep, slow at both ends.
    EXPECT_NEAR(easeProgress(0.25, 0, 0), 0.15625f, 1e-6);
    EXPECT_FLOAT_EQ(easeProgress(0.5, std::nanf(""), 1), 0.0f);
}

TEST(StirSlotEasing, HermiteWithZeroTangentsEasesInAndOut) {
    const Float3 zero{0, 0, 0};
    const Float3 end{100, 200, -40};
    const Float3 quarter = hermite(zero, zero, end, zero, 0.25f);
    EXPECT_NEAR(quarter.x, 15.625f, 1e-4);
    EXPECT_NEAR(quarter.y, 31.25f, 1e-4);
    EXPECT_NEAR(quarter.z, -6.25f, 1e-4);
    const Float3 done = hermite(zero, zero, end, zero, 1.0f);
    EXPECT_FLOAT_EQ(done.x, 100.0f);
    // A start tangent pulls the path forward early on.
    const Float3 pushed = hermite(zero, Float3{400, 0, 0}, end, zero, 0.25f);
    EXPECT_GT(pushed.x, quarter.x);
}

TEST(StirSlotEasing, RollReductionKeepsSignAndFraction) {
    EXPECT_FLOAT_EQ(reduceRoll(2.5f), 0.5f);
    EXPECT_FLOAT_EQ(reduceRoll(3.5f), 1.5f);
    EXPECT_FLOAT_EQ(reduceRoll(-2.5f), -0.5f);
    EXPECT_FLOAT_EQ(reduceRoll(1.0f), 1.0f);
    EXPECT_FLOAT_EQ(reduceRoll(4.0f), 0.0f);
    EXPECT_TRUE(std::isfinite(reduceRoll(1e30f)));
}

TEST(StirSlotAdvance, QuarterOfAMoveIsAQuarterInTimeButEasedInPosition) {
    StirSlot slot = scriptSlot(1000, Float3{100, 40, 0});
    slot.Roll = 1.0f;
    slot.Transmittance = 0.8f;
    slot.Rate = 2.0f;
    run(slot, 250);
    EXPECT_EQ(slot.remaining, 750);
    EXPECT_EQ(slot.Loop, 0);
    const SlotValues v = slotValues(slot);
    EXPECT_NEAR(v.position.x, 15.625f, 1e-3);
    EXPECT_NEAR(v.position.y, 6.25f, 1e-3);
    EXPECT_NEAR(v.roll, 0.25f, 1e-6);
    EXPECT_NEAR(v.transmittance, 0.2f, 1e-6);
    EXPECT_NEAR(v.rate, 0.5f, 1e-6);
    run(slot, 750);
    EXPECT_TRUE(slot.finished());
    EXPECT_FLOAT_EQ(slotValues(slot).position.x, 100.0f);
    run(slot, 5000);
    EXPECT_TRUE(slot.finished());
    EXPECT_FLOAT_EQ(slotValues(slot).position.x, 100.0f);
}

TEST(StirSlotAdvance, ZeroTimesFinishAtTheFirstUpdate) {
    StirSlot slot = scriptSlot(0, Float3{10, 20, 0});
    slot.advance(0);
    EXPECT_TRUE(slot.finished());
    const SlotValues v = slotValues(slot);
    EXPECT_FLOAT_EQ(v.position.x, 10.0f);
    EXPECT_FLOAT_EQ(v.position.y, 20.0f);
}

TEST(StirSlotAdvance, StartDelayOnlyDelaysTheFirstCycle) {
    StirSlot slot = scriptSlot(1000, Float3{100, 0, 0});
    slot.Loop = 2;
    slot.StartDelay = 500;
    run(slot, 400);
    EXPECT_TRUE(slot.beforeMove());
    EXPECT_FLOAT_EQ(slotValues(slot).position.x, 0.0f);
    run(slot, 2099);
    EXPECT_FALSE(slot.finished());
    run(slot, 1);
    EXPECT_TRUE(slot.finished());  // 500 + 1000 + 1000 = 2500 ms in all
    EXPECT_EQ(slot.StartDelay, 0);
}

TEST(StirSlotAdvance, EndlessLoopRestartsFromNeutralAfterDelay) {
    StirSlot slot = scriptSlot(100, Float3{50, 0, 0});
    slot.Loop = -1;
    slot.Delay = 100;
    run(slot, 50, 50);
    for (int cycle = 0; cycle < 50; ++cycle) {
        // 50 ms into each 200 ms cycle: still in the Delay.
        EXPECT_TRUE(slot.beforeMove()) << cycle;
        EXPECT_FLOAT_EQ(slotValues(slot).position.x, 0.0f);
        run(slot, 100, 50);
        // 150 ms in: half-way through the move.
        EXPECT_FALSE(slot.beforeMove()) << cycle;
        EXPECT_NEAR(slotValues(slot).position.x, 25.0f, 1e-3) << cycle;
        EXPECT_FALSE(slot.finished());
        run(slot, 100, 50);
    }
    EXPECT_EQ(slot.Loop, -1);
}

TEST(StirSlotAdvance, AfterDelayHoldsTheEndValues) {
    StirSlot slot = scriptSlot(1000, Float3{100, 0, 0});
    slot.AfterDelay = 500;
    run(slot, 500);
    EXPECT_FLOAT_EQ(slotValues(slot).position.x, 0.0f);  // x is still below 0
    run(slot, 501);
    EXPECT_TRUE(slot.afterMove());
    EXPECT_FLOAT_EQ(slotValues(slot).position.x, 100.0f);
    run(slot, 499);
    EXPECT_TRUE(slot.finished());
    EXPECT_FLOAT_EQ(slotValues(slot).position.x, 100.0f);
}

TEST(StirSlotAdvance, TimeZeroWithDelayJumpsFromNeutralToTheEnd) {
    StirSlot slot = scriptSlot(0, Float3{30, 0, 0});
    slot.Delay = 200;
    slot.advance(16);
    EXPECT_TRUE(slot.beforeMove());
    EXPECT_FLOAT_EQ(slotValues(slot).position.x, 0.0f);
    run(slot, 184);
    EXPECT_FLOAT_EQ(slotValues(slot).position.x, 30.0f);
    EXPECT_TRUE(std::isfinite(slotValues(slot).position.x));
}

TEST(StirSlotAdvance, HugeStepsAndLoopsRunInConstantTime) {
    StirSlot endless = scriptSlot(3, Float3{1, 0, 0});
    endless.Loop = -1;
    endless.advance(int64_t{1} << 60);
    EXPECT_GE(endless.remaining, 0);
    EXPECT_LE(endless.remaining, 3);

    StirSlot many = scriptSlot(1);
    many.Loop = std::numeric_limits<int64_t>::max();
    many.advance(int64_t{1} << 40);
    EXPECT_EQ(many.remaining, 0);
    // One cycle per millisecond: exactly 2^40 cycles were used up.
    EXPECT_EQ(many.Loop, std::numeric_limits<int64_t>::max() - (int64_t{1} << 40));

    StirSlot few = scriptSlot(10);
    few.Loop = 3;
    few.advance(1000000);
    EXPECT_TRUE(few.finished());

    // A cycle that sums to nothing after the start delay cannot spin.
    StirSlot odd = scriptSlot(0);
    odd.Loop = -1;
    odd.StartDelay = 5;
    odd.advance(100);
    EXPECT_GE(odd.remaining, 0);

    // Negative and overflowing times do not wrap around into a hang.
    StirSlot negative = scriptSlot(-50);
    negative.advance(16);
    EXPECT_GE(negative.remaining, 0);
    StirSlot overflowing = scriptSlot(std::numeric_limits<int64_t>::max());
    overflowing.Delay = std::numeric_limits<int64_t>::max();
    overflowing.advance(16);
    EXPECT_GT(overflowing.remaining, 0);
}

TEST(SlotAccumulator, FoldsTransmittanceAndRate) {
    SlotAccumulator acc;
    StirSlot half;
    half.Transmittance = 0.5f;
    acc.apply(half);
    acc.apply(half);
    EXPECT_FLOAT_EQ(acc.transmittance, 1.0f);

    // Rate 0.5 adds to the base 1.0; a finished Rate of exactly 1.0 adds nothing.
    SlotAccumulator rates;
    StirSlot faster;
    faster.Rate = 0.5f;
    rates.apply(faster);
    EXPECT_FLOAT_EQ(rates.rate, 1.5f);
    StirSlot one;
    one.Rate = 1.0f;
    rates.apply(one);
    EXPECT_FLOAT_EQ(rates.rate, 1.5f);
}

TEST(SlotAccumulator, MovingRateOfOneSpeedsUpByItsProgress) {
    StirSlot slot = scriptSlot(1000);
    slot.Rate = 1.0f;
    run(slot, 500);
    SlotAccumulator acc;
    acc.apply(slot);
    EXPECT_NEAR(acc.rate, 1.5f, 1e-5);
}

Vec3 mapped(const SlotAccumulator& acc, Vec3 p) {
    return acc.matrix.transformPoint(p);
}

TEST(SlotAccumulator, HalfTurnAboutACentre) {
    StirSlot slot;
    slot.Roll = 1.0f;
    slot.RollCenter = Float3{100, 0, 0};
    SlotAccumulator acc;
    acc.apply(slot);
    const Vec3 centre = mapped(acc, Vec3{100, 0, 0});
    EXPECT_NEAR(centre.x, 100.0f, 1e-3);
    EXPECT_NEAR(centre.y, 0.0f, 1e-3);
    const Vec3 p = mapped(acc, Vec3{150, 10, 0});
    EXPECT_NEAR(p.x, 50.0f, 1e-3);
    EXPECT_NEAR(p.y, -10.0f, 1e-3);

    // 2.5 half turns end at a quarter turn: x axis onto y axis.
    StirSlot quarter;
    quarter.Roll = 2.5f;
    SlotAccumulator q;
    q.apply(quarter);
    const Vec3 r = mapped(q, Vec3{10, 0, 0});
    EXPECT_NEAR(std::fabs(r.x), 0.0f, 1e-3);
    EXPECT_NEAR(std::fabs(r.y), 10.0f, 1e-3);
}

TEST(SlotAccumulator, CompositionOrderMovesThenRotatesThenScales) {
    StirSlot slot;
    slot.Position = Float3{10, 0, 0};
    slot.Roll = 0.5f;  // quarter turn
    slot.Scale = Float3{2, 3, 1};
    SlotAccumulator acc;
    acc.apply(slot);
    // (0,0) -> moved (10,0) -> rotated (0,±10) -> scaled (0, ±30)
    const Vec3 p = mapped(acc, Vec3{0, 0, 0});
    EXPECT_NEAR(p.x, 0.0f, 1e-3);
    EXPECT_NEAR(std::fabs(p.y), 30.0f, 1e-3);

    // Slot 0 (folded first) acts last: base placement after a later slot's move.
    SlotAccumulator two;
    StirSlot base;
    base.Scale = Float3{2, 2, 1};
    StirSlot move;
    move.Position = Float3{5, 0, 0};
    two.apply(base);
    two.apply(move);
    EXPECT_NEAR(mapped(two, Vec3{0, 0, 0}).x, 10.0f, 1e-4);
}

TEST(SlotAccumulator, SingularMatrixAppliesBehind) {
    SlotAccumulator acc;
    StirSlot flat;
    flat.Scale = Float3{0, 1, 1};
    acc.apply(flat);
    StirSlot move;
    move.Position = Float3{7, 4, 0};
    acc.apply(move);
    // M is singular, so the move is applied after the flattening: x stays 7.
    const Vec3 p = mapped(acc, Vec3{100, 0, 0});
    EXPECT_NEAR(p.x, 7.0f, 1e-4);
    EXPECT_NEAR(p.y, 4.0f, 1e-4);
}

TEST(SlotAccumulator, NonFiniteValuesDoNotBreakTheFold) {
    StirSlot slot;
    slot.Roll = std::numeric_limits<float>::infinity();
    slot.Transmittance = std::nanf("");
    slot.Position = Float3{std::nanf(""), 0, 0};
    SlotAccumulator acc;
    acc.apply(slot);
    // The rate is untouched by the bad values; the matrix went non-finite but stayed 4x4.
    EXPECT_FLOAT_EQ(acc.rate, 1.0f);
    EXPECT_FALSE(std::isfinite(acc.matrix.m[3][0]));
}

}  // namespace
}  // namespace vaxo2::graphics
