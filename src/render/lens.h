// The lens of a refined level: the magnified screen image cut from a held capture, and the
// steps of the animation that opens (or moves) the lens.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "mode/grid_session.h"
#include "mode/rect.h"
#include "render/canvas.h"
#include "render/held_capture.h"

namespace tarvik {

// The lens growing from `start` to `target` over `duration`; `source` is copied, not animated.
struct LensAnimation {
  std::string output;
  Rect source;
  Rect target;
  Rect start;
  std::chrono::steady_clock::time_point started_at;
  std::chrono::nanoseconds duration{0};
  std::chrono::nanoseconds frame_interval{0};
};

// One frame of the animation: the view to display and the eased progress t in [0, 1].
struct AnimationFrame {
  LensView view;
  float progress = 1.0f;
  bool finished = false;  // the caller drops the animation; the frame is drawn at progress 1
};

// The animation's state at `now`, or nothing when it no longer applies because the current
// level's view is not the one it animates to (the caller then drops it). Ease-out cubic.
std::optional<AnimationFrame> animation_step(const LensAnimation& animation,
                                             const std::optional<LensView>& current_view,
                                             std::chrono::steady_clock::time_point now);

// Frames of an animation on an output of `area` logical pixels (unknown output: 8): 8 up to
// 2560 x 1440, 6 up to 3840 x 2160, else 4, because each frame is a full software redraw.
unsigned lens_frame_count(std::optional<std::uint64_t> area);

// The time between animation frames: the duration over the frame count, at least 8 ms.
std::chrono::nanoseconds lens_frame_interval(std::chrono::nanoseconds duration,
                                             std::optional<std::uint64_t> area);

// The crop of `capture` under the view's source rectangle, in capture pixels.
struct CaptureCrop {
  std::uint32_t x = 0;
  std::uint32_t y = 0;
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  bool operator==(const CaptureCrop&) const = default;
};

// Nothing when the capture is inconsistent (empty, too wide, too few bytes) or the crop is
// empty or starts outside it.
std::optional<CaptureCrop> lens_crop(const Rect& source, const HeldCapture& capture);

// The capture's piece under the view's source, scaled by nearest neighbour onto the view's lens
// rectangle. An unusable capture draws nothing.
void draw_lens_image(Canvas& canvas, const LensView& view, const HeldCapture& capture);

}  // namespace tarvik
