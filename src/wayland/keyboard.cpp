#include "wayland/keyboard.h"

#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>
#include <xkbcommon/xkbcommon-compose.h>
#include <xkbcommon/xkbcommon.h>

#include <chrono>
#include <cstdlib>
#include <cstring>

#include "app/key_name.h"
#include "logging/log.h"

namespace tarvik {

std::string compose_locale() {
  for (const char* name : {"LC_ALL", "LC_CTYPE", "LANG"}) {
    const char* value = std::getenv(name);
    if (value && *value) return value;
  }
  return "C";
}

SeatKeyboard::SeatKeyboard(wl_seat* seat, EventLoop& loop, Events events)
    : loop_(loop), events_(std::move(events)) {
  static const wl_keyboard_listener listener = {
      .keymap = &SeatKeyboard::on_keymap,
      .enter = &SeatKeyboard::on_enter,
      .leave = &SeatKeyboard::on_leave,
      .key = &SeatKeyboard::on_key,
      .modifiers = &SeatKeyboard::on_modifiers,
      .repeat_info = &SeatKeyboard::on_repeat_info,
  };
  context_ = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
  if (context_) {
    std::string locale = compose_locale();
    compose_table_ =
        xkb_compose_table_new_from_locale(context_, locale.c_str(), XKB_COMPOSE_COMPILE_NO_FLAGS);
    if (compose_table_) {
      compose_state_ = xkb_compose_state_new(compose_table_, XKB_COMPOSE_STATE_NO_FLAGS);
    }
  }
  keyboard_ = wl_seat_get_keyboard(seat);
  wl_keyboard_add_listener(keyboard_, &listener, this);
}

SeatKeyboard::~SeatKeyboard() {
  stop_repeat();
  wl_keyboard_destroy(keyboard_);
  if (compose_state_) xkb_compose_state_unref(compose_state_);
  if (compose_table_) xkb_compose_table_unref(compose_table_);
  if (state_) xkb_state_unref(state_);
  if (keymap_) xkb_keymap_unref(keymap_);
  if (context_) xkb_context_unref(context_);
}

void SeatKeyboard::on_keymap(void* data, wl_keyboard*, std::uint32_t format, std::int32_t fd,
                             std::uint32_t size) {
  auto* self = static_cast<SeatKeyboard*>(data);
  if (format != WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1) {
    TARVIK_LOG(Warn, "tarvik::wayland", "unknown keymap format 0x{:x}", format);
    close(fd);
    return;
  }
  if (!self->context_ || size == 0) {
    close(fd);
    return;
  }
  void* map = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
  close(fd);
  if (map == MAP_FAILED) {
    TARVIK_LOG(Warn, "tarvik::wayland", "cannot map the keymap");
    return;
  }
  const char* text = static_cast<const char*>(map);
  xkb_keymap* keymap = xkb_keymap_new_from_buffer(self->context_, text, strnlen(text, size),
                                                  XKB_KEYMAP_FORMAT_TEXT_V1,
                                                  XKB_KEYMAP_COMPILE_NO_FLAGS);
  munmap(map, size);
  xkb_state* state = keymap ? xkb_state_new(keymap) : nullptr;
  if (!state) {
    TARVIK_LOG(Warn, "tarvik::wayland", "cannot compile the keymap; keeping the previous one");
    if (keymap) xkb_keymap_unref(keymap);
    return;
  }
  self->stop_repeat();
  if (self->state_) xkb_state_unref(self->state_);
  if (self->keymap_) xkb_keymap_unref(self->keymap_);
  self->keymap_ = keymap;
  self->state_ = state;
  if (self->compose_state_) xkb_compose_state_reset(self->compose_state_);
}

void SeatKeyboard::on_enter(void* data, wl_keyboard*, std::uint32_t, wl_surface* surface,
                            wl_array*) {
  auto* self = static_cast<SeatKeyboard*>(data);
  self->focus_ = surface;
  if (self->events_.focus) self->events_.focus(true, surface);
}

void SeatKeyboard::on_leave(void* data, wl_keyboard*, std::uint32_t, wl_surface* surface) {
  auto* self = static_cast<SeatKeyboard*>(data);
  self->stop_repeat();
  self->focus_ = nullptr;
  if (self->events_.focus) self->events_.focus(false, surface);
}

KeyEvent SeatKeyboard::translate(std::uint32_t code, bool pressed) {
  KeyEvent event;
  event.code = code;
  event.released = !pressed;
  if (!state_) return event;
  xkb_keycode_t keycode = code + 8;
  xkb_keysym_t sym = xkb_state_key_get_one_sym(state_, keycode);
  std::string text;
  if (pressed) {
    bool composed = false;
    if (compose_state_ && xkb_compose_state_feed(compose_state_, sym) == XKB_COMPOSE_FEED_ACCEPTED) {
      switch (xkb_compose_state_get_status(compose_state_)) {
        case XKB_COMPOSE_COMPOSING:
          composed = true;  // inside a sequence: no text yet
          break;
        case XKB_COMPOSE_COMPOSED: {
          char buffer[64];
          int n = xkb_compose_state_get_utf8(compose_state_, buffer, sizeof buffer);
          if (n > 0) text.assign(buffer, std::min<std::size_t>(n, sizeof buffer - 1));
          xkb_compose_state_reset(compose_state_);
          composed = true;
          break;
        }
        case XKB_COMPOSE_CANCELLED:
          xkb_compose_state_reset(compose_state_);
          composed = true;
          break;
        case XKB_COMPOSE_NOTHING:
          break;
      }
    }
    if (!composed) {
      char buffer[64];
      int n = xkb_state_key_get_utf8(state_, keycode, buffer, sizeof buffer);
      if (n > 0) text.assign(buffer, std::min<std::size_t>(n, sizeof buffer - 1));
    }
  }
  event.name = key_name(text, sym);
  return event;
}

void SeatKeyboard::on_key(void* data, wl_keyboard*, std::uint32_t, std::uint32_t,
                          std::uint32_t key, std::uint32_t state) {
  auto* self = static_cast<SeatKeyboard*>(data);
  if (!self->focus_) {
    TARVIK_LOG(Warn, "tarvik::wayland", "key event without keyboard focus; dropped");
    return;
  }
  bool pressed = state == WL_KEYBOARD_KEY_STATE_PRESSED;
  // Monotonic arrival time (CLOCK_MONOTONIC), so key-to-frame latency can be read off the log.
  TARVIK_LOG(Trace, "tarvik::wayland", "key arrived code={} pressed={} t_ns={}", key, pressed,
             std::chrono::steady_clock::now().time_since_epoch().count());
  KeyEvent event = self->translate(key, pressed);
  if (pressed) {
    if (self->keymap_ && xkb_keymap_key_repeats(self->keymap_, key + 8)) {
      self->start_repeat(event);
    }
  } else if (self->repeating_ && self->repeating_->code == key) {
    self->stop_repeat();
  }
  if (self->events_.key) self->events_.key(event);
}

void SeatKeyboard::on_modifiers(void* data, wl_keyboard*, std::uint32_t, std::uint32_t depressed,
                                std::uint32_t latched, std::uint32_t locked,
                                std::uint32_t group) {
  auto* self = static_cast<SeatKeyboard*>(data);
  if (self->state_) xkb_state_update_mask(self->state_, depressed, latched, locked, 0, 0, group);
}

void SeatKeyboard::on_repeat_info(void* data, wl_keyboard*, std::int32_t rate,
                                  std::int32_t delay) {
  auto* self = static_cast<SeatKeyboard*>(data);
  self->repeat_rate_ = rate;
  self->repeat_delay_ = delay;
  if (rate <= 0) self->stop_repeat();
}

void SeatKeyboard::start_repeat(const KeyEvent& press) {
  stop_repeat();
  if (repeat_rate_ <= 0) return;
  KeyEvent repeat = press;
  repeat.repeat = true;
  repeating_ = Pressed{press.code, repeat};
  arm_repeat(std::chrono::milliseconds(std::max(repeat_delay_, 0)));
}

void SeatKeyboard::arm_repeat(std::chrono::nanoseconds delay) {
  auto timer = loop_.add_timer(delay, [this]() -> EventLoop::Result {
    repeat_timer_.reset();
    if (!repeating_ || repeat_rate_ <= 0) return {};
    KeyEvent event = repeating_->event;
    arm_repeat(std::chrono::nanoseconds(1'000'000'000LL / repeat_rate_));
    if (events_.key) events_.key(event);
    return {};
  });
  if (timer) {
    repeat_timer_ = *timer;
  } else {
    TARVIK_LOG(Warn, "tarvik::wayland", "cannot start key repeat: {}", timer.error().message());
    repeating_.reset();
  }
}

void SeatKeyboard::stop_repeat() {
  repeating_.reset();
  if (repeat_timer_) {
    loop_.cancel_timer(*repeat_timer_);
    repeat_timer_.reset();
  }
}

}  // namespace tarvik
