// What the input-method keyboard grab knows about its keyboard, kept apart from the protocol
// objects so that every decision (keymap checks, key translation, repeat) can be exercised
// without a compositor: the grab's event handlers call these functions, and the grab delivers
// what they queued once its queue has been dispatched.
#pragma once

#include <chrono>
#include <cstdint>
#include <expected>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/backend.h"

struct xkb_context;
struct xkb_keymap;
struct xkb_state;

namespace tarvik {

// Texts of the grab's failures, as the user reads them after "keyboard capture lost: " (or
// as the failed command's answer, for the set-up ones).
inline constexpr const char* kGrabManagerMissing =
    "preserve_focus requires zwp_input_method_manager_v2";
inline constexpr const char* kGrabNoSeatPrefix = "no keyboard-capable Wayland seat named ";
inline constexpr const char* kGrabUnavailable =
    "input-method capture unavailable: another input method may own the seat, or the seat was "
    "removed; overlay focus will not be taken";
inline constexpr const char* kGrabSeatLostKeyboard = "input-method seat lost its keyboard";
inline constexpr const char* kGrabKeymapFormat = "input-method keyboard requires an XKB keymap";
inline constexpr const char* kGrabKeymapSize = "input-method keymap has an invalid size";
inline constexpr const char* kGrabKeymapEarlyEnd = "failed to fill whole buffer";
inline constexpr const char* kGrabKeymapUnterminated =
    "input-method keymap is not a terminated XKB string";
inline constexpr const char* kGrabKeymapCompile = "cannot compile input-method keyboard map";
inline constexpr const char* kGrabKeyWithoutKeymap =
    "input-method key arrived without a usable keymap";
inline constexpr const char* kGrabRepeatPrefix = "cannot schedule keyboard repeat: ";
inline constexpr const char* kGrabLostPrefix = "keyboard capture lost: ";

// Largest keymap the grab accepts: a compositor cannot make the daemon allocate more.
inline constexpr std::uint32_t kGrabKeymapMaxBytes = 16u * 1024u * 1024u;
// The highest evdev code whose xkb code (+ 8) still fits in 32 bits.
inline constexpr std::uint32_t kGrabMaxKeyCode = 0xFFFFFFFFu - 8u;

struct XkbContextUnref {
  void operator()(xkb_context* context) const;
};
struct XkbKeymapUnref {
  void operator()(xkb_keymap* keymap) const;
};
struct XkbStateUnref {
  void operator()(xkb_state* state) const;
};

struct GrabState {
  std::unique_ptr<xkb_context, XkbContextUnref> context;
  // Both absent until a usable keymap arrives; replaced together.
  std::unique_ptr<xkb_keymap, XkbKeymapUnref> keymap;
  std::unique_ptr<xkb_state, XkbStateUnref> state;

  // From repeat_info; the usual compositor defaults until it arrives.
  std::int32_t repeat_rate = 25;   // keys per second; 0 disables repeat
  std::int32_t repeat_delay = 600;  // milliseconds

  // The key that repeats while held. Each new repeating key, and each release of it, moves the
  // repeat generation on, so a timer armed for an earlier press finds itself stale.
  std::optional<std::uint32_t> repeating_key;
  bool repeating_held = false;
  std::uint64_t repeat_generation = 0;
  // Set by a press that started a repeat during the current dispatch; the grab arms the timer
  // once the dispatch is over.
  bool repeat_started = false;

  // Items for the controller, delivered after the dispatch that queued them.
  std::vector<KeyEvent> keys;
  std::optional<std::string> error;  // the first failure; later ones add nothing
  std::uint64_t input_generation = 0;
};

// A state with a fresh xkb context (no keymap yet) whose items belong to `input_generation`.
GrabState make_grab_state(std::uint64_t input_generation);

// Queues a failure unless one is already queued.
void queue_grab_error(GrabState& state, std::string text);

// keymap(format, fd, size): the checks in order (format 1, size 1..16 MiB, a full positioned
// read from offset 0, a zero byte, compilation of the text before it). The descriptor is
// always closed. A failure queues its text and keeps the previous keymap.
void grab_keymap(GrabState& state, std::uint32_t format, int fd, std::uint32_t size);

// Reads exactly `size` bytes from offset 0 with positioned reads (retried when interrupted):
// the bytes, or the system error's text, or "failed to fill whole buffer" at an early end.
std::expected<std::string, std::string> read_keymap_bytes(int fd, std::uint32_t size);

// key(key, state): queues one key event (or the missing-keymap failure) and follows the
// repeating key.
void grab_key(GrabState& state, std::uint32_t key, std::uint32_t key_state);

void grab_modifiers(GrabState& state, std::uint32_t depressed, std::uint32_t latched,
                    std::uint32_t locked, std::uint32_t group);

void grab_repeat_info(GrabState& state, std::int32_t rate, std::int32_t delay);

// The key event for `code` under the current keymap and modifiers (requires a keymap).
KeyEvent translate_grab_key(const GrabState& state, std::uint32_t code, bool released,
                            bool repeat);

// After a dispatch: the delay before the first repeat, when a press started one that can
// repeat (a keymap exists and the rate is at least 1); clears the started flag.
std::optional<std::chrono::nanoseconds> take_repeat_start(GrabState& state);

// When a repeat timer armed for `generation` fires: the repeat event to deliver, or nothing
// when the timer ends (key released, newer key, rate 0, no keymap).
std::optional<KeyEvent> repeat_event(const GrabState& state, std::uint64_t generation);

// Time between repeats: 1 / rate seconds, never less than one millisecond (rate must be >= 1).
std::chrono::nanoseconds repeat_interval(std::int32_t rate);

}  // namespace tarvik
