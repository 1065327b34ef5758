// The controller's view of the desktop: one display backend that owns outputs, overlays,
// keyboard capture, pointer output, screen capture, timers and the compositor control.
// WaylandDisplay implements it for a real compositor; tests use a recording fake.
#pragma once

#include <chrono>
#include <cstdint>
#include <expected>
#include <memory>
#include <new>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "cli/command.h"
#include "render/held_capture.h"
#include "sway/sway_error.h"

namespace tarvik {

// A usable output: layout position and logical size (width and height always positive).
struct OutputRecord {
  std::string name;
  std::int32_t x = 0;
  std::int32_t y = 0;
  std::int32_t width = 0;
  std::int32_t height = 0;
  bool operator==(const OutputRecord&) const = default;
};

// One overlay per output, in output-list order; only configured overlays can draw or take keys.
struct Overlay {
  std::string name;
  bool configured = false;
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  bool operator==(const Overlay&) const = default;
};

struct KeyEvent {
  std::string name;        // the key's name as key_name gives it
  std::uint32_t code = 0;  // evdev key code; identifies a held key from press to release
  bool released = false;
  bool repeat = false;
  bool operator==(const KeyEvent&) const = default;
};

enum class TimerKind : std::uint8_t {
  MotionTick = 0,
  LensAnimationFrame = 1,
  KeyboardFocusCheck = 2,
  CaptureTimeout = 3,
};

struct PointerError {
  enum class Kind { MissingOutput, Backend };
  Kind kind = Kind::Backend;
  std::string text;  // the output name for MissingOutput, the inner error's text for Backend

  // "output {} disappeared" for MissingOutput; the inner text for Backend.
  std::string message() const;
};

// An operation that succeeds with nothing or fails with a displayable text.
using Status = std::expected<void, std::string>;
using PointerStatus = std::expected<void, PointerError>;
using SwayStatus = std::expected<void, SwayError>;

// Focus queries and cursor commands of the compositor (the Sway client in the daemon).
class CompositorControl {
 public:
  virtual ~CompositorControl() = default;
  virtual std::expected<std::optional<std::string>, SwayError> focused_output() = 0;
  virtual SwayStatus cursor_set(const std::string& seat, std::int64_t x, std::int64_t y) = 0;
  virtual SwayStatus pointer_to_focused_window(const std::string& seat) = 0;
  virtual SwayStatus cursor_move(const std::string& seat, double dx, double dy) = 0;
  virtual SwayStatus cursor_button(const std::string& seat, PointerButton button,
                                   bool release) = 0;
  virtual SwayStatus cursor_click(const std::string& seat, PointerButton button) = 0;
  virtual SwayStatus cursor_scroll(const std::string& seat, ScrollDirection direction,
                                   double step) = 0;
};

// What the backend delivers to the controller, always on the event-loop thread.
class BackendEvents {
 public:
  virtual ~BackendEvents() = default;
  // A key event that passed the capture and input-generation gates.
  virtual void on_key(const KeyEvent& event) = 0;
  // A requested capture finished (image) or failed (error text). Abandoned captures never arrive.
  virtual void on_capture(const std::string& output, std::uint64_t serial,
                          std::expected<HeldCapture, std::string> result) = 0;
  // An overlay was configured and must be drawn again.
  virtual void on_configured_redraw() = 0;
  // Output layout change, overlay closed, seat or keyboard lost, grab lost.
  virtual void on_cancel() = 0;
  // A timer scheduled with schedule_timer fired.
  virtual void on_timer(TimerKind kind, std::uint64_t token) = 0;
  // The keyboard overlay gained or lost keyboard focus.
  virtual void on_keyboard_focus(bool focused) = 0;
  // The compositor stopped honouring the shortcut inhibitor.
  virtual void on_inhibitor_inactive() = 0;
};

// Writable memory for one output's next frame (DisplayBackend::frame_target): width * height * 4
// bytes, B, G, R, A premultiplied, rows of width * 4 bytes, to be written whole and handed back
// to present_frame. Valid until then and no longer than the next frame_target or parking: the
// backend may move its memory to make room for another buffer.
struct FrameTarget {
  std::string output;
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::span<std::uint8_t> pixels;
  // Memory of backends without buffers of their own (the default frame_target).
  std::unique_ptr<std::uint8_t[]> owned;
};

class DisplayBackend {
 public:
  virtual ~DisplayBackend() = default;

  // Where events go; set once by the controller that owns this backend.
  virtual void set_events(BackendEvents* events) = 0;

  // State the controller reads.
  virtual const std::vector<OutputRecord>& outputs() const = 0;
  virtual const std::vector<Overlay>& overlays() const = 0;
  virtual const std::string& seat_name() const = 0;
  virtual bool shortcut_inhibition_available() const = 0;
  virtual bool screen_capture_available() const = 0;
  virtual bool virtual_pointer_available() const = 0;
  virtual CompositorControl& compositor() = 0;
  virtual bool keyboard_capture_active() const = 0;
  virtual std::uint64_t input_generation() const = 0;
  virtual void increment_input_generation() = 0;

  // Operations.
  virtual Status capture_keyboard(const std::string& output, bool preserve_focus) = 0;
  virtual void release_keyboard() = 0;
  virtual Status park_overlays() = 0;
  // Pixels are B, G, R, A premultiplied, width * height * 4 bytes; an empty span draws nothing.
  virtual Status present(const std::string& output, std::span<const std::uint8_t> pixels,
                         std::uint32_t width, std::uint32_t height) = 0;
  // Memory to draw the next frame of `output` into, so that it need not be copied there. By
  // default a frame of its own, which present_frame passes to present.
  virtual std::expected<FrameTarget, std::string> frame_target(const std::string& output,
                                                               std::uint32_t width,
                                                               std::uint32_t height) {
    const std::size_t bytes = std::size_t{width} * height * 4;
    FrameTarget target{output, width, height, {}, {}};
    target.owned.reset(new (std::nothrow) std::uint8_t[bytes]);
    if (!target.owned) return std::unexpected(std::string("cannot allocate a frame"));
    target.pixels = {target.owned.get(), bytes};
    return target;
  }
  // Shows a frame drawn into the memory of frame_target, exactly as present would.
  virtual Status present_frame(FrameTarget target) {
    return present(target.output, target.pixels, target.width, target.height);
  }
  virtual PointerStatus click(PointerButton button) = 0;
  virtual PointerStatus set_button(PointerButton button, bool release) = 0;
  virtual PointerStatus scroll(ScrollDirection direction, double step) = 0;
  virtual PointerStatus move_pointer(double dx, double dy) = 0;
  virtual Status request_capture(const std::string& output, std::uint64_t serial) = 0;
  virtual void cancel_captures() = 0;
  virtual Status roundtrip() = 0;
  virtual Status schedule_timer(TimerKind kind, std::uint64_t token,
                                std::chrono::nanoseconds delay) = 0;
};

}  // namespace tarvik
