// The controller behind App: its state and every operation of it. Internal to src/app; the
// daemon and the backend see only App.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <variant>

#include "app/app.h"
#include "app/backend.h"
#include "app/motion.h"
#include "app/mouse_mode.h"
#include "config/config.h"
#include "mode/effect.h"
#include "mode/grid_session.h"
#include "render/held_capture.h"
#include "render/lens.h"
#include "render/text_renderer.h"

namespace tarvik {

namespace mode {
struct Idle {};
struct Grid {
  GridSession session;
};
struct Mouse {
  MouseState state;
};
// The scroll-only variant of mouse mode, entered through the grid action "scroll".
struct Scroll {
  MouseState state;
};
}  // namespace mode

using Mode = std::variant<mode::Idle, mode::Grid, mode::Mouse, mode::Scroll>;

// What the lens needs from before and after the key that changed the level stack.
struct LensSnapshot {
  std::optional<LensView> previous_view;  // displayed before the key
  std::optional<LensView> current_view;   // the current level's view after the key
  std::size_t previous_levels = 0;
  std::size_t current_levels = 0;
};

// A fresh screen capture awaited for the lens.
struct LensCaptureRequest {
  std::string output;
  std::uint64_t serial = 0;
  LensSnapshot snapshot;
};

// How long a lens capture may take before the session goes on without magnification.
inline constexpr std::chrono::seconds kCaptureTimeout{1};
// How long the overlay may be without the keyboard before the mode ends.
inline constexpr std::chrono::milliseconds kFocusGrace{50};

class App::Controller {
 public:
  Controller(std::unique_ptr<DisplayBackend> display, Config config,
             std::optional<std::string> config_path, TextRenderer text, MonotonicClock clock);

  std::expected<std::string, std::string> handle_command(const Command& command);
  void cancel();
  Status activate(Mode mode);
  void apply_effects(const Effects& effects);
  Status redraw();

  void handle_key(const KeyEvent& event);
  void capture_finished(const std::string& output, std::uint64_t serial,
                        std::expected<HeldCapture, std::string> result);
  void configured_redraw();
  void on_timer(TimerKind kind, std::uint64_t token);
  void keyboard_focus(bool focused);
  void inhibitor_inactive();

  ModeKind mode_kind() const;
  DisplayBackend& display() { return *display_; }
  const Config& config() const { return config_; }

 private:
  // Commands.
  Status focus_check();
  std::expected<std::string, std::string> reload();
  std::expected<std::string, std::string> grid(const GridOptions& options);
  std::expected<std::string, std::string> mouse();
  std::expected<std::string, std::string> click(PointerButton button);
  std::expected<std::string, std::string> scroll(ScrollDirection direction,
                                                 std::optional<double> step);

  std::expected<std::string, std::string> keyboard_output() const;
  Status apply_effect(const Effect& effect);
  double scroll_step(ScrollDirection direction) const;
  // A redraw outside a request: failures are printed and end the mode.
  void redraw_or_cancel();

  // Mouse motion.
  void start_motion_if_held();
  void motion_tick();
  void motion_timer_fired();

  // The lens.
  void after_grid_key(const LensSnapshot& before);
  void start_lens_animation(const LensSnapshot& snapshot);
  void animation_timer_fired();

  GridSession* grid_session();
  MouseState* mouse_state();
  std::chrono::steady_clock::time_point now() const { return clock_(); }

  std::unique_ptr<DisplayBackend> display_;
  Config config_;
  std::optional<std::string> config_path_;
  TextRenderer text_;
  MonotonicClock clock_;

  Mode mode_;
  std::string focused_output_;
  std::optional<GridPoint> pointer_target_;
  std::optional<LensCaptureRequest> pending_capture_;
  std::map<std::string, HeldCapture> held_captures_;
  std::optional<LensAnimation> animation_;
  MotionClock motion_clock_;

  // Counts cancels and keyboard enter and leave; the focus check's token.
  std::uint64_t mode_generation_ = 0;
  // Counts cancels only; the token of the motion and animation timers, which must die with
  // their mode but not with a brief loss of keyboard focus.
  std::uint64_t timer_epoch_ = 0;
  // Never reset, so that a result or timeout of an older capture can never match a newer one.
  std::uint64_t capture_serial_ = 0;
  bool animation_timer_running_ = false;
  bool motion_timer_running_ = false;
  bool keyboard_focused_ = false;
};

}  // namespace tarvik
