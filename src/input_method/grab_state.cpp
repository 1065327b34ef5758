#include "input_method/grab_state.h"

#include <unistd.h>
#include <xkbcommon/xkbcommon.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "app/key_name.h"
#include "logging/system_error.h"

namespace tarvik {

namespace {

// wl_keyboard's values, which the grab's keymap and key events reuse.
constexpr std::uint32_t kKeymapFormatXkbV1 = 1;
constexpr std::uint32_t kKeyStateReleased = 0;

// Evdev codes and xkb codes differ by this offset.
constexpr std::uint32_t kXkbCodeOffset = 8;

class FdCloser {
 public:
  explicit FdCloser(int fd) : fd_(fd) {}
  ~FdCloser() {
    if (fd_ >= 0) ::close(fd_);
  }
  FdCloser(const FdCloser&) = delete;
  FdCloser& operator=(const FdCloser&) = delete;

 private:
  int fd_;
};

void stop_repeat(GrabState& state) {
  if (!state.repeating_held) return;
  state.repeating_held = false;
  ++state.repeat_generation;
}

}  // namespace

void XkbContextUnref::operator()(xkb_context* context) const { xkb_context_unref(context); }
void XkbKeymapUnref::operator()(xkb_keymap* keymap) const { xkb_keymap_unref(keymap); }
void XkbStateUnref::operator()(xkb_state* state) const { xkb_state_unref(state); }

GrabState make_grab_state(std::uint64_t input_generation) {
  GrabState state;
  state.context.reset(xkb_context_new(XKB_CONTEXT_NO_FLAGS));
  state.input_generation = input_generation;
  return state;
}

void queue_grab_error(GrabState& state, std::string text) {
  if (!state.error) state.error = std::move(text);
}

std::expected<std::string, std::string> read_keymap_bytes(int fd, std::uint32_t size) {
  std::string bytes(size, '\0');
  std::size_t done = 0;
  while (done < bytes.size()) {
    // Positioned reads: the compositor may share one descriptor between clients, so its file
    // offset says nothing about where this keymap starts.
    const ssize_t n = ::pread(fd, bytes.data() + done, bytes.size() - done,
                              static_cast<off_t>(done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return std::unexpected(os_error_text(errno));
    }
    if (n == 0) return std::unexpected(std::string(kGrabKeymapEarlyEnd));
    done += static_cast<std::size_t>(n);
  }
  return bytes;
}

void grab_keymap(GrabState& state, std::uint32_t format, int fd, std::uint32_t size) {
  const FdCloser closer(fd);
  if (format != kKeymapFormatXkbV1) return queue_grab_error(state, kGrabKeymapFormat);
  if (size == 0 || size > kGrabKeymapMaxBytes) return queue_grab_error(state, kGrabKeymapSize);
  auto bytes = read_keymap_bytes(fd, size);
  if (!bytes) return queue_grab_error(state, std::move(bytes.error()));
  if (bytes->find('\0') == std::string::npos) {
    return queue_grab_error(state, kGrabKeymapUnterminated);
  }
  if (!state.context) return queue_grab_error(state, kGrabKeymapCompile);
  // The text ends at the first zero byte; whatever follows it is not part of the keymap.
  std::unique_ptr<xkb_keymap, XkbKeymapUnref> keymap(xkb_keymap_new_from_string(
      state.context.get(), bytes->c_str(), XKB_KEYMAP_FORMAT_TEXT_V1,
      XKB_KEYMAP_COMPILE_NO_FLAGS));
  if (!keymap) return queue_grab_error(state, kGrabKeymapCompile);
  std::unique_ptr<xkb_state, XkbStateUnref> fresh(xkb_state_new(keymap.get()));
  if (!fresh) return queue_grab_error(state, kGrabKeymapCompile);
  // A held key's code may mean another key under the new map.
  stop_repeat(state);
  state.state = std::move(fresh);
  state.keymap = std::move(keymap);
}

KeyEvent translate_grab_key(const GrabState& state, std::uint32_t code, bool released,
                            bool repeat) {
  const xkb_keycode_t keycode = code + kXkbCodeOffset;
  char buffer[64];
  const int needed = xkb_state_key_get_utf8(state.state.get(), keycode, buffer, sizeof buffer);
  // A longer text is cut at the buffer; it names no single character either way.
  const std::size_t length =
      needed > 0 ? std::min<std::size_t>(static_cast<std::size_t>(needed), sizeof buffer - 1) : 0;
  const xkb_keysym_t keysym = xkb_state_key_get_one_sym(state.state.get(), keycode);
  return KeyEvent{key_name(std::string_view(buffer, length), keysym), code, released, repeat};
}

void grab_key(GrabState& state, std::uint32_t key, std::uint32_t key_state) {
  if (!state.keymap || !state.state || key > kGrabMaxKeyCode) {
    return queue_grab_error(state, kGrabKeyWithoutKeymap);
  }
  const bool released = key_state == kKeyStateReleased;
  state.keys.push_back(translate_grab_key(state, key, released, false));
  if (!released) {
    if (xkb_keymap_key_repeats(state.keymap.get(), key + kXkbCodeOffset)) {
      state.repeating_key = key;
      state.repeating_held = true;
      ++state.repeat_generation;
      state.repeat_started = true;
    }
  } else if (state.repeating_key == key) {
    stop_repeat(state);
  }
}

void grab_modifiers(GrabState& state, std::uint32_t depressed, std::uint32_t latched,
                    std::uint32_t locked, std::uint32_t group) {
  if (state.state) xkb_state_update_mask(state.state.get(), depressed, latched, locked, 0, 0, group);
}

void grab_repeat_info(GrabState& state, std::int32_t rate, std::int32_t delay) {
  state.repeat_rate = rate;
  state.repeat_delay = delay;
}

std::optional<std::chrono::nanoseconds> take_repeat_start(GrabState& state) {
  if (!std::exchange(state.repeat_started, false)) return std::nullopt;
  // A press released within the same dispatch needs no timer.
  if (!state.repeating_held || !state.keymap || state.repeat_rate < 1) return std::nullopt;
  return std::chrono::milliseconds(std::max(state.repeat_delay, 0));
}

std::optional<KeyEvent> repeat_event(const GrabState& state, std::uint64_t generation) {
  if (!state.repeating_key || !state.repeating_held || generation != state.repeat_generation ||
      state.repeat_rate <= 0 || !state.keymap || !state.state) {
    return std::nullopt;
  }
  return translate_grab_key(state, *state.repeating_key, false, true);
}

std::chrono::nanoseconds repeat_interval(std::int32_t rate) {
  const std::chrono::nanoseconds interval(1'000'000'000LL / std::max(rate, 1));
  return std::max<std::chrono::nanoseconds>(interval, std::chrono::milliseconds(1));
}

}  // namespace tarvik
