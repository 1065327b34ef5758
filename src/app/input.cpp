// Key routing, mouse motion and the keyboard's focus and inhibitor events.
#include <algorithm>

#include "app/controller.h"
#include "app/report.h"
#include "mode/labels.h"

// g++ 12 false positive on std::vector<std::variant> growth; see app.cpp.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

namespace tarvik {

void App::Controller::handle_key(const KeyEvent& event) {
  // While the lens waits for its capture the grid is not drawn, so only leaving is allowed.
  if (pending_capture_) {
    if (!event.released && (event.name == config_.bindings.grid.cancel || event.name == "q")) {
      cancel();
    }
    return;
  }

  bool discarded_animation = false;
  if (!event.released && animation_) {
    animation_.reset();
    discarded_animation = true;
  }

  Effects effects;
  std::optional<LensSnapshot> before;
  if (auto* session = grid_session()) {
    if (event.released) return;
    before = LensSnapshot{.previous_view = current_view(*session),
                          .current_view = std::nullopt,
                          .previous_levels = session->levels.size(),
                          .current_levels = 0};
    effects = handle_grid_key(*session, event.name, config_.bindings.grid, false);
  } else if (auto* state = mouse_state()) {
    effects = mouse_key_effects(*state, config_.bindings.mouse, event);
  } else if (std::holds_alternative<mode::Scroll>(mode_)) {
    effects = scroll_key_effects(config_.bindings.mouse, event);
  } else {
    return;
  }

  if (before) after_grid_key(*before);
  apply_effects(effects);

  const bool redrawn = std::any_of(effects.begin(), effects.end(), [](const Effect& effect) {
    return std::holds_alternative<effect::Redraw>(effect);
  });
  if (discarded_animation && !redrawn) redraw_or_cancel();

  start_motion_if_held();
}

void App::Controller::start_motion_if_held() {
  if (motion_timer_running_) return;
  const MouseState* state = mouse_state();
  if (!state || direction_vector(*state) == DirectionVector{}) return;
  motion_tick();
  // A failed move has ended the mode.
  if (!mouse_state()) return;
  if (auto scheduled = display_->schedule_timer(TimerKind::MotionTick, timer_epoch_,
                                                motion_tick_interval(config_.motion));
      !scheduled) {
    report_failure("cannot start motion timer: " + scheduled.error());
    cancel();
    return;
  }
  motion_timer_running_ = true;
}

void App::Controller::motion_tick() {
  const MouseState* state = mouse_state();
  if (!state) return;
  const DirectionVector direction = direction_vector(*state);
  if (direction == DirectionVector{}) {
    motion_clock_ = MotionClock{};
    return;
  }
  const double distance = advance_motion(motion_clock_, config_.motion, now());
  if (auto moved = display_->move_pointer(direction.dx * distance, direction.dy * distance);
      !moved) {
    report_failure(moved.error().message());
    cancel();
  }
}

void App::Controller::motion_timer_fired() {
  motion_tick();
  const MouseState* state = mouse_state();
  if (!state || direction_vector(*state) == DirectionVector{}) {
    motion_timer_running_ = false;
    return;
  }
  if (auto scheduled = display_->schedule_timer(TimerKind::MotionTick, timer_epoch_,
                                                motion_tick_interval(config_.motion));
      !scheduled) {
    report_failure("cannot start motion timer: " + scheduled.error());
    cancel();
  }
}

void App::Controller::on_timer(TimerKind kind, std::uint64_t token) {
  switch (kind) {
    case TimerKind::MotionTick:
      if (token == timer_epoch_ && motion_timer_running_) motion_timer_fired();
      return;
    case TimerKind::LensAnimationFrame:
      if (token == timer_epoch_ && animation_timer_running_) animation_timer_fired();
      return;
    case TimerKind::KeyboardFocusCheck:
      // The keyboard came back, the mode ended or a newer leave armed its own check.
      if (!keyboard_focused_ && token == mode_generation_ &&
          !std::holds_alternative<mode::Idle>(mode_)) {
        cancel();
      }
      return;
    case TimerKind::CaptureTimeout:
      if (pending_capture_ && pending_capture_->serial == token) {
        const std::string output = pending_capture_->output;
        capture_finished(output, token, std::unexpected(std::string("screen capture timed out")));
      }
      return;
  }
}

void App::Controller::keyboard_focus(bool focused) {
  // With preserve_focus the input-method grab holds the keys; overlay focus means nothing.
  if (config_.general.preserve_focus) return;
  keyboard_focused_ = focused;
  ++mode_generation_;
  if (focused || std::holds_alternative<mode::Idle>(mode_)) return;

  if (auto* state = mouse_state()) state->held_directions.clear();
  motion_clock_ = MotionClock{};
  if (auto scheduled =
          display_->schedule_timer(TimerKind::KeyboardFocusCheck, mode_generation_, kFocusGrace);
      !scheduled) {
    report_failure("cannot monitor keyboard focus: " + scheduled.error());
    cancel();
  }
}

void App::Controller::inhibitor_inactive() {
  if (config_.general.preserve_focus) return;
  if (auto* state = mouse_state()) {
    // The compositor's shortcuts act again, and may take the key releases with them: nothing
    // may stay pressed.
    Effects releases = release_effects(*state);
    motion_clock_ = MotionClock{};
    apply_effects(releases);
  }
  if (config_.general.require_shortcut_inhibit.value_or(true) &&
      !std::holds_alternative<mode::Idle>(mode_)) {
    cancel();
  }
}

}  // namespace tarvik
