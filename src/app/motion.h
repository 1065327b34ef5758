// Keyboard-driven pointer motion: the speed curve and the per-tick distance. The clock starts
// at the first tick with a direction held, so the speed grows from `initial_speed` while keys
// stay down and starts over once all are released.
#pragma once

#include <chrono>
#include <optional>

#include "config/config.h"

namespace tarvik {

using MotionInstant = std::chrono::steady_clock::time_point;

struct MotionClock {
  std::optional<MotionInstant> start;
  std::optional<MotionInstant> last_tick;
  bool operator==(const MotionClock&) const = default;
};

// The eased share e of the speed range reached at progress u (0 to 1).
double curve_value(MotionCurve curve, double u);

// Pixels per second after `seconds` of motion.
double motion_speed(const config::Motion& motion, double seconds);

// The ticks' longest step: a stalled loop must not turn into one long jump.
inline constexpr std::chrono::milliseconds kMaxMotionStep{50};

// Advances the clock to `now` and gives the distance of this tick in pixels along each held
// axis: the first tick moves one nominal tick (1 / tick_hz) at the initial speed, later ticks
// the time actually measured since the previous one, at most kMaxMotionStep.
double advance_motion(MotionClock& clock, const config::Motion& motion, MotionInstant now);

// The delay between motion timer firings.
std::chrono::nanoseconds motion_tick_interval(const config::Motion& motion);

}  // namespace tarvik
