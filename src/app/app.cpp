#include "app/app.h"

#include <malloc.h>

#include <algorithm>
#include <utility>
#include <vector>

#include <fmt/format.h>

#include "app/controller.h"
#include "app/report.h"
#include "logging/log.h"
#include "mode/grid_region.h"
#include "render/frame.h"

// g++ 12 reports -Wmaybe-uninitialized for std::vector<std::variant> copies and growth (a known
// false positive in the variant move constructor); the effect lists handled here trip it.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

namespace tarvik {
namespace {

template <class... Ts>
struct Overloaded : Ts... {
  using Ts::operator()...;
};

bool inhibition_required(const Config& config) {
  return !config.general.preserve_focus && config.general.require_shortcut_inhibit.value_or(true);
}

Status check_inhibition(const Config& config, const DisplayBackend& display) {
  if (inhibition_required(config) && !display.shortcut_inhibition_available()) {
    return std::unexpected(std::string("required keyboard shortcut inhibition is unavailable"));
  }
  return {};
}

std::expected<TextRenderer, std::string> build_text_renderer(const config::Ui& ui) {
  auto loaded = load_text_renderer(ui);
  if (!loaded) return std::unexpected(loaded.error().message());
  if (loaded->warning) report_failure(*loaded->warning);
  return std::move(loaded->renderer);
}

}  // namespace

// ---- App -------------------------------------------------------------------------------------

std::expected<std::unique_ptr<App>, std::string> App::create(
    std::unique_ptr<DisplayBackend> display, Config config,
    std::optional<std::string> config_path, MonotonicClock clock) {
  if (auto ok = check_inhibition(config, *display); !ok) return std::unexpected(ok.error());
  auto text = build_text_renderer(config.ui);
  if (!text) return std::unexpected(text.error());
  if (!clock) clock = [] { return std::chrono::steady_clock::now(); };

  auto controller =
      std::make_unique<Controller>(std::move(display), std::move(config), std::move(config_path),
                                   std::move(*text), std::move(clock));
  std::unique_ptr<App> app(new App(std::move(controller)));
  app->controller_->display().set_events(app.get());
  return app;
}

App::App(std::unique_ptr<Controller> controller) : controller_(std::move(controller)) {}
App::~App() = default;

std::expected<std::string, std::string> App::handle_command(const Command& command) {
  return controller_->handle_command(command);
}
void App::cancel() { controller_->cancel(); }
void App::on_key(const KeyEvent& event) { controller_->handle_key(event); }
void App::on_capture(const std::string& output, std::uint64_t serial,
                     std::expected<HeldCapture, std::string> result) {
  controller_->capture_finished(output, serial, std::move(result));
}
void App::on_configured_redraw() { controller_->configured_redraw(); }
void App::on_cancel() { controller_->cancel(); }
void App::on_timer(TimerKind kind, std::uint64_t token) { controller_->on_timer(kind, token); }
void App::on_keyboard_focus(bool focused) { controller_->keyboard_focus(focused); }
void App::on_inhibitor_inactive() { controller_->inhibitor_inactive(); }
ModeKind App::mode() const { return controller_->mode_kind(); }
DisplayBackend& App::display() { return controller_->display(); }
const Config& App::config() const { return controller_->config(); }

// ---- Controller: state and commands ----------------------------------------------------------

App::Controller::Controller(std::unique_ptr<DisplayBackend> display, Config config,
                            std::optional<std::string> config_path, TextRenderer text,
                            MonotonicClock clock)
    : display_(std::move(display)),
      config_(std::move(config)),
      config_path_(std::move(config_path)),
      text_(std::move(text)),
      clock_(std::move(clock)) {}

ModeKind App::Controller::mode_kind() const {
  return std::visit(Overloaded{[](const mode::Idle&) { return ModeKind::Idle; },
                               [](const mode::Grid&) { return ModeKind::Grid; },
                               [](const mode::Mouse&) { return ModeKind::Mouse; },
                               [](const mode::Scroll&) { return ModeKind::Scroll; }},
                    mode_);
}

GridSession* App::Controller::grid_session() {
  auto* grid = std::get_if<mode::Grid>(&mode_);
  return grid ? &grid->session : nullptr;
}

MouseState* App::Controller::mouse_state() {
  auto* mouse = std::get_if<mode::Mouse>(&mode_);
  return mouse ? &mouse->state : nullptr;
}

std::expected<std::string, std::string> App::Controller::handle_command(const Command& command) {
  return std::visit(
      Overloaded{
          [](const command::Daemon&) -> std::expected<std::string, std::string> {
            return std::unexpected(std::string("daemon requests cannot be nested"));
          },
          [this](const command::Reload&) { return reload(); },
          [this](const command::Cancel&) -> std::expected<std::string, std::string> {
            cancel();
            return std::string("cancelled");
          },
          [this](const command::Grid& grid_command) { return grid(grid_command.options); },
          [this](const command::Mouse&) { return mouse(); },
          [this](const command::Click& click_command) { return click(click_command.button); },
          [this](const command::Scroll& scroll_command) {
            return scroll(scroll_command.direction, scroll_command.step);
          },
      },
      command);
}

Status App::Controller::focus_check() {
  auto focused = display_->compositor().focused_output();
  if (!focused) return std::unexpected(focused.error().message());
  // No name: the compositor could not tell, so the last known output stays.
  if (!*focused) return {};
  const std::string& name = **focused;
  const auto& outputs = display_->outputs();
  const bool active = std::any_of(outputs.begin(), outputs.end(),
                                  [&](const OutputRecord& output) { return output.name == name; });
  if (!active) return std::unexpected(fmt::format("focused output {} is not active", name));
  focused_output_ = name;
  return {};
}

std::expected<std::string, std::string> App::Controller::reload() {
  auto loaded = load_config(config_path_);
  if (!loaded) return std::unexpected(loaded.error().message());
  if (auto ok = check_inhibition(*loaded, *display_); !ok) return std::unexpected(ok.error());
  auto text = build_text_renderer(loaded->ui);
  if (!text) return std::unexpected(text.error());

  // The keyboard is captured one way or the other depending on preserve_focus; a running mode
  // cannot switch, so it ends.
  if (loaded->general.preserve_focus != config_.general.preserve_focus) cancel();
  config_ = std::move(*loaded);
  text_ = std::move(*text);
  if (auto drawn = redraw(); !drawn) return std::unexpected(drawn.error());
  return std::string("configuration reloaded");
}

std::expected<std::string, std::string> App::Controller::grid(const GridOptions& options) {
  if (auto ok = focus_check(); !ok) return std::unexpected(ok.error());

  std::vector<GridRegion> regions;
  for (const OutputRecord& output : display_->outputs()) {
    regions.push_back(GridRegion{output.name, 0, 0, static_cast<std::uint32_t>(output.width),
                                 static_cast<std::uint32_t>(output.height)});
  }

  std::vector<GridRegion> chosen;
  if (options.output) {
    for (const GridRegion& region : regions) {
      if (region.output == *options.output) chosen.push_back(region);
    }
    if (chosen.empty()) {
      return std::unexpected(fmt::format("output {} is not active", quoted_name(*options.output)));
    }
    // Output names are unique in the list; keep one region even if the backend repeated one.
    chosen.resize(1);
  } else {
    const OutputScope scope = options.scope.value_or(config_.general.scope);
    for (const GridRegion& region : regions) {
      if (scope == OutputScope::All ||
          (!focused_output_.empty() && region.output == focused_output_)) {
        chosen.push_back(region);
      }
    }
  }

  auto session =
      start_grid_session(chosen, config_, options, display_->screen_capture_available());
  if (!session) return std::unexpected(session.error().message());

  pointer_target_.reset();
  if (auto ok = activate(mode::Grid{std::move(*session)}); !ok) return std::unexpected(ok.error());
  if (auto drawn = redraw(); !drawn) return std::unexpected(drawn.error());
  return std::string("grid active");
}

std::expected<std::string, std::string> App::Controller::mouse() {
  if (auto ok = focus_check(); !ok) return std::unexpected(ok.error());
  pointer_target_.reset();
  if (auto ok = activate(mode::Mouse{}); !ok) return std::unexpected(ok.error());
  if (auto drawn = redraw(); !drawn) return std::unexpected(drawn.error());
  return std::string("mouse mode active");
}

std::expected<std::string, std::string> App::Controller::click(PointerButton button) {
  if (auto ok = focus_check(); !ok) return std::unexpected(ok.error());
  cancel();
  if (auto clicked = display_->click(button); !clicked) {
    return std::unexpected(clicked.error().message());
  }
  return std::string("clicked");
}

std::expected<std::string, std::string> App::Controller::scroll(ScrollDirection direction,
                                                                std::optional<double> step) {
  if (auto ok = focus_check(); !ok) return std::unexpected(ok.error());
  cancel();
  const double amount = step.value_or(scroll_step(direction));
  if (config_.scroll.target == ScrollTarget::FocusedWindow) {
    // The cursor command must see the window layout the compositor has after every request
    // already sent.
    if (auto synced = display_->roundtrip(); !synced) return std::unexpected(synced.error());
    if (auto moved = display_->compositor().pointer_to_focused_window(display_->seat_name());
        !moved) {
      return std::unexpected(moved.error().message());
    }
  }
  if (auto scrolled = display_->scroll(direction, amount); !scrolled) {
    return std::unexpected(scrolled.error().message());
  }
  return std::string("scrolled");
}

double App::Controller::scroll_step(ScrollDirection direction) const {
  const bool vertical = direction == ScrollDirection::Up || direction == ScrollDirection::Down;
  return vertical ? config_.scroll.vertical_step : config_.scroll.horizontal_step;
}

// ---- Controller: mode changes ----------------------------------------------------------------

void App::Controller::cancel() {
  ++mode_generation_;
  ++timer_epoch_;
  // Timers already scheduled stay in the loop but carry the old epoch, so nothing is running.
  motion_timer_running_ = false;
  animation_timer_running_ = false;

  pending_capture_.reset();
  display_->cancel_captures();
  held_captures_.clear();
  animation_.reset();
  motion_clock_ = MotionClock{};

  Mode old = std::exchange(mode_, Mode{mode::Idle{}});
  if (auto* mouse = std::get_if<mode::Mouse>(&old)) {
    for (const Effect& release : release_effects(mouse->state)) {
      const auto& button = std::get<effect::SetButton>(release);
      if (auto released = display_->set_button(button.button, true); !released) {
        report_failure("cannot release mouse button: " + released.error().message());
      }
    }
  }

  const bool left_a_mode = !std::holds_alternative<mode::Idle>(old);
  old = Mode{mode::Idle{}};

  display_->increment_input_generation();
  display_->release_keyboard();
  if (auto parked = display_->park_overlays(); !parked) {
    report_failure("cannot park overlays: " + parked.error());
  }
  // Large frames and sessions are freed by now; without a trim the allocator keeps their pages
  // resident for as long as the daemon idles.
  if (left_a_mode) malloc_trim(0);
}

std::expected<std::string, std::string> App::Controller::keyboard_output() const {
  const auto& overlays = display_->overlays();
  const auto has_overlay = [&](const std::string& name) {
    return std::any_of(overlays.begin(), overlays.end(),
                       [&](const Overlay& overlay) { return overlay.name == name; });
  };
  const GridSession* session = nullptr;
  if (const auto* grid = std::get_if<mode::Grid>(&mode_)) session = &grid->session;

  std::optional<std::string> first;
  for (const OutputRecord& output : display_->outputs()) {
    if (!has_overlay(output.name)) continue;
    bool candidate = false;
    if (session) {
      const auto& cells = current_level(*session).cells;
      candidate = std::any_of(cells.begin(), cells.end(),
                              [&](const GridCell& cell) { return cell.output == output.name; });
    } else {
      candidate = output.name == focused_output_;
    }
    if (!candidate) continue;
    if (output.name == focused_output_) return output.name;
    if (!first) first = output.name;
  }
  if (first) return *first;
  return std::unexpected(std::string("no configured output is available for keyboard input"));
}

Status App::Controller::activate(Mode mode) {
  cancel();
  mode_ = std::move(mode);
  // On failure the new mode stays installed: the caller's failure path cancels it.
  auto output = keyboard_output();
  if (!output) return std::unexpected(output.error());
  return display_->capture_keyboard(*output, config_.general.preserve_focus);
}

Status App::Controller::apply_effect(const Effect& effect) {
  return std::visit(
      Overloaded{
          [this](const effect::Redraw&) { return redraw(); },
          [this](const effect::MoveTo& move) -> Status {
            const auto& outputs = display_->outputs();
            const auto output =
                std::find_if(outputs.begin(), outputs.end(),
                             [&](const OutputRecord& record) { return record.name == move.output; });
            if (output == outputs.end()) {
              return std::unexpected(
                  PointerError{PointerError::Kind::MissingOutput, move.output}.message());
            }
            const std::int64_t x = std::int64_t{output->x} + std::int64_t{move.x};
            const std::int64_t y = std::int64_t{output->y} + std::int64_t{move.y};
            if (auto warped = display_->compositor().cursor_set(display_->seat_name(), x, y);
                !warped) {
              return std::unexpected(warped.error().message());
            }
            pointer_target_ = GridPoint{move.output, move.x, move.y};
            return {};
          },
          [this](const effect::Click& click) -> Status {
            if (auto done = display_->click(click.button); !done) {
              return std::unexpected(done.error().message());
            }
            return {};
          },
          [this](const effect::DoubleClick& click) -> Status {
            for (int i = 0; i < 2; ++i) {
              if (auto done = display_->click(click.button); !done) {
                return std::unexpected(done.error().message());
              }
            }
            return {};
          },
          [this](const effect::SetButton& set) -> Status {
            if (auto done = display_->set_button(set.button, set.release); !done) {
              return std::unexpected(done.error().message());
            }
            return {};
          },
          [this](const effect::Scroll& scroll) -> Status {
            if (auto done = display_->scroll(scroll.direction, scroll_step(scroll.direction));
                !done) {
              return std::unexpected(done.error().message());
            }
            return {};
          },
          [this](const effect::EnterMouse&) -> Status {
            if (auto ok = activate(mode::Mouse{}); !ok) return ok;
            return redraw();
          },
          [this](const effect::EnterScroll&) -> Status {
            if (auto ok = activate(mode::Scroll{}); !ok) return ok;
            return redraw();
          },
          [this](const effect::Exit&) -> Status {
            cancel();
            return {};
          },
      },
      effect);
}

void App::Controller::apply_effects(const Effects& effects) {
  for (const Effect& effect : effects) {
    if (auto done = apply_effect(effect); !done) {
      report_failure(done.error());
      cancel();
      return;
    }
  }
}

// ---- Controller: drawing ---------------------------------------------------------------------

Status App::Controller::redraw() {
  if (std::holds_alternative<mode::Idle>(mode_)) return {};

  FrameInput input{.config = config_,
                   .outputs = display_->outputs(),
                   .overlays = display_->overlays(),
                   .session = nullptr,
                   .capture_pending = false,
                   .animation = std::nullopt,
                   .capture = nullptr,
                   .capture_output = {},
                   .mouse = std::nullopt,
                   .pointer_target = pointer_target_,
                   .focused_output = focused_output_};

  if (auto* session = grid_session()) {
    input.session = session;
    input.capture_pending = pending_capture_.has_value();
    if (animation_) {
      auto frame = animation_step(*animation_, current_view(*session), now());
      // A finished animation, or one whose view is gone, is dropped: the current view shows.
      if (!frame || frame->finished) {
        animation_.reset();
      } else {
        input.animation = std::move(*frame);
      }
    }
    if (!held_captures_.empty()) {
      input.capture = &held_captures_.begin()->second;
      input.capture_output = held_captures_.begin()->first;
    }
  } else if (const auto* mouse = std::get_if<mode::Mouse>(&mode_)) {
    input.mouse = MouseFrameState{false, MouseLockState{mouse->state.locked, mouse->state.lock_armed}};
  } else if (std::holds_alternative<mode::Scroll>(mode_)) {
    input.mouse = MouseFrameState{true, MouseLockState{}};
  }

  const FramePlan plan = plan_frames(input);
  // A size no canvas can have fails the redraw before any output shows a new frame.
  for (const PlannedFrame& frame : plan.frames) {
    if (auto size = Canvas::check_size(frame.width, frame.height); !size) {
      return std::unexpected(size.error().message());
    }
  }
  // Each frame is drawn straight into the buffer it is shown from: at large sizes copying a
  // finished frame there costs as much as a good part of drawing it.
  for (const PlannedFrame& frame : plan.frames) {
    auto target = display_->frame_target(frame.output->name, frame.width, frame.height);
    if (!target) return std::unexpected(target.error());
    {
      auto canvas = Canvas::wrap(target->pixels, frame.width, frame.height, frame.start);
      if (!canvas) return std::unexpected(canvas.error().message());
      draw_frame(text_, input, plan, frame, *canvas);
    }
    if (auto shown = display_->present_frame(std::move(*target)); !shown) return shown;
  }
  return {};
}

void App::Controller::redraw_or_cancel() {
  if (auto drawn = redraw(); !drawn) {
    report_failure("cannot redraw: " + drawn.error());
    cancel();
  }
}

void App::Controller::configured_redraw() {
  if (auto drawn = redraw(); !drawn) {
    TARVIK_LOG(Error, "tarvik::wayland", "cannot redraw configured output: {}", drawn.error());
    cancel();
  }
}

}  // namespace tarvik
