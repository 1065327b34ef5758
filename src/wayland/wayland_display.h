// WaylandDisplay: the display backend on a real compositor. It owns the connection, every
// protocol object, the seat and output tracking, the output and overlay lists, the pools, the
// virtual pointer and the compositor control. The controller drives it through DisplayBackend;
// run_daemon drives its start-up steps in order.
#pragma once

#include <cstdint>
#include <expected>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/backend.h"
#include "input_method/input_method_grab.h"
#include "ipc/event_loop.h"
#include "sway/cursor_commands.h"
#include "wayland/connection.h"
#include "wayland/daemon_error.h"
#include "wayland/globals.h"
#include "wayland/keyboard.h"
#include "wayland/outputs.h"
#include "wayland/overlay.h"
#include "wayland/seats.h"
#include "wayland/shm_pool.h"

struct wl_compositor;
struct wl_registry;
struct wl_shm;
struct zwlr_layer_shell_v1;
struct zwlr_virtual_pointer_manager_v1;
struct zwlr_virtual_pointer_v1;
struct zwlr_screencopy_manager_v1;
struct zwlr_screencopy_frame_v1;
struct zwp_keyboard_shortcuts_inhibit_manager_v1;
struct zwp_keyboard_shortcuts_inhibitor_v1;

namespace tarvik {

// The overlay pool's length per overlay while parked, and the capture pool's idle length.
inline constexpr std::size_t kParkedBytesPerOverlay = 64;
inline constexpr std::size_t kIdlePoolBytes = 4;

// Button codes of the Linux input layer.
std::uint32_t button_code(PointerButton button);
// Wheel notches for a scroll amount: amount / 15 rounded half away from zero, at least 1,
// saturated to 32 bits.
std::int32_t scroll_notches(double amount);
// Milliseconds of the monotonic clock, wrapping at 32 bits.
std::uint32_t event_time_ms();

class WaylandDisplay final : public DisplayBackend {
 public:
  // Start-up steps 3 to 7: connect, collect the globals, bind the required and optional ones.
  static std::expected<std::unique_ptr<WaylandDisplay>, DaemonError> connect(
      std::optional<std::string> seat, std::unique_ptr<CompositorControl> compositor);
  ~WaylandDisplay() override;
  WaylandDisplay(const WaylandDisplay&) = delete;
  WaylandDisplay& operator=(const WaylandDisplay&) = delete;

  // Step 8: the overlay pool, then the capture pool.
  std::expected<void, DaemonError> create_pools();
  // Steps 10 and 11: seat and output tracking on the main queue; timers go into `loop`.
  void start_tracking(EventLoop& loop);
  // Steps 13 and 18: roundtrips that dispatch what arrives (the tracking learns its objects).
  std::expected<void, DaemonError> dispatch_roundtrip();
  // Step 14.
  std::expected<void, DaemonError> choose_seat();
  // Step 15 (and every output change): true when the list changed.
  std::expected<bool, DaemonError> reconcile_outputs();
  // Step 16 and every rebuild.
  void create_virtual_pointer();
  // Start-up only: releases each button the daemon can press, through the virtual pointer or
  // else the cursor commands, in case an earlier daemon died holding one (the compositor keeps
  // it down and the pointer stuck to where it was pressed).
  void release_orphaned_buttons();
  // Step 17 and every rebuild.
  void create_overlays();
  // Step 20: the Wayland source of the main queue.
  std::expected<void, EventLoopError> register_source(EventLoop& loop);

  wl_display* display() const { return display_.get(); }

  // DisplayBackend.
  void set_events(BackendEvents* events) override { events_ = events; }
  const std::vector<OutputRecord>& outputs() const override { return outputs_; }
  const std::vector<Overlay>& overlays() const override { return overlay_view_; }
  const std::string& seat_name() const override { return seat_name_; }
  bool shortcut_inhibition_available() const override { return inhibit_manager_ != nullptr; }
  bool screen_capture_available() const override { return screencopy_manager_ != nullptr; }
  bool virtual_pointer_available() const override { return virtual_pointer_ != nullptr; }
  CompositorControl& compositor() override { return *compositor_; }
  bool keyboard_capture_active() const override { return capture_active_; }
  std::uint64_t input_generation() const override { return input_generation_; }
  void increment_input_generation() override { ++input_generation_; }

  Status capture_keyboard(const std::string& output, bool preserve_focus) override;
  void release_keyboard() override;
  Status park_overlays() override;
  Status present(const std::string& output, std::span<const std::uint8_t> pixels,
                 std::uint32_t width, std::uint32_t height) override;
  // A fresh buffer of the overlay pool to draw into, shown by present_frame.
  std::expected<FrameTarget, std::string> frame_target(const std::string& output,
                                                       std::uint32_t width,
                                                       std::uint32_t height) override;
  Status present_frame(FrameTarget target) override;
  PointerStatus click(PointerButton button) override;
  PointerStatus set_button(PointerButton button, bool release) override;
  PointerStatus scroll(ScrollDirection direction, double step) override;
  PointerStatus move_pointer(double dx, double dy) override;
  Status request_capture(const std::string& output, std::uint64_t serial) override;
  void cancel_captures() override;
  Status roundtrip() override;
  Status schedule_timer(TimerKind kind, std::uint64_t token,
                        std::chrono::nanoseconds delay) override;

  // Sizes of the two pools (for tests of the idle footprint).
  std::size_t overlay_pool_length() const;
  std::size_t capture_pool_length() const;

 private:
  WaylandDisplay(DisplayHandle display, std::string seat_name,
                 std::unique_ptr<CompositorControl> compositor);

  // Registry reactions after start-up.
  void global_added(const GlobalEntry& entry);
  void global_removed(const GlobalEntry& entry);
  // Seat reactions.
  void seat_capabilities(TrackedSeat& seat, std::uint32_t before);
  void seat_added(TrackedSeat& seat);
  void seat_removed(const TrackedSeat& seat);
  std::expected<void, std::string> bind_keyboard(const std::shared_ptr<TrackedSeat>& seat);
  void forget_keyboard();
  // Output reactions.
  void output_changed(const char* reason);
  void rebuild_output_surfaces();
  void overlay_configured(OverlaySurface& overlay);
  void overlay_closed(OverlaySurface& overlay);
  void destroy_overlays();
  void sync_overlay_view();
  // Key events from the seat keyboard.
  void keyboard_key(const KeyEvent& event);
  void keyboard_focus(bool focused, wl_surface* surface);
  OverlaySurface* find_overlay(const std::string& name, bool configured_only);
  // capture_keyboard with preserve_focus: the input-method grab takes the keys.
  Status capture_with_grab(const std::string& output);
  wl_output* output_object(const std::string& name) const;
  void send_virtual_button(std::uint32_t time, std::uint32_t code, bool pressed);

  // Screen capture.
  struct InFlightCapture {
    zwlr_screencopy_frame_v1* frame = nullptr;
    std::string output;
    std::uint64_t serial = 0;
    std::uint32_t logical_width = 0;
    std::uint32_t logical_height = 0;
    std::optional<std::uint32_t> format;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint32_t stride = 0;
    bool y_invert = false;
    std::optional<ShmBuffer> buffer;
  };
  friend struct CaptureListeners;
  InFlightCapture* find_capture(zwlr_screencopy_frame_v1* frame);
  void capture_buffer_done(InFlightCapture& capture);
  void capture_ready(InFlightCapture& capture);
  void finish_capture(InFlightCapture& capture, std::expected<HeldCapture, std::string> result);

  // Wayland source internals.
  EventLoop::Result read_and_dispatch();
  EventLoop::Result flush();
  EventLoopError connection_error();

  // Declared first, destroyed last: every proxy below belongs to this connection.
  DisplayHandle display_;
  std::string seat_name_;
  std::unique_ptr<CompositorControl> compositor_;
  BackendEvents* events_ = nullptr;
  EventLoop* loop_ = nullptr;

  wl_registry* registry_ = nullptr;
  std::unique_ptr<GlobalList> globals_;
  wl_compositor* wl_compositor_ = nullptr;
  zwlr_layer_shell_v1* layer_shell_ = nullptr;
  wl_shm* shm_ = nullptr;
  zwp_keyboard_shortcuts_inhibit_manager_v1* inhibit_manager_ = nullptr;
  zwlr_virtual_pointer_manager_v1* virtual_pointer_manager_ = nullptr;
  zwlr_screencopy_manager_v1* screencopy_manager_ = nullptr;

  std::optional<ShmPool> overlay_pool_;
  std::optional<ShmPool> capture_pool_;
  // Buffers handed out by frame_target and not yet presented, by output name.
  std::vector<std::pair<std::string, ShmBuffer>> drawing_;

  std::expected<ShmBuffer, std::string> overlay_buffer(const std::string& output,
                                                       std::span<const std::uint8_t> pixels,
                                                       std::uint32_t width,
                                                       std::uint32_t height);
  Status show_buffer(const std::string& output, ShmBuffer& buffer, std::uint32_t width,
                     std::uint32_t height);

  std::unique_ptr<SeatTracker> seats_;
  std::unique_ptr<OutputTracker> output_tracker_;
  std::shared_ptr<TrackedSeat> chosen_seat_;
  std::unique_ptr<SeatKeyboard> keyboard_;

  zwlr_virtual_pointer_v1* virtual_pointer_ = nullptr;
  // Without a virtual pointer, motion goes through Sway's cursor command, which drops fractions.
  CursorMoveCarry move_carry_;

  std::vector<OutputRecord> outputs_;
  std::vector<std::shared_ptr<TrackedOutput>> output_objects_;  // parallel to outputs_
  std::vector<std::unique_ptr<OverlaySurface>> overlays_;
  std::vector<Overlay> overlay_view_;  // parallel to overlays_

  bool capture_active_ = false;
  std::uint64_t input_generation_ = 0;
  zwp_keyboard_shortcuts_inhibitor_v1* inhibitor_ = nullptr;
  std::unique_ptr<InputMethodGrab> im_grab_;  // only while a preserve-focus capture holds

  std::vector<std::unique_ptr<InFlightCapture>> captures_;

  // Wayland source state.
  std::optional<EventLoop::SourceId> source_;
  bool watching_writable_ = false;
};

}  // namespace tarvik
