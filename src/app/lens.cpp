// The controller's side of the lens: the fresh capture a descent asks for, what its result (or
// its absence) does to the session, and the animation timer.
#include <chrono>

#include "app/controller.h"
#include "app/report.h"
#include "logging/log.h"

namespace tarvik {
namespace {

std::optional<std::uint64_t> output_area(const std::vector<OutputRecord>& outputs,
                                         const std::string& name) {
  for (const OutputRecord& output : outputs) {
    if (output.name == name) {
      return static_cast<std::uint64_t>(output.width) * static_cast<std::uint64_t>(output.height);
    }
  }
  return std::nullopt;
}

}  // namespace

void App::Controller::after_grid_key(const LensSnapshot& before) {
  GridSession* session = grid_session();
  if (!session) return;
  LensSnapshot snapshot = before;
  snapshot.current_levels = session->levels.size();
  snapshot.current_view = current_view(*session);
  if (snapshot.current_levels == snapshot.previous_levels) return;

  if (snapshot.current_levels > snapshot.previous_levels && snapshot.current_view &&
      display_->screen_capture_available()) {
    const std::uint64_t serial = ++capture_serial_;
    const std::string output = snapshot.current_view->output;
    pending_capture_ = LensCaptureRequest{output, serial, std::move(snapshot)};

    Status started = display_->request_capture(output, serial);
    if (started) started = display_->schedule_timer(TimerKind::CaptureTimeout, serial, kCaptureTimeout);
    if (!started) {
      TARVIK_LOG(Warn, "tarvik::app", "cannot refresh screenshot: {}", started.error());
      capture_finished(output, serial, std::unexpected(started.error()));
    }
    return;
  }
  start_lens_animation(snapshot);
}

void App::Controller::capture_finished(const std::string& output, std::uint64_t serial,
                                       std::expected<HeldCapture, std::string> result) {
  if (!pending_capture_ || pending_capture_->output != output ||
      pending_capture_->serial != serial) {
    return;
  }
  const LensSnapshot snapshot = std::move(pending_capture_->snapshot);
  pending_capture_.reset();
  held_captures_.clear();
  // Older captures still in flight can only be ignored when they arrive; stop them now.
  display_->cancel_captures();

  if (!result) {
    if (GridSession* session = grid_session()) drop_magnification(*session);
    animation_.reset();
    TARVIK_LOG(Warn, "tarvik::app", "fresh screenshot unavailable; continuing without magnification");
    redraw_or_cancel();
    return;
  }
  held_captures_.emplace(output, std::move(*result));
  start_lens_animation(snapshot);
  redraw_or_cancel();
}

void App::Controller::start_lens_animation(const LensSnapshot& snapshot) {
  const GridSession* session = grid_session();
  const std::optional<LensView> view = session ? current_view(*session) : std::nullopt;
  if (!view || config_.ui.lens_animation_ms == 0) {
    animation_.reset();
    return;
  }

  Rect start;
  if (snapshot.current_levels > snapshot.previous_levels) {
    // The selected cell as it was shown before the descent.
    start = map_through_view(snapshot.previous_view, view->source);
  } else {
    start = snapshot.previous_view ? snapshot.previous_view->lens : view->source;
  }
  if (start == view->lens) {
    animation_.reset();
    return;
  }

  const std::chrono::nanoseconds duration = std::chrono::milliseconds(config_.ui.lens_animation_ms);
  animation_ = LensAnimation{
      .output = view->output,
      .source = view->source,
      .target = view->lens,
      .start = start,
      .started_at = now(),
      .duration = duration,
      .frame_interval =
          lens_frame_interval(duration, output_area(display_->outputs(), view->output)),
  };

  // A running timer picks up the new interval when it re-arms.
  if (animation_timer_running_) return;
  if (auto scheduled = display_->schedule_timer(TimerKind::LensAnimationFrame, timer_epoch_,
                                                animation_->frame_interval);
      !scheduled) {
    report_failure("cannot animate refinement: " + scheduled.error());
    animation_.reset();
    return;
  }
  animation_timer_running_ = true;
}

void App::Controller::animation_timer_fired() {
  if (auto drawn = redraw(); !drawn) {
    report_failure("cannot redraw: " + drawn.error());
    cancel();
    return;
  }
  if (!animation_) {
    animation_timer_running_ = false;
    return;
  }
  if (auto scheduled = display_->schedule_timer(TimerKind::LensAnimationFrame, timer_epoch_,
                                                animation_->frame_interval);
      !scheduled) {
    report_failure("cannot animate refinement: " + scheduled.error());
    animation_.reset();
    animation_timer_running_ = false;
  }
}

}  // namespace tarvik
