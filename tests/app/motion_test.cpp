#include "app/motion.h"

#include <gtest/gtest.h>

#include <cmath>

namespace tarvik {
namespace {

using std::chrono::milliseconds;
using Seconds = std::chrono::duration<double>;

// The default speed (60 to 1800 px/s at 1400 px/s², ease-in-out) during its first half, written
// out from the formula rather than taken from the code under test.
double default_speed_early(double t) {
  const double u = t * 1400.0 / 1740.0;
  return 60.0 + 1740.0 * 2.0 * u * u;
}

TEST(MotionCurve, EachCurveStartsAtZeroEndsAtOneAndBendsItsOwnWay) {
  struct Case {
    MotionCurve curve;
    double quarter;  // e(0.25)
    double three_quarters;  // e(0.75)
  };
  const Case cases[] = {
      {MotionCurve::Linear, 0.25, 0.75},
      {MotionCurve::EaseIn, 0.0625, 0.5625},
      {MotionCurve::EaseOut, 0.4375, 0.9375},
      {MotionCurve::EaseInOut, 0.125, 0.875},
  };
  for (const Case& c : cases) {
    const int id = static_cast<int>(c.curve);
    EXPECT_DOUBLE_EQ(curve_value(c.curve, 0.0), 0.0) << id;
    EXPECT_DOUBLE_EQ(curve_value(c.curve, 1.0), 1.0) << id;
    EXPECT_DOUBLE_EQ(curve_value(c.curve, 0.25), c.quarter) << id;
    EXPECT_DOUBLE_EQ(curve_value(c.curve, 0.75), c.three_quarters) << id;
  }
  // Both halves of ease-in-out meet in the middle.
  EXPECT_DOUBLE_EQ(curve_value(MotionCurve::EaseInOut, 0.5), 0.5);
  EXPECT_DOUBLE_EQ(curve_value(MotionCurve::EaseInOut, 0.4999999), 2 * 0.4999999 * 0.4999999);
}

TEST(MotionSpeed, GrowsFromInitialToMaxAlongTheCurve) {
  config::Motion motion;  // 60 to 1800 px/s at 1400 px/s², ease-in-out
  const double full = (1800.0 - 60.0) / 1400.0;  // about 1.24 s
  EXPECT_DOUBLE_EQ(motion_speed(motion, 0.0), 60.0);
  EXPECT_DOUBLE_EQ(motion_speed(motion, full / 2), 60.0 + 1740.0 * 0.5);
  EXPECT_DOUBLE_EQ(motion_speed(motion, full / 4), 60.0 + 1740.0 * 0.125);
  EXPECT_DOUBLE_EQ(motion_speed(motion, full), 1800.0);
  EXPECT_DOUBLE_EQ(motion_speed(motion, 10 * full), 1800.0);
  EXPECT_DOUBLE_EQ(motion_speed(motion, -1.0), 60.0);

  motion.curve = MotionCurve::Linear;
  EXPECT_DOUBLE_EQ(motion_speed(motion, full / 4), 60.0 + 1740.0 * 0.25);
}

TEST(MotionSpeed, StaysAtInitialSpeedWithoutAUsableRange) {
  struct Case {
    double initial, acceleration, max;
  };
  const Case cases[] = {
      {60, 0, 1800},      // no acceleration
      {60, 1400, 60},     // no range
      {500, 1400, 100},   // max below initial
      {60, -1400, 1800},  // a negative acceleration clamps to the start
  };
  for (const Case& c : cases) {
    config::Motion motion;
    motion.initial_speed = c.initial;
    motion.acceleration = c.acceleration;
    motion.max_speed = c.max;
    EXPECT_DOUBLE_EQ(motion_speed(motion, 0.7), c.initial)
        << c.initial << " " << c.acceleration << " " << c.max;
  }
}

TEST(AdvanceMotion, FirstStepIsOneNominalTickAtTheInitialSpeed) {
  config::Motion motion;
  MotionClock clock;
  const MotionInstant t0{std::chrono::seconds(5)};
  EXPECT_DOUBLE_EQ(advance_motion(clock, motion, t0), 0.5);  // 60 px/s over 1/120 s
  EXPECT_EQ(clock.start, t0);
  EXPECT_EQ(clock.last_tick, t0);

  motion.tick_hz = 30;
  MotionClock other;
  EXPECT_DOUBLE_EQ(advance_motion(other, motion, t0), 2.0);
}

TEST(AdvanceMotion, LaterStepsUseTheMeasuredTimeCappedAt50ms) {
  config::Motion motion;
  const MotionInstant t0{std::chrono::seconds(5)};
  struct Case {
    milliseconds gap;
    double expected_step;  // seconds
  };
  const Case cases[] = {
      {milliseconds(8), 0.008},
      {milliseconds(20), 0.020},
      {milliseconds(50), 0.050},
      {milliseconds(400), 0.050},  // a stalled loop does not jump
  };
  for (const Case& c : cases) {
    MotionClock clock;
    advance_motion(clock, motion, t0);
    const double d = advance_motion(clock, motion, t0 + c.gap);
    const double t = Seconds(c.gap).count();
    EXPECT_NEAR(d, c.expected_step * default_speed_early(t), 1e-9) << c.gap.count() << " ms";
  }
}

TEST(AdvanceMotion, AClockGoingBackwardsMovesNothing) {
  config::Motion motion;
  MotionClock clock;
  const MotionInstant t0{std::chrono::seconds(5)};
  advance_motion(clock, motion, t0);
  EXPECT_DOUBLE_EQ(advance_motion(clock, motion, t0 - milliseconds(10)), 0.0);
}

TEST(MotionTickInterval, IsOneOverTickHz) {
  config::Motion motion;
  EXPECT_EQ(motion_tick_interval(motion), std::chrono::nanoseconds(8333333));
  motion.tick_hz = 1000;
  EXPECT_EQ(motion_tick_interval(motion), milliseconds(1));
  motion.tick_hz = 0;  // never divides by zero
  EXPECT_EQ(motion_tick_interval(motion), std::chrono::seconds(1));
}

}  // namespace
}  // namespace tarvik
