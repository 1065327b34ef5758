#include "app/motion.h"

#include <algorithm>

namespace tarvik {
namespace {

using Seconds = std::chrono::duration<double>;

// Validation keeps tick_hz within 30 to 1000; a hand-built configuration must still not divide
// by zero.
double tick_hz(const config::Motion& motion) { return std::max<double>(motion.tick_hz, 1.0); }

}  // namespace

double curve_value(MotionCurve curve, double u) {
  switch (curve) {
    case MotionCurve::Linear:
      return u;
    case MotionCurve::EaseIn:
      return u * u;
    case MotionCurve::EaseOut:
      return 1.0 - (1.0 - u) * (1.0 - u);
    case MotionCurve::EaseInOut:
      if (u < 0.5) return 2.0 * u * u;
      return 1.0 - (2.0 - 2.0 * u) * (2.0 - 2.0 * u) / 2.0;
  }
  return u;
}

double motion_speed(const config::Motion& motion, double seconds) {
  const double range = motion.max_speed - motion.initial_speed;
  if (!(range > 0.0) || motion.acceleration == 0.0) return motion.initial_speed;
  const double u = std::clamp(seconds * motion.acceleration / range, 0.0, 1.0);
  return motion.initial_speed + range * curve_value(motion.curve, u);
}

double advance_motion(MotionClock& clock, const config::Motion& motion, MotionInstant now) {
  if (!clock.start) clock.start = now;
  const std::optional<MotionInstant> last = clock.last_tick;
  clock.last_tick = now;

  double step = 1.0 / tick_hz(motion);
  if (last) {
    const double measured = std::max(Seconds(now - *last).count(), 0.0);
    step = std::min(measured, Seconds(kMaxMotionStep).count());
  }
  const double elapsed = std::max(Seconds(now - *clock.start).count(), 0.0);
  return step * motion_speed(motion, elapsed);
}

std::chrono::nanoseconds motion_tick_interval(const config::Motion& motion) {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(Seconds(1.0 / tick_hz(motion)));
}

}  // namespace tarvik
