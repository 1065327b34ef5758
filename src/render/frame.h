// Frame production: everything the overlays show, drawn in software from an explicit snapshot
// of the controller's state. Pure apart from the text renderer's glyph cache, so every frame
// can be produced and inspected without a compositor.
#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "app/backend.h"
#include "config/config.h"
#include "mode/grid_session.h"
#include "render/canvas.h"
#include "render/held_capture.h"
#include "render/hints.h"
#include "render/lens.h"
#include "render/render_error.h"
#include "render/text_renderer.h"

namespace tarvik {

// One output's complete frame: premultiplied pixels in the byte order B, G, R, A, rows of
// width * 4 bytes, ready for DisplayBackend::present.
struct OverlayFrame {
  std::string output;
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  PixelBytes pixels;
};

// What mouse mode shows besides the badge.
struct MouseFrameState {
  bool scroll = false;  // the scroll variant: "SCROLL" badge, no hints
  MouseLockState lock{};
};

// The controller's state as far as drawing needs it. Spans and pointers are borrowed for the
// call only.
struct FrameInput {
  const Config& config;
  // The backend's output list (in its order) and overlays; only outputs whose overlay is
  // configured are drawn on. Canvases have the output's logical size.
  std::span<const OutputRecord> outputs{};
  std::span<const Overlay> overlays{};

  // Grid mode. While a fresh lens capture is awaited nothing is drawn.
  const GridSession* session = nullptr;
  bool capture_pending = false;
  // The running refinement animation's frame (from animation_step); absent when none runs,
  // and then the current level is shown through its own view at progress 1.
  std::optional<AnimationFrame> animation{};
  // The held screen capture and the output it shows; null when none is held.
  const HeldCapture* capture = nullptr;
  std::string capture_output{};

  // Mouse mode (or its scroll variant) when set: the mouse frame is drawn instead of the grid.
  std::optional<MouseFrameState> mouse{};
  // The point of the last MoveTo since the current request began.
  std::optional<GridPoint> pointer_target{};
  // The last known focused output (empty when never known).
  std::string focused_output{};
};

// One frame of a redraw before it is drawn: its output and canvas size, and whether its canvas
// starts transparent (the mouse frame) or is written whole by the drawing (grid frames).
struct PlannedFrame {
  const OutputRecord* output = nullptr;
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  Canvas::Start start = Canvas::Start::Undefined;
};

// Which frames a redraw consists of, so that each can be drawn into memory the caller provides
// (the display's buffer) instead of a canvas of its own.
struct FramePlan {
  std::vector<PlannedFrame> frames;  // in output order, as render_frames returns them
  std::optional<MouseFrameState> mouse;
  std::vector<Hint> hints;           // the grid hint list (empty: no panel)
};

// The plan render_frames draws: the same frames, in the same order.
FramePlan plan_frames(const FrameInput& input);

// Draws `frame` of the plan onto `canvas`, which has the frame's size and, for a transparent
// start, is fully transparent.
void draw_frame(TextRenderer& text, const FrameInput& input, const FramePlan& plan,
                const PlannedFrame& frame, Canvas& canvas);

// The frames of one redraw, in output order: the mouse frame in mouse mode, else one grid frame
// per configured output holding a cell of the current level; none while a capture is pending
// or without a session. Allocation when a canvas cannot be created (no frames then).
std::expected<std::vector<OverlayFrame>, RenderError> render_frames(TextRenderer& text,
                                                                    const FrameInput& input);

// The grid frames alone (FrameInput::mouse is ignored).
std::expected<std::vector<OverlayFrame>, RenderError> render_grid_frames(TextRenderer& text,
                                                                         const FrameInput& input);

// The mouse frame for the output of the pointer target, else the focused output; nothing when
// that output has no configured overlay.
std::expected<std::optional<OverlayFrame>, RenderError> render_mouse_frame(
    TextRenderer& text, const FrameInput& input, const MouseFrameState& mouse);

// How a grid frame is rasterised. Both give the same pixels: Direct writes cell fills that
// land on plain background straight into the canvas, Reference sends every primitive through
// the rasteriser and exists to check and measure Direct against.
enum class GridDrawing { Direct, Reference };

// One grid frame drawn for `output` onto a canvas of its size (exposed for tests and
// benchmarks); `hints` is the grid hint list (empty: no panel).
std::expected<Canvas, RenderError> draw_grid_canvas(TextRenderer& text, const FrameInput& input,
                                                    const OutputRecord& output,
                                                    std::span<const Hint> hints,
                                                    GridDrawing drawing = GridDrawing::Direct);

}  // namespace tarvik
