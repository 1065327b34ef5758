#include "input_method/input_method_grab.h"

#include <wayland-client.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include <fmt/format.h>

#include "input-method-unstable-v2-client-protocol.h"
#include "logging/log.h"
#include "logging/system_error.h"
#include "wayland/globals.h"

namespace tarvik {

namespace {

constexpr const char* kTarget = "tarvik::input_method";
constexpr std::uint32_t kSeatMaxVersion = 7;

void ignore_activate(void*, zwp_input_method_v2*) {}
void ignore_deactivate(void*, zwp_input_method_v2*) {}
void ignore_surrounding_text(void*, zwp_input_method_v2*, const char*, std::uint32_t,
                             std::uint32_t) {}
void ignore_text_change_cause(void*, zwp_input_method_v2*, std::uint32_t) {}
void ignore_content_type(void*, zwp_input_method_v2*, std::uint32_t, std::uint32_t) {}
void ignore_done(void*, zwp_input_method_v2*) {}

}  // namespace

std::optional<std::size_t> choose_grab_seat(const std::vector<GrabSeat>& seats,
                                            const std::string& requested) {
  for (std::size_t i = 0; i < seats.size(); ++i) {
    if (seats[i].keyboard && seats[i].name == requested) return i;
  }
  return std::nullopt;
}

InputMethodGrab::InputMethodGrab(EventLoop& loop, std::uint64_t input_generation, GrabSink sink)
    : loop_(loop),
      sink_(std::make_shared<const GrabSink>(std::move(sink))),
      alive_(std::make_shared<bool>(true)),
      state_(make_grab_state(input_generation)) {}

std::expected<std::unique_ptr<InputMethodGrab>, std::string> InputMethodGrab::start(
    EventLoop& loop, const std::string& seat_name, std::uint64_t input_generation,
    GrabSink sink) {
  std::unique_ptr<InputMethodGrab> grab(
      new InputMethodGrab(loop, input_generation, std::move(sink)));
  // On failure the destructor takes down whatever was made so far.
  if (auto made = grab->set_up(seat_name); !made) return std::unexpected(made.error());
  return grab;
}

std::expected<void, std::string> InputMethodGrab::set_up(const std::string& seat_name) {
  // Step 2: a connection of its own, so the grab's events never mix with the main queue's.
  auto handle = connect_display();
  if (!handle) return std::unexpected(handle.error());
  display_ = std::move(*handle);
  wl_display* display = display_.get();
  queue_ = wl_display_create_queue(display);
  auto* wrapper = static_cast<wl_display*>(wl_proxy_create_wrapper(display));
  wl_proxy_set_queue(reinterpret_cast<wl_proxy*>(wrapper), queue_);
  registry_ = wl_display_get_registry(wrapper);
  wl_proxy_wrapper_destroy(wrapper);
  globals_ = std::make_unique<GlobalList>(registry_, hidden_globals_from_environment());
  if (wl_display_roundtrip_queue(display, queue_) < 0) return std::unexpected(connection_error());

  // Step 3.
  auto manager = globals_->bind(&zwp_input_method_manager_v2_interface, 1, 1);
  if (!manager) return std::unexpected(std::string(kGrabManagerMissing));
  manager_ = static_cast<zwp_input_method_manager_v2*>(*manager);

  // Step 4.
  static const wl_seat_listener seat_listener = {
      .capabilities = &InputMethodGrab::on_seat_capabilities,
      .name = &InputMethodGrab::on_seat_name,
  };
  for (const GlobalEntry& entry : globals_->entries()) {
    if (entry.interface != wl_seat_interface.name) continue;
    auto seat = std::make_unique<Seat>();
    seat->owner = this;
    seat->seat =
        static_cast<wl_seat*>(globals_->bind_entry(entry, &wl_seat_interface, kSeatMaxVersion));
    wl_seat_add_listener(seat->seat, &seat_listener, seat.get());
    seats_.push_back(std::move(seat));
  }
  if (wl_display_roundtrip_queue(display, queue_) < 0) return std::unexpected(connection_error());

  // Step 5.
  std::vector<GrabSeat> infos;
  for (const auto& seat : seats_) infos.push_back(seat->info);
  const auto chosen = choose_grab_seat(infos, seat_name);
  if (!chosen) return std::unexpected(kGrabNoSeatPrefix + seat_name);
  chosen_ = seats_[*chosen].get();

  // Step 6: a compositor that already has an input method for the seat answers at once.
  static const zwp_input_method_v2_listener input_method_listener = {
      .activate = &ignore_activate,
      .deactivate = &ignore_deactivate,
      .surrounding_text = &ignore_surrounding_text,
      .text_change_cause = &ignore_text_change_cause,
      .content_type = &ignore_content_type,
      .done = &ignore_done,
      .unavailable = &InputMethodGrab::on_unavailable,
  };
  input_method_ = zwp_input_method_manager_v2_get_input_method(manager_, chosen_->seat);
  zwp_input_method_v2_add_listener(input_method_, &input_method_listener, this);
  if (wl_display_roundtrip_queue(display, queue_) < 0) return std::unexpected(connection_error());
  if (unavailable_) return std::unexpected(std::string(kGrabUnavailable));

  // Step 7.
  static const zwp_input_method_keyboard_grab_v2_listener grab_listener = {
      .keymap = &InputMethodGrab::on_grab_keymap,
      .key = &InputMethodGrab::on_grab_key,
      .modifiers = &InputMethodGrab::on_grab_modifiers,
      .repeat_info = &InputMethodGrab::on_grab_repeat_info,
  };
  keyboard_grab_ = zwp_input_method_v2_grab_keyboard(input_method_);
  zwp_input_method_keyboard_grab_v2_add_listener(keyboard_grab_, &grab_listener, this);

  // Step 8.
  if (auto registered = register_source(); !registered) return registered;

  // Step 9. A full socket sends the rest from the after-dispatch hook.
  if (wl_display_flush(display) < 0 && errno != EAGAIN) {
    return std::unexpected(connection_error());
  }
  TARVIK_LOG(Debug, kTarget, "input-method keyboard grab started seat={}", seat_name);
  return {};
}

std::expected<void, std::string> InputMethodGrab::register_source() {
  auto source = loop_.add_fd(wl_display_get_fd(display_.get()), EventLoop::readable,
                             [this](std::uint32_t) { return on_readable(); });
  if (!source) return std::unexpected(source.error().message());
  source_ = *source;
  // Events read by a roundtrip sit in the queue without the socket being readable; handling
  // them after every iteration also delivers what the set-up's roundtrips queued.
  hook_ = loop_.add_after_dispatch([this] { return after_dispatch(); });
  return {};
}

InputMethodGrab::~InputMethodGrab() {
  *alive_ = false;
  leave_loop();
  if (keyboard_grab_) zwp_input_method_keyboard_grab_v2_release(keyboard_grab_);
  if (input_method_) zwp_input_method_v2_destroy(input_method_);
  if (manager_) zwp_input_method_manager_v2_destroy(manager_);
  if (display_) {
    // The compositor has seen the release once the roundtrip returns; a broken connection
    // has nothing left to release.
    wl_display_flush(display_.get());
    wl_display_roundtrip_queue(display_.get(), queue_);
  }
  for (const auto& seat : seats_) {
    if (seat->seat) wl_seat_destroy(seat->seat);
  }
  if (keyboard_grab_) TARVIK_LOG(Debug, kTarget, "input-method keyboard grab released");
  globals_.reset();
  if (registry_) wl_registry_destroy(registry_);
  if (queue_) wl_event_queue_destroy(queue_);
  display_.reset();
}

void InputMethodGrab::leave_loop() {
  if (source_) loop_.remove_fd(*std::exchange(source_, std::nullopt));
  if (hook_) loop_.remove_hook(*std::exchange(hook_, std::nullopt));
  if (repeat_timer_) loop_.cancel_timer(*std::exchange(repeat_timer_, std::nullopt));
}

std::string InputMethodGrab::connection_error() const {
  wl_display* display = display_.get();
  const int code = wl_display_get_error(display);
  if (code == EPROTO) {
    const wl_interface* interface = nullptr;
    std::uint32_t id = 0;
    const std::uint32_t protocol_code = wl_display_get_protocol_error(display, &interface, &id);
    return fmt::format("Protocol error {} on object {}@{}", protocol_code,
                       interface ? interface->name : "unknown", id);
  }
  return os_error_text(code != 0 ? code : errno);
}

// ----- Loop callbacks ----------------------------------------------------------------------

EventLoop::Result InputMethodGrab::on_readable() {
  wl_display* display = display_.get();
  while (wl_display_prepare_read_queue(display, queue_) != 0) {
    if (wl_display_dispatch_queue_pending(display, queue_) < 0) {
      connection_failed();
      return {};
    }
  }
  if (wl_display_read_events(display) < 0 ||
      wl_display_dispatch_queue_pending(display, queue_) < 0) {
    connection_failed();
    return {};
  }
  deliver();
  return {};
}

EventLoop::Result InputMethodGrab::after_dispatch() {
  wl_display* display = display_.get();
  if (wl_display_dispatch_queue_pending(display, queue_) < 0) {
    connection_failed();
    return {};
  }
  const std::shared_ptr<bool> alive = alive_;
  deliver();
  if (*alive && wl_display_flush(display) < 0 && errno != EAGAIN) connection_failed();
  return {};
}

void InputMethodGrab::connection_failed() {
  // The descriptor of a broken connection stays readable; leave the loop before reporting,
  // so nothing spins even if the owner keeps the grab.
  leave_loop();
  queue_grab_error(state_, connection_error());
  deliver();
}

void InputMethodGrab::deliver() {
  if (state_.keys.empty() && !state_.error && !state_.repeat_started) return;
  if (auto delay = take_repeat_start(state_)) arm_repeat(*delay);

  std::vector<KeyEvent> keys = std::exchange(state_.keys, {});
  std::optional<std::string> error = std::exchange(state_.error, std::nullopt);
  const std::uint64_t stamp = state_.input_generation;
  // The sink may destroy this grab: from here on only locals are used.
  const std::shared_ptr<const GrabSink> sink = sink_;
  const std::shared_ptr<bool> alive = alive_;
  for (const KeyEvent& key : keys) {
    if (!*alive) return;
    if (sink->input_generation() != stamp) continue;
    TARVIK_LOG(Trace, kTarget, "input-method key name={} code={} released={} repeat={}", key.name,
               key.code, key.released, key.repeat);
    sink->key(key);
  }
  if (!error || !*alive || sink->input_generation() != stamp) return;
  TARVIK_LOG(Error, kTarget, "{}{}", kGrabLostPrefix, *error);
  sink->lost(*error);
}

void InputMethodGrab::arm_repeat(std::chrono::nanoseconds delay) {
  if (repeat_timer_) loop_.cancel_timer(*std::exchange(repeat_timer_, std::nullopt));
  const std::uint64_t generation = state_.repeat_generation;
  auto timer = loop_.add_timer(delay, [this, generation]() -> EventLoop::Result {
    on_repeat(generation);
    return {};
  });
  if (!timer) {
    queue_grab_error(state_, kGrabRepeatPrefix + timer.error().message());
    return;
  }
  repeat_timer_ = *timer;
}

void InputMethodGrab::on_repeat(std::uint64_t generation) {
  repeat_timer_.reset();
  auto event = repeat_event(state_, generation);
  if (!event) return;
  // Armed before the delivery, which may end the grab (and with it this timer).
  arm_repeat(repeat_interval(state_.repeat_rate));
  state_.keys.push_back(std::move(*event));
  deliver();
}

// ----- Protocol events (inside the queue's dispatch: record and queue only) -----------------

void InputMethodGrab::on_seat_capabilities(void* data, wl_seat*, std::uint32_t capabilities) {
  auto* seat = static_cast<Seat*>(data);
  seat->info.keyboard = (capabilities & WL_SEAT_CAPABILITY_KEYBOARD) != 0;
  if (seat == seat->owner->chosen_ && !seat->info.keyboard) {
    queue_grab_error(seat->owner->state_, kGrabSeatLostKeyboard);
  }
}

void InputMethodGrab::on_seat_name(void* data, wl_seat*, const char* name) {
  static_cast<Seat*>(data)->info.name = name;
}

void InputMethodGrab::on_unavailable(void* data, zwp_input_method_v2*) {
  auto* self = static_cast<InputMethodGrab*>(data);
  self->unavailable_ = true;
  queue_grab_error(self->state_, kGrabUnavailable);
}

void InputMethodGrab::on_grab_keymap(void* data, zwp_input_method_keyboard_grab_v2*,
                                        std::uint32_t format, std::int32_t fd,
                                        std::uint32_t size) {
  grab_keymap(static_cast<InputMethodGrab*>(data)->state_, format, fd, size);
}

void InputMethodGrab::on_grab_key(void* data, zwp_input_method_keyboard_grab_v2*,
                                     std::uint32_t, std::uint32_t, std::uint32_t key,
                                     std::uint32_t state) {
  grab_key(static_cast<InputMethodGrab*>(data)->state_, key, state);
}

void InputMethodGrab::on_grab_modifiers(void* data, zwp_input_method_keyboard_grab_v2*,
                                           std::uint32_t, std::uint32_t depressed,
                                           std::uint32_t latched, std::uint32_t locked,
                                           std::uint32_t group) {
  grab_modifiers(static_cast<InputMethodGrab*>(data)->state_, depressed, latched, locked, group);
}

void InputMethodGrab::on_grab_repeat_info(void* data, zwp_input_method_keyboard_grab_v2*,
                                             std::int32_t rate, std::int32_t delay) {
  grab_repeat_info(static_cast<InputMethodGrab*>(data)->state_, rate, delay);
}

}  // namespace tarvik
