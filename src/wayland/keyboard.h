// The daemon's wl_keyboard on the chosen seat: keymap and state with libxkbcommon, compose
// sequences from the locale, key repeat driven by a timer of the event loop.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "app/backend.h"
#include "ipc/event_loop.h"

struct wl_keyboard;
struct wl_seat;
struct wl_surface;
struct xkb_context;
struct xkb_keymap;
struct xkb_state;
struct xkb_compose_table;
struct xkb_compose_state;
struct wl_array;

namespace tarvik {

// The compose locale: the first of LC_ALL, LC_CTYPE, LANG that is set and not empty, else "C".
std::string compose_locale();

class SeatKeyboard {
 public:
  struct Events {
    std::function<void(const KeyEvent&)> key;
    std::function<void(bool focused, wl_surface* surface)> focus;
  };

  // Repeat timers go into `loop` (not owned, must outlive the keyboard).
  SeatKeyboard(wl_seat* seat, EventLoop& loop, Events events);
  // Forgets the keyboard without a request (the seat or its keyboard is already gone, or the
  // daemon is ending).
  ~SeatKeyboard();
  SeatKeyboard(const SeatKeyboard&) = delete;
  SeatKeyboard& operator=(const SeatKeyboard&) = delete;

  wl_keyboard* keyboard() const { return keyboard_; }
  wl_surface* focused_surface() const { return focus_; }
  std::int32_t repeat_rate() const { return repeat_rate_; }
  std::int32_t repeat_delay() const { return repeat_delay_; }

 private:
  struct Pressed {
    std::uint32_t code = 0;
    KeyEvent event;
  };

  static void on_keymap(void* data, wl_keyboard*, std::uint32_t format, std::int32_t fd,
                        std::uint32_t size);
  static void on_enter(void* data, wl_keyboard*, std::uint32_t serial, wl_surface* surface,
                       wl_array* keys);
  static void on_leave(void* data, wl_keyboard*, std::uint32_t serial, wl_surface* surface);
  static void on_key(void* data, wl_keyboard*, std::uint32_t serial, std::uint32_t time,
                     std::uint32_t key, std::uint32_t state);
  static void on_modifiers(void* data, wl_keyboard*, std::uint32_t serial,
                           std::uint32_t depressed, std::uint32_t latched, std::uint32_t locked,
                           std::uint32_t group);
  static void on_repeat_info(void* data, wl_keyboard*, std::int32_t rate, std::int32_t delay);

  KeyEvent translate(std::uint32_t code, bool pressed);
  void start_repeat(const KeyEvent& press);
  void stop_repeat();
  void arm_repeat(std::chrono::nanoseconds delay);

  wl_keyboard* keyboard_ = nullptr;
  EventLoop& loop_;
  Events events_;
  xkb_context* context_ = nullptr;
  xkb_keymap* keymap_ = nullptr;
  xkb_state* state_ = nullptr;
  xkb_compose_table* compose_table_ = nullptr;
  xkb_compose_state* compose_state_ = nullptr;
  wl_surface* focus_ = nullptr;
  // The compositor's defaults until repeat_info arrives.
  std::int32_t repeat_rate_ = 25;
  std::int32_t repeat_delay_ = 600;
  std::optional<Pressed> repeating_;
  std::optional<EventLoop::TimerId> repeat_timer_;
};

}  // namespace tarvik
