// The input-method keyboard grab: with preserve_focus the daemon becomes the input method of
// its seat and grabs the seat's keyboard, so the focused application keeps its keyboard focus
// while every key comes here. The grab lives on a second Wayland connection with its own event
// queue, registered in the daemon's event loop for as long as the grab exists, and has its own
// key repeat. Destroying the grab tears everything down.
//
//   auto grab = InputMethodGrab::start(loop, "seat0", generation, GrabSink{...});
//   if (!grab) return std::unexpected(grab.error());   // the command fails with this text
//   ...
//   grab->reset();                                     // release, destroy, flush, roundtrip, close
#pragma once

#include <chrono>
#include <cstdint>
#include <expected>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/backend.h"
#include "input_method/grab_state.h"
#include "ipc/event_loop.h"
#include "wayland/connection.h"

struct wl_event_queue;
struct wl_registry;
struct wl_seat;
struct zwp_input_method_manager_v2;
struct zwp_input_method_v2;
struct zwp_input_method_keyboard_grab_v2;

namespace tarvik {

class GlobalList;

// Where the grab's items go. Called only from the grab's own event-loop callbacks, after its
// queue has been dispatched, never from inside the dispatch; any of them may destroy the grab.
struct GrabSink {
  // The current input generation; queued items stamped with another one are dropped.
  std::function<std::uint64_t()> input_generation;
  std::function<void(const KeyEvent&)> key;
  // The capture is lost: the text has been logged as "keyboard capture lost: " + text, and the
  // owner ends the mode (which destroys the grab).
  std::function<void(const std::string& text)> lost;
};

// One wl_seat of the grab's connection. The name stays empty when the seat announces none.
struct GrabSeat {
  std::string name;
  bool keyboard = false;
};

// The first seat whose name is exactly `requested` and that has a keyboard. Unlike the
// daemon's own seat choice, an unnamed seat does not stand in for "seat0" here: the input
// method must be bound to the seat the user named.
std::optional<std::size_t> choose_grab_seat(const std::vector<GrabSeat>& seats,
                                            const std::string& requested);

class InputMethodGrab {
 public:
  // Opens the grab's connection, becomes the input method of `seat_name` and grabs its
  // keyboard, then registers in `loop` (not owned; must outlive the grab). Items are stamped
  // with `input_generation`. Fails with the text the command reports, leaving nothing behind.
  static std::expected<std::unique_ptr<InputMethodGrab>, std::string> start(
      EventLoop& loop, const std::string& seat_name, std::uint64_t input_generation,
      GrabSink sink);

  // Teardown: the source and the repeat timer leave the loop; release and destroy are sent,
  // flushed and answered by a roundtrip (their failures ignored); the connection closes.
  ~InputMethodGrab();
  InputMethodGrab(const InputMethodGrab&) = delete;
  InputMethodGrab& operator=(const InputMethodGrab&) = delete;

  const GrabState& state() const { return state_; }

 private:
  struct Seat {
    InputMethodGrab* owner = nullptr;
    wl_seat* seat = nullptr;
    GrabSeat info;
  };

  InputMethodGrab(EventLoop& loop, std::uint64_t input_generation, GrabSink sink);
  std::expected<void, std::string> set_up(const std::string& seat_name);
  std::expected<void, std::string> register_source();

  // Event-loop callbacks. Each ends with deliver(), which may destroy the grab.
  EventLoop::Result on_readable();
  EventLoop::Result after_dispatch();
  void on_repeat(std::uint64_t generation);
  // A broken grab connection ends the capture, not the daemon.
  void connection_failed();
  void deliver();
  void arm_repeat(std::chrono::nanoseconds delay);
  void leave_loop();
  std::string connection_error() const;

  static void on_seat_capabilities(void* data, wl_seat* seat, std::uint32_t capabilities);
  static void on_seat_name(void* data, wl_seat* seat, const char* name);
  static void on_unavailable(void* data, zwp_input_method_v2* input_method);
  static void on_grab_keymap(void* data, zwp_input_method_keyboard_grab_v2* grab,
                                std::uint32_t format, std::int32_t fd, std::uint32_t size);
  static void on_grab_key(void* data, zwp_input_method_keyboard_grab_v2* grab,
                             std::uint32_t serial, std::uint32_t time, std::uint32_t key,
                             std::uint32_t state);
  static void on_grab_modifiers(void* data, zwp_input_method_keyboard_grab_v2* grab,
                                   std::uint32_t serial, std::uint32_t depressed,
                                   std::uint32_t latched, std::uint32_t locked,
                                   std::uint32_t group);
  static void on_grab_repeat_info(void* data, zwp_input_method_keyboard_grab_v2* grab,
                                     std::int32_t rate, std::int32_t delay);

  EventLoop& loop_;
  // Shared, so that a delivery that destroys the grab still runs to its end.
  std::shared_ptr<const GrabSink> sink_;
  std::shared_ptr<bool> alive_;
  GrabState state_;

  // Declared first among the protocol objects, destroyed last.
  DisplayHandle display_;
  wl_event_queue* queue_ = nullptr;
  wl_registry* registry_ = nullptr;
  std::unique_ptr<GlobalList> globals_;
  zwp_input_method_manager_v2* manager_ = nullptr;
  std::vector<std::unique_ptr<Seat>> seats_;
  Seat* chosen_ = nullptr;
  zwp_input_method_v2* input_method_ = nullptr;
  zwp_input_method_keyboard_grab_v2* keyboard_grab_ = nullptr;
  bool unavailable_ = false;

  std::optional<EventLoop::SourceId> source_;
  std::optional<EventLoop::HookId> hook_;
  std::optional<EventLoop::TimerId> repeat_timer_;
};

}  // namespace tarvik
