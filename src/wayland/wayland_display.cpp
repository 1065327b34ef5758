#include "wayland/wayland_display.h"

#include <wayland-client.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <limits>

#include <fmt/format.h>

#include "keyboard-shortcuts-inhibit-unstable-v1-client-protocol.h"
#include "logging/log.h"
#include "logging/system_error.h"
#include "wayland/screencopy.h"
#include "wayland/layer_shell_protocol.h"
#include "wlr-screencopy-unstable-v1-client-protocol.h"
#include "wlr-virtual-pointer-unstable-v1-client-protocol.h"

namespace tarvik {

namespace {

constexpr const char* kTarget = "tarvik::wayland";

// libwayland reports the text of a protocol error only through its log handler; keep the last
// one so the error can be shown whole.
std::string& last_protocol_message() {
  static std::string message;
  return message;
}

void wayland_log_handler(const char* format, va_list args) {
  char buffer[1024];
  std::vsnprintf(buffer, sizeof buffer, format, args);
  std::string line(buffer);
  while (!line.empty() && line.back() == '\n') line.pop_back();
  // "interface@id: error code: message"
  if (auto at = line.find(": error "); at != std::string::npos) {
    if (auto colon = line.find(": ", at + 8); colon != std::string::npos) {
      last_protocol_message() = line.substr(colon + 2);
    }
  }
  TARVIK_LOG(Debug, kTarget, "wayland client library: {}", line);
}

std::string overlay_unavailable(const std::string& name) {
  return fmt::format("overlay for output {} is unavailable", name);
}

struct ScrollAxis {
  std::uint32_t axis;
  int sign;
};

ScrollAxis scroll_axis(ScrollDirection direction) {
  switch (direction) {
    case ScrollDirection::Up:
      return {WL_POINTER_AXIS_VERTICAL_SCROLL, -1};
    case ScrollDirection::Down:
      return {WL_POINTER_AXIS_VERTICAL_SCROLL, 1};
    case ScrollDirection::Left:
      return {WL_POINTER_AXIS_HORIZONTAL_SCROLL, -1};
    case ScrollDirection::Right:
      return {WL_POINTER_AXIS_HORIZONTAL_SCROLL, 1};
  }
  return {WL_POINTER_AXIS_VERTICAL_SCROLL, 1};
}

PointerStatus from_sway(SwayStatus status) {
  if (status) return {};
  return std::unexpected(PointerError{PointerError::Kind::Backend, status.error().message()});
}

DaemonError error(DaemonError::Kind kind, std::string detail = {}) {
  return DaemonError{kind, std::move(detail)};
}

}  // namespace

std::uint32_t button_code(PointerButton button) {
  switch (button) {
    case PointerButton::Left:
      return 272;
    case PointerButton::Middle:
      return 274;
    case PointerButton::Right:
      return 273;
  }
  return 272;
}

std::int32_t scroll_notches(double amount) {
  double notches = std::round(amount / 15.0);
  if (!(notches >= 1.0)) return 1;  // also catches NaN
  if (notches >= static_cast<double>(std::numeric_limits<std::int32_t>::max())) {
    return std::numeric_limits<std::int32_t>::max();
  }
  return static_cast<std::int32_t>(notches);
}

std::uint32_t event_time_ms() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  std::uint64_t ms = static_cast<std::uint64_t>(now.tv_sec) * 1000u +
                     static_cast<std::uint64_t>(now.tv_nsec) / 1'000'000u;
  return static_cast<std::uint32_t>(ms);
}

WaylandDisplay::WaylandDisplay(DisplayHandle display, std::string seat_name,
                               std::unique_ptr<CompositorControl> compositor)
    : display_(std::move(display)),
      seat_name_(std::move(seat_name)),
      compositor_(std::move(compositor)) {}

WaylandDisplay::~WaylandDisplay() {
  if (source_ && loop_) loop_->remove_fd(*source_);
  im_grab_.reset();
  cancel_captures();
  keyboard_.reset();
  if (inhibitor_) zwp_keyboard_shortcuts_inhibitor_v1_destroy(inhibitor_);
  overlays_.clear();
  if (virtual_pointer_) zwlr_virtual_pointer_v1_destroy(virtual_pointer_);
  chosen_seat_.reset();
  output_objects_.clear();
  output_tracker_.reset();
  seats_.reset();
  drawing_.clear();
  overlay_pool_.reset();
  capture_pool_.reset();
  if (screencopy_manager_) zwlr_screencopy_manager_v1_destroy(screencopy_manager_);
  if (virtual_pointer_manager_) zwlr_virtual_pointer_manager_v1_destroy(virtual_pointer_manager_);
  if (inhibit_manager_) zwp_keyboard_shortcuts_inhibit_manager_v1_destroy(inhibit_manager_);
  if (shm_) wl_shm_destroy(shm_);
  if (layer_shell_) zwlr_layer_shell_v1_destroy(layer_shell_);
  if (wl_compositor_) wl_compositor_destroy(wl_compositor_);
  globals_.reset();
  if (registry_) wl_registry_destroy(registry_);
  if (display_) wl_display_flush(display_.get());
}

std::expected<std::unique_ptr<WaylandDisplay>, DaemonError> WaylandDisplay::connect(
    std::optional<std::string> seat, std::unique_ptr<CompositorControl> compositor) {
  wl_log_set_handler_client(&wayland_log_handler);

  // Step 3.
  auto handle = connect_display();
  if (!handle) return std::unexpected(error(DaemonError::Kind::Connect, handle.error()));
  std::unique_ptr<WaylandDisplay> self(new WaylandDisplay(
      std::move(*handle), seat.value_or(kDefaultSeatName), std::move(compositor)));
  wl_display* display = self->display_.get();

  // Step 4.
  self->registry_ = wl_display_get_registry(display);
  self->globals_ =
      std::make_unique<GlobalList>(self->registry_, hidden_globals_from_environment());
  if (wl_display_roundtrip(display) < 0) {
    return std::unexpected(error(DaemonError::Kind::Globals, self->connection_error().text));
  }

  // Step 5.
  auto compositor_proxy = self->globals_->bind(&wl_compositor_interface, 1, 6);
  if (!compositor_proxy) {
    return std::unexpected(error(DaemonError::Kind::MissingGlobal, compositor_proxy.error()));
  }
  self->wl_compositor_ = static_cast<wl_compositor*>(*compositor_proxy);
  auto shell = self->globals_->bind(&zwlr_layer_shell_v1_interface, 1, 4);
  if (!shell) return std::unexpected(error(DaemonError::Kind::MissingGlobal, shell.error()));
  self->layer_shell_ = static_cast<zwlr_layer_shell_v1*>(*shell);
  auto shm = self->globals_->bind(&wl_shm_interface, 1, 1);
  if (!shm) return std::unexpected(error(DaemonError::Kind::MissingGlobal, shm.error()));
  self->shm_ = static_cast<wl_shm*>(*shm);

  // Step 6: optional globals are simply absent when missing or too old.
  if (auto inhibit = self->globals_->bind(&zwp_keyboard_shortcuts_inhibit_manager_v1_interface, 1, 1)) {
    self->inhibit_manager_ = static_cast<zwp_keyboard_shortcuts_inhibit_manager_v1*>(*inhibit);
  }
  if (auto pointer = self->globals_->bind(&zwlr_virtual_pointer_manager_v1_interface, 2, 2)) {
    self->virtual_pointer_manager_ = static_cast<zwlr_virtual_pointer_manager_v1*>(*pointer);
  }
  if (auto copy = self->globals_->bind(&zwlr_screencopy_manager_v1_interface, 3, 3)) {
    self->screencopy_manager_ = static_cast<zwlr_screencopy_manager_v1*>(*copy);
  }

  // Step 7.
  TARVIK_LOG(Debug, kTarget,
             "bound optional Wayland globals shortcut_inhibit={} virtual_pointer={} screencopy={}",
             self->inhibit_manager_ != nullptr, self->virtual_pointer_manager_ != nullptr,
             self->screencopy_manager_ != nullptr);
  return self;
}

std::expected<void, DaemonError> WaylandDisplay::create_pools() {
  auto overlay = ShmPool::create(shm_, kIdlePoolBytes);
  if (!overlay) return std::unexpected(error(DaemonError::Kind::Shm, overlay.error()));
  overlay_pool_.emplace(std::move(*overlay));
  auto capture = ShmPool::create(shm_, kIdlePoolBytes);
  if (!capture) return std::unexpected(error(DaemonError::Kind::Shm, capture.error()));
  capture_pool_.emplace(std::move(*capture));
  return {};
}

void WaylandDisplay::start_tracking(EventLoop& loop) {
  loop_ = &loop;
  seats_ = std::make_unique<SeatTracker>(*globals_);
  seats_->set_listener(SeatTracker::Listener{
      .capabilities = [this](TrackedSeat& seat, std::uint32_t before) {
        seat_capabilities(seat, before);
      },
      .added = [this](TrackedSeat& seat) { seat_added(seat); },
      .removed = [this](const TrackedSeat& seat) { seat_removed(seat); },
  });
  output_tracker_ = std::make_unique<OutputTracker>(*globals_);
  output_tracker_->set_listener([this](OutputTracker::Event event) {
    // Until the first overlays exist, start-up itself reads what the tracking learnt.
    if (overlays_.empty()) return;
    switch (event) {
      case OutputTracker::Event::Added:
        output_changed("output added");
        break;
      case OutputTracker::Event::Changed:
        output_changed("output changed");
        break;
      case OutputTracker::Event::Removed:
        output_changed("output removed");
        break;
    }
  });
  globals_->observe(GlobalList::Observer{
      .added = [this](const GlobalEntry& entry) { global_added(entry); },
      .removed = [this](const GlobalEntry& entry) { global_removed(entry); },
  });
}

void WaylandDisplay::global_added(const GlobalEntry& entry) {
  seats_->global_added(entry);
  output_tracker_->global_added(entry);
}

void WaylandDisplay::global_removed(const GlobalEntry& entry) {
  seats_->global_removed(entry);
  output_tracker_->global_removed(entry);
}

std::expected<void, DaemonError> WaylandDisplay::dispatch_roundtrip() {
  if (wl_display_roundtrip(display_.get()) < 0) {
    return std::unexpected(error(DaemonError::Kind::Dispatch, connection_error().text));
  }
  return {};
}

// ----- Seats -------------------------------------------------------------------------------

std::expected<void, DaemonError> WaylandDisplay::choose_seat() {
  for (const auto& seat : seats_->seats()) {
    if (!seat_qualifies(*seat, seat_name_)) continue;
    if (auto bound = bind_keyboard(seat); !bound) {
      return std::unexpected(error(DaemonError::Kind::MissingGlobal, bound.error()));
    }
    return {};
  }
  return std::unexpected(error(DaemonError::Kind::NoSeat));
}

std::expected<void, std::string> WaylandDisplay::bind_keyboard(
    const std::shared_ptr<TrackedSeat>& seat) {
  if (seat->removed || !seat->seat) return std::unexpected(std::string("the seat is dead"));
  if (!seat->has_keyboard()) {
    return std::unexpected(std::string("the capability \"keyboard\" is not supported"));
  }
  keyboard_.reset();
  keyboard_ = std::make_unique<SeatKeyboard>(
      seat->seat, *loop_,
      SeatKeyboard::Events{
          .key = [this](const KeyEvent& event) { keyboard_key(event); },
          .focus = [this](bool focused, wl_surface* surface) { keyboard_focus(focused, surface); },
      });
  chosen_seat_ = seat;
  return {};
}

void WaylandDisplay::forget_keyboard() { keyboard_.reset(); }

void WaylandDisplay::seat_capabilities(TrackedSeat& seat, std::uint32_t before) {
  bool had = (before & WL_SEAT_CAPABILITY_KEYBOARD) != 0;
  bool has = seat.has_keyboard();
  if (had && !has) {
    // Any seat's loss counts: the keyboard cannot be told apart from the device that left.
    if (keyboard_) forget_keyboard();
    if (events_) events_->on_cancel();
    return;
  }
  if (!had && has && seat.effective_name() == seat_name_) {
    bool is_chosen = chosen_seat_.get() == &seat;
    if (is_chosen || (!keyboard_ && !overlays_.empty())) {
      auto shared = std::find_if(seats_->seats().begin(), seats_->seats().end(),
                                 [&](const auto& s) { return s.get() == &seat; });
      if (shared == seats_->seats().end()) return;
      if (auto bound = bind_keyboard(*shared); !bound) {
        TARVIK_LOG(Warn, kTarget, "cannot rebind keyboard after capability returned: {}",
                   bound.error());
      }
    }
  }
}

void WaylandDisplay::seat_added(TrackedSeat& seat) {
  if (!seat.has_keyboard() || seat.effective_name() != seat_name_ || chosen_seat_ ||
      overlays_.empty()) {
    return;
  }
  auto shared = std::find_if(seats_->seats().begin(), seats_->seats().end(),
                             [&](const auto& s) { return s.get() == &seat; });
  if (shared == seats_->seats().end()) return;
  if (auto bound = bind_keyboard(*shared); !bound) {
    TARVIK_LOG(Warn, kTarget, "cannot rebind keyboard after seat appeared: {}", bound.error());
  }
}

void WaylandDisplay::seat_removed(const TrackedSeat&) {
  forget_keyboard();
  chosen_seat_.reset();
  if (events_) events_->on_cancel();
}

void WaylandDisplay::keyboard_key(const KeyEvent& event) {
  if (capture_active_ && events_) events_->on_key(event);
}

void WaylandDisplay::keyboard_focus(bool focused, wl_surface*) {
  TARVIK_LOG(Debug, kTarget, "keyboard focus {}", focused ? "entered" : "left");
  if (events_) events_->on_keyboard_focus(focused);
}

// ----- Outputs -----------------------------------------------------------------------------

std::expected<bool, DaemonError> WaylandDisplay::reconcile_outputs() {
  auto usable = usable_outputs(output_tracker_->infos());
  if (!usable) return std::unexpected(error(DaemonError::Kind::MissingGlobal, usable.error()));
  std::vector<OutputRecord> records;
  std::vector<std::shared_ptr<TrackedOutput>> objects;
  for (const auto& [record, index] : *usable) {
    records.push_back(record);
    objects.push_back(output_tracker_->outputs()[index]);
  }
  if (same_layout(records, outputs_)) return false;
  for (const auto& r : records) {
    TARVIK_LOG(Debug, kTarget, "output available name={} position={},{} size={}x{}", r.name, r.x,
               r.y, r.width, r.height);
  }
  outputs_ = std::move(records);
  output_objects_ = std::move(objects);
  return true;
}

void WaylandDisplay::output_changed(const char* reason) {
  auto changed = reconcile_outputs();
  if (!changed) {
    TARVIK_LOG(Debug, kTarget, "output reconciliation deferred reason={}: {}", reason,
               changed.error().message());
    return;
  }
  if (!*changed) return;
  TARVIK_LOG(Info, kTarget, "rebuilding output surfaces reason={}", reason);
  rebuild_output_surfaces();
}

void WaylandDisplay::rebuild_output_surfaces() {
  if (events_) events_->on_cancel();
  destroy_overlays();
  if (virtual_pointer_) {
    zwlr_virtual_pointer_v1_destroy(virtual_pointer_);
    virtual_pointer_ = nullptr;
  }
  create_virtual_pointer();
  create_overlays();
}

wl_output* WaylandDisplay::output_object(const std::string& name) const {
  for (std::size_t i = 0; i < outputs_.size(); ++i) {
    if (outputs_[i].name == name) return output_objects_[i]->output();
  }
  return nullptr;
}

// ----- Overlays ----------------------------------------------------------------------------

void WaylandDisplay::create_overlays() {
  for (std::size_t i = 0; i < outputs_.size(); ++i) {
    const OutputRecord& record = outputs_[i];
    overlays_.push_back(std::make_unique<OverlaySurface>(
        wl_compositor_, layer_shell_, output_objects_[i]->output(), record.name, record.width,
        record.height,
        OverlaySurface::Events{
            .configured = [this](OverlaySurface& overlay) { overlay_configured(overlay); },
            .closed = [this](OverlaySurface& overlay) { overlay_closed(overlay); },
        }));
  }
  sync_overlay_view();
}

void WaylandDisplay::destroy_overlays() {
  overlays_.clear();
  sync_overlay_view();
}

void WaylandDisplay::sync_overlay_view() {
  overlay_view_.clear();
  for (const auto& overlay : overlays_) {
    overlay_view_.push_back(Overlay{overlay->name(), overlay->configured(),
                                    static_cast<std::uint32_t>(overlay->width()),
                                    static_cast<std::uint32_t>(overlay->height())});
  }
}

void WaylandDisplay::overlay_configured(OverlaySurface&) {
  sync_overlay_view();
  if (events_) events_->on_configured_redraw();
}

void WaylandDisplay::overlay_closed(OverlaySurface& overlay) {
  bool ours = std::any_of(overlays_.begin(), overlays_.end(),
                          [&](const auto& o) { return o.get() == &overlay; });
  if (!ours) return;
  // With an output gone and no reconciliation possible (it was the last one), new overlays
  // would go onto its dead wl_output and be closed again at once, over and over. End the mode
  // and leave the closed overlays until an output event reconciles and rebuilds.
  const bool output_gone = std::any_of(
      output_objects_.begin(), output_objects_.end(), [&](const auto& object) {
        const auto& tracked = output_tracker_->outputs();
        return std::find(tracked.begin(), tracked.end(), object) == tracked.end();
      });
  if (output_gone) {
    TARVIK_LOG(Warn, kTarget,
               "overlay closed on a removed output output={}; waiting for an output change",
               overlay.name());
    sync_overlay_view();
    if (events_) events_->on_cancel();
    return;
  }
  TARVIK_LOG(Warn, kTarget, "overlay closed; rebuilding output surfaces");
  rebuild_output_surfaces();
}

OverlaySurface* WaylandDisplay::find_overlay(const std::string& name, bool configured_only) {
  for (const auto& overlay : overlays_) {
    if (overlay->name() == name && (!configured_only || overlay->configured())) {
      return overlay.get();
    }
  }
  return nullptr;
}

std::expected<ShmBuffer, std::string> WaylandDisplay::overlay_buffer(
    const std::string& output, std::span<const std::uint8_t> pixels, std::uint32_t width,
    std::uint32_t height) {
  OverlaySurface* overlay = find_overlay(output, true);
  if (!overlay) return std::unexpected(overlay_unavailable(output));
  if (width == 0 || height == 0 ||
      width > static_cast<std::uint32_t>(std::numeric_limits<std::int32_t>::max() / 4) ||
      static_cast<std::uint64_t>(width) * height * 4 >
          static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max())) {
    return std::unexpected(std::string(kBufferTooLarge));
  }
  std::size_t bytes = static_cast<std::size_t>(width) * height * 4;
  if (!pixels.empty() && pixels.size() != bytes) {
    return std::unexpected(fmt::format("frame for output {} has {} bytes; expected {}", output,
                                       pixels.size(), bytes));
  }
  if (auto grown = overlay_pool_->ensure_length(std::max(bytes, kIdlePoolBytes)); !grown) {
    return std::unexpected(grown.error());
  }
  return overlay_pool_->create_buffer(static_cast<std::int32_t>(width),
                                      static_cast<std::int32_t>(height),
                                      static_cast<std::int32_t>(width * 4), ShmPool::kArgb8888);
}

Status WaylandDisplay::show_buffer(const std::string& output, ShmBuffer& buffer,
                                   std::uint32_t width, std::uint32_t height) {
  OverlaySurface* overlay = find_overlay(output, true);
  if (!overlay) return std::unexpected(overlay_unavailable(output));
  if (auto attached = buffer.attach(overlay->surface()); !attached) {
    return std::unexpected(attached.error());
  }
  wl_surface_damage_buffer(overlay->surface(), 0, 0, static_cast<std::int32_t>(width),
                           static_cast<std::int32_t>(height));
  overlay->commit();
  // Monotonic commit time (CLOCK_MONOTONIC), the far end of key-to-frame latency in the log.
  TARVIK_LOG(Trace, kTarget, "overlay committed output={} size={}x{} t_ns={}", output, width,
             height, std::chrono::steady_clock::now().time_since_epoch().count());
  return {};
}

Status WaylandDisplay::present(const std::string& output, std::span<const std::uint8_t> pixels,
                               std::uint32_t width, std::uint32_t height) {
  auto buffer = overlay_buffer(output, pixels, width, height);
  if (!buffer) return std::unexpected(buffer.error());
  auto target = buffer->bytes();
  if (pixels.empty()) {
    std::fill(target.begin(), target.end(), std::uint8_t{0});
  } else {
    std::copy(pixels.begin(), pixels.end(), target.begin());
  }
  return show_buffer(output, *buffer, width, height);
}

std::expected<FrameTarget, std::string> WaylandDisplay::frame_target(const std::string& output,
                                                                     std::uint32_t width,
                                                                     std::uint32_t height) {
  auto buffer = overlay_buffer(output, {}, width, height);
  if (!buffer) return std::unexpected(buffer.error());
  FrameTarget target{output, width, height, buffer->bytes(), {}};
  // An earlier target of this output that was never presented is given back.
  std::erase_if(drawing_, [&](const auto& entry) { return entry.first == output; });
  drawing_.emplace_back(output, std::move(*buffer));
  return target;
}

Status WaylandDisplay::present_frame(FrameTarget target) {
  auto entry = std::find_if(drawing_.begin(), drawing_.end(),
                            [&](const auto& e) { return e.first == target.output; });
  if (entry == drawing_.end()) return std::unexpected(overlay_unavailable(target.output));
  ShmBuffer buffer = std::move(entry->second);
  drawing_.erase(entry);
  return show_buffer(target.output, buffer, target.width, target.height);
}

Status WaylandDisplay::park_overlays() {
  std::size_t length = kParkedBytesPerOverlay * std::max<std::size_t>(overlays_.size(), 1);
  // Renewed, not replaced: the compositor may still read the mode's last buffers, which must
  // outlive the old mapping until released yet be destroyed with the pool at teardown.
  if (auto renewed = overlay_pool_->renew(length); !renewed) {
    return std::unexpected(renewed.error());
  }
  for (const auto& overlay : overlays_) {
    if (!overlay->configured()) continue;
    auto buffer = overlay_pool_->create_buffer(1, 1, 4, ShmPool::kArgb8888);
    if (!buffer) return std::unexpected(buffer.error());
    auto pixel = buffer->bytes();
    std::fill(pixel.begin(), pixel.end(), std::uint8_t{0});
    overlay->set_keyboard_and_size(ZWLR_LAYER_SURFACE_V1_KEYBOARD_INTERACTIVITY_NONE, 1, 1);
    if (auto attached = buffer->attach(overlay->surface()); !attached) {
      return std::unexpected(attached.error());
    }
    wl_surface_damage_buffer(overlay->surface(), 0, 0, 1, 1);
    overlay->commit();
  }
  if (capture_pool_->length() > kIdlePoolBytes) {
    if (auto renewed = capture_pool_->renew(kIdlePoolBytes); !renewed) {
      return std::unexpected(renewed.error());
    }
  }
  return {};
}

std::size_t WaylandDisplay::overlay_pool_length() const {
  return overlay_pool_ ? overlay_pool_->length() : 0;
}

std::size_t WaylandDisplay::capture_pool_length() const {
  return capture_pool_ ? capture_pool_->length() : 0;
}

// ----- Keyboard capture --------------------------------------------------------------------

namespace {

void inhibitor_active(void*, zwp_keyboard_shortcuts_inhibitor_v1*) {}

void inhibitor_inactive(void* data, zwp_keyboard_shortcuts_inhibitor_v1*) {
  auto* events = *static_cast<BackendEvents**>(data);
  if (events) events->on_inhibitor_inactive();
}

const zwp_keyboard_shortcuts_inhibitor_v1_listener inhibitor_listener = {
    .active = &inhibitor_active,
    .inactive = &inhibitor_inactive,
};

}  // namespace

Status WaylandDisplay::capture_keyboard(const std::string& output, bool preserve_focus) {
  if (preserve_focus) return capture_with_grab(output);
  OverlaySurface* target = find_overlay(output, true);
  if (!target) return std::unexpected(overlay_unavailable(output));
  for (const auto& overlay : overlays_) {
    if (!overlay->configured() || overlay.get() == target) continue;
    overlay->set_keyboard_and_size(ZWLR_LAYER_SURFACE_V1_KEYBOARD_INTERACTIVITY_NONE,
                                   overlay->width(), overlay->height());
    overlay->commit();
  }
  target->set_keyboard_and_size(ZWLR_LAYER_SURFACE_V1_KEYBOARD_INTERACTIVITY_EXCLUSIVE,
                                target->width(), target->height());
  target->commit();
  if (inhibit_manager_ && chosen_seat_ && chosen_seat_->seat) {
    if (inhibitor_) zwp_keyboard_shortcuts_inhibitor_v1_destroy(inhibitor_);
    inhibitor_ = zwp_keyboard_shortcuts_inhibit_manager_v1_inhibit_shortcuts(
        inhibit_manager_, target->surface(), chosen_seat_->seat);
    zwp_keyboard_shortcuts_inhibitor_v1_add_listener(inhibitor_, &inhibitor_listener, &events_);
  }
  capture_active_ = true;
  return {};
}

Status WaylandDisplay::capture_with_grab(const std::string& output) {
  if (!find_overlay(output, true)) return std::unexpected(overlay_unavailable(output));
  ++input_generation_;
  // A grab still holding the seat would make the compositor refuse the new input method.
  im_grab_.reset();
  auto grab = InputMethodGrab::start(
      *loop_, seat_name_, input_generation_,
      GrabSink{
          .input_generation = [this] { return input_generation_; },
          .key = [this](const KeyEvent& event) { keyboard_key(event); },
          .lost = [this](const std::string&) {
            if (events_) events_->on_cancel();
          },
      });
  if (!grab) return std::unexpected(grab.error());
  // The overlays are shown, but none takes the keyboard and nothing inhibits shortcuts.
  for (const auto& overlay : overlays_) {
    if (!overlay->configured()) continue;
    overlay->set_keyboard_and_size(ZWLR_LAYER_SURFACE_V1_KEYBOARD_INTERACTIVITY_NONE,
                                   overlay->width(), overlay->height());
    overlay->commit();
  }
  im_grab_ = std::move(*grab);
  capture_active_ = true;
  return {};
}

void WaylandDisplay::release_keyboard() {
  im_grab_.reset();
  if (inhibitor_) {
    zwp_keyboard_shortcuts_inhibitor_v1_destroy(inhibitor_);
    inhibitor_ = nullptr;
  }
  capture_active_ = false;
}

// ----- Pointer output ----------------------------------------------------------------------

void WaylandDisplay::create_virtual_pointer() {
  if (virtual_pointer_manager_ && chosen_seat_ && chosen_seat_->seat) {
    if (virtual_pointer_) zwlr_virtual_pointer_v1_destroy(virtual_pointer_);
    virtual_pointer_ = zwlr_virtual_pointer_manager_v1_create_virtual_pointer(
        virtual_pointer_manager_, chosen_seat_->seat);
    return;
  }
  TARVIK_LOG(Warn, kTarget, "virtual pointer unavailable; using compositor cursor commands");
}

void WaylandDisplay::release_orphaned_buttons() {
  // The seat drops a release of a button that is not down (Sway sends the focused client
  // nothing), so this is harmless after a clean exit; after a killed daemon it is the only way
  // the button comes up.
  constexpr PointerButton kButtons[] = {PointerButton::Left, PointerButton::Middle,
                                        PointerButton::Right};
  if (!virtual_pointer_) {
    // The earlier daemon pressed through the cursor commands, so it is released the same way.
    for (const PointerButton button : kButtons) {
      if (auto released = compositor_->cursor_button(seat_name_, button, true); !released) {
        TARVIK_LOG(Warn, kTarget, "cannot release buttons at start-up: {}",
                   released.error().message());
        return;
      }
    }
    return;
  }
  const std::uint32_t time = event_time_ms();
  for (const PointerButton button : kButtons) send_virtual_button(time, button_code(button), false);
  zwlr_virtual_pointer_v1_frame(virtual_pointer_);
}

void WaylandDisplay::send_virtual_button(std::uint32_t time, std::uint32_t code, bool pressed) {
  zwlr_virtual_pointer_v1_button(
      virtual_pointer_, time, code,
      pressed ? WL_POINTER_BUTTON_STATE_PRESSED : WL_POINTER_BUTTON_STATE_RELEASED);
}

PointerStatus WaylandDisplay::click(PointerButton button) {
  if (!virtual_pointer_) return from_sway(compositor_->cursor_click(seat_name_, button));
  std::uint32_t time = event_time_ms();
  send_virtual_button(time, button_code(button), true);
  send_virtual_button(time, button_code(button), false);
  zwlr_virtual_pointer_v1_frame(virtual_pointer_);
  return {};
}

PointerStatus WaylandDisplay::set_button(PointerButton button, bool release) {
  if (!virtual_pointer_) return from_sway(compositor_->cursor_button(seat_name_, button, release));
  send_virtual_button(event_time_ms(), button_code(button), !release);
  zwlr_virtual_pointer_v1_frame(virtual_pointer_);
  return {};
}

PointerStatus WaylandDisplay::scroll(ScrollDirection direction, double step) {
  if (!virtual_pointer_) return from_sway(compositor_->cursor_scroll(seat_name_, direction, step));
  std::uint32_t time = event_time_ms();
  ScrollAxis axis = scroll_axis(direction);
  zwlr_virtual_pointer_v1_axis_source(virtual_pointer_, WL_POINTER_AXIS_SOURCE_WHEEL);
  zwlr_virtual_pointer_v1_axis_discrete(virtual_pointer_, time, axis.axis,
                                        wl_fixed_from_double(step * axis.sign),
                                        axis.sign * scroll_notches(step));
  zwlr_virtual_pointer_v1_frame(virtual_pointer_);
  return {};
}

PointerStatus WaylandDisplay::move_pointer(double dx, double dy) {
  if (!virtual_pointer_) {
    const auto amounts = move_carry_.amounts(dx, dy);
    auto moved = compositor_->cursor_move(seat_name_, amounts.dx, amounts.dy);
    if (moved) move_carry_.sent(amounts);
    return from_sway(std::move(moved));
  }
  zwlr_virtual_pointer_v1_motion(virtual_pointer_, event_time_ms(), wl_fixed_from_double(dx),
                                 wl_fixed_from_double(dy));
  zwlr_virtual_pointer_v1_frame(virtual_pointer_);
  return {};
}

// ----- Screen capture ----------------------------------------------------------------------

// Listeners of zwlr_screencopy_frame_v1; the data is the display, the capture is found by its
// frame (a cancelled capture's frame is destroyed and never heard of again).
struct CaptureListeners {
  static WaylandDisplay::InFlightCapture* capture(void* data, zwlr_screencopy_frame_v1* frame) {
    return static_cast<WaylandDisplay*>(data)->find_capture(frame);
  }

  static void buffer(void* data, zwlr_screencopy_frame_v1* frame, std::uint32_t format,
                     std::uint32_t width, std::uint32_t height, std::uint32_t stride) {
    auto* c = capture(data, frame);
    if (!c || !capture_format_accepted(format)) return;
    c->format = format;
    c->width = width;
    c->height = height;
    c->stride = stride;
  }

  static void flags(void* data, zwlr_screencopy_frame_v1* frame, std::uint32_t flags) {
    if (auto* c = capture(data, frame)) {
      c->y_invert = (flags & ZWLR_SCREENCOPY_FRAME_V1_FLAGS_Y_INVERT) != 0;
    }
  }

  static void ready(void* data, zwlr_screencopy_frame_v1* frame, std::uint32_t, std::uint32_t,
                    std::uint32_t) {
    if (auto* c = capture(data, frame)) static_cast<WaylandDisplay*>(data)->capture_ready(*c);
  }

  static void failed(void* data, zwlr_screencopy_frame_v1* frame) {
    auto* c = capture(data, frame);
    if (!c) return;
    TARVIK_LOG(Warn, kTarget,
               "Wayland screencopy failed; refinement will continue without a captured "
               "background");
    static_cast<WaylandDisplay*>(data)->finish_capture(
        *c, std::unexpected(std::string("screencopy failed")));
  }

  static void damage(void*, zwlr_screencopy_frame_v1*, std::uint32_t, std::uint32_t,
                     std::uint32_t, std::uint32_t) {}

  static void linux_dmabuf(void*, zwlr_screencopy_frame_v1*, std::uint32_t, std::uint32_t,
                           std::uint32_t) {}

  static void buffer_done(void* data, zwlr_screencopy_frame_v1* frame) {
    if (auto* c = capture(data, frame)) {
      static_cast<WaylandDisplay*>(data)->capture_buffer_done(*c);
    }
  }
};

namespace {

const zwlr_screencopy_frame_v1_listener frame_listener = {
    .buffer = &CaptureListeners::buffer,
    .flags = &CaptureListeners::flags,
    .ready = &CaptureListeners::ready,
    .failed = &CaptureListeners::failed,
    .damage = &CaptureListeners::damage,
    .linux_dmabuf = &CaptureListeners::linux_dmabuf,
    .buffer_done = &CaptureListeners::buffer_done,
};

}  // namespace

Status WaylandDisplay::request_capture(const std::string& output, std::uint64_t serial) {
  if (!screencopy_manager_) return std::unexpected(std::string("screen capture is unavailable"));
  auto record = std::find_if(outputs_.begin(), outputs_.end(),
                             [&](const OutputRecord& r) { return r.name == output; });
  if (record == outputs_.end()) {
    return std::unexpected(fmt::format("output {} disappeared before capture", output));
  }
  // The capture must show the desktop, not the grid drawn over it.
  if (auto cleared = present(output, {}, static_cast<std::uint32_t>(record->width),
                             static_cast<std::uint32_t>(record->height));
      !cleared) {
    return cleared;
  }
  auto capture = std::make_unique<InFlightCapture>();
  capture->frame = zwlr_screencopy_manager_v1_capture_output(
      screencopy_manager_, 0, output_objects_[record - outputs_.begin()]->output());
  capture->output = output;
  capture->serial = serial;
  capture->logical_width = static_cast<std::uint32_t>(record->width);
  capture->logical_height = static_cast<std::uint32_t>(record->height);
  zwlr_screencopy_frame_v1_add_listener(capture->frame, &frame_listener, this);
  captures_.push_back(std::move(capture));
  return {};
}

void WaylandDisplay::cancel_captures() {
  for (auto& capture : captures_) {
    zwlr_screencopy_frame_v1_destroy(capture->frame);
    if (capture->buffer) capture->buffer->mark_released();
  }
  captures_.clear();
}

WaylandDisplay::InFlightCapture* WaylandDisplay::find_capture(zwlr_screencopy_frame_v1* frame) {
  for (auto& capture : captures_) {
    if (capture->frame == frame) return capture.get();
  }
  return nullptr;
}

void WaylandDisplay::capture_buffer_done(InFlightCapture& capture) {
  if (!capture.format) {
    finish_capture(capture, std::unexpected(std::string("no supported screencopy format")));
    return;
  }
  if (capture.width > static_cast<std::uint32_t>(std::numeric_limits<std::int32_t>::max()) ||
      capture.height > static_cast<std::uint32_t>(std::numeric_limits<std::int32_t>::max()) ||
      capture.stride > static_cast<std::uint32_t>(std::numeric_limits<std::int32_t>::max())) {
    std::fprintf(stderr, "tarvik: cannot allocate screencopy buffer: %s\n", kBufferTooLarge);
    finish_capture(capture, std::unexpected(std::string(kBufferTooLarge)));
    return;
  }
  auto buffer = capture_pool_->create_buffer(static_cast<std::int32_t>(capture.width),
                                             static_cast<std::int32_t>(capture.height),
                                             static_cast<std::int32_t>(capture.stride),
                                             *capture.format);
  if (!buffer) {
    std::fprintf(stderr, "tarvik: cannot allocate screencopy buffer: %s\n",
                 buffer.error().c_str());
    finish_capture(capture, std::unexpected(buffer.error()));
    return;
  }
  auto bytes = buffer->bytes();
  std::fill(bytes.begin(), bytes.end(), std::uint8_t{0});
  if (buffer->active()) {
    std::fprintf(stderr, "tarvik: cannot activate screencopy buffer: %s\n", kBufferAlreadyActive);
    finish_capture(capture, std::unexpected(std::string(kBufferAlreadyActive)));
    return;
  }
  buffer->mark_active();
  zwlr_screencopy_frame_v1_copy(capture.frame, buffer->buffer());
  capture.buffer.emplace(std::move(*buffer));
}

void WaylandDisplay::capture_ready(InFlightCapture& capture) {
  if (!capture.buffer || !capture.buffer->belongs_to(*capture_pool_)) {
    finish_capture(capture, std::unexpected(std::string("the screencopy buffer is gone")));
    return;
  }
  auto image = convert_capture(capture.buffer->bytes(), *capture.format, capture.width,
                               capture.height, capture.stride, capture.y_invert);
  if (!image) {
    finish_capture(capture, std::unexpected(image.error()));
    return;
  }
  finish_capture(capture, HeldCapture{std::move(*image), capture.width, capture.height,
                                      capture.logical_width, capture.logical_height});
}

void WaylandDisplay::finish_capture(InFlightCapture& capture,
                                    std::expected<HeldCapture, std::string> result) {
  auto it = std::find_if(captures_.begin(), captures_.end(),
                         [&](const auto& c) { return c.get() == &capture; });
  if (it == captures_.end()) return;
  // Out of the list before the controller runs: it may cancel every other capture.
  std::unique_ptr<InFlightCapture> done = std::move(*it);
  captures_.erase(it);
  zwlr_screencopy_frame_v1_destroy(done->frame);
  if (done->buffer) done->buffer->mark_released();
  if (events_) events_->on_capture(done->output, done->serial, std::move(result));
}

// ----- Loop integration --------------------------------------------------------------------

namespace {

void sync_done(void* data, wl_callback* callback, std::uint32_t) {
  *static_cast<bool*>(data) = true;
  wl_callback_destroy(callback);
}

const wl_callback_listener sync_listener = {.done = &sync_done};

}  // namespace

Status WaylandDisplay::roundtrip() {
  // On a private queue, so that nothing but the sync's own answer is dispatched here; events
  // for the main queue read meanwhile wait for the Wayland source.
  wl_display* display = display_.get();
  wl_event_queue* queue = wl_display_create_queue(display);
  auto* wrapper = static_cast<wl_display*>(wl_proxy_create_wrapper(display));
  wl_proxy_set_queue(reinterpret_cast<wl_proxy*>(wrapper), queue);
  wl_callback* callback = wl_display_sync(wrapper);
  wl_proxy_wrapper_destroy(wrapper);
  bool done = false;
  wl_callback_add_listener(callback, &sync_listener, &done);
  Status result;
  while (!done) {
    if (wl_display_dispatch_queue(display, queue) < 0) {
      result = std::unexpected(connection_error().text);
      break;
    }
  }
  if (!done) wl_callback_destroy(callback);
  wl_event_queue_destroy(queue);
  return result;
}

Status WaylandDisplay::schedule_timer(TimerKind kind, std::uint64_t token,
                                      std::chrono::nanoseconds delay) {
  auto timer = loop_->add_timer(delay, [this, kind, token]() -> EventLoop::Result {
    if (events_) events_->on_timer(kind, token);
    return {};
  });
  if (!timer) return std::unexpected(timer.error().message());
  return {};
}

EventLoopError WaylandDisplay::connection_error() {
  wl_display* display = display_.get();
  int code = wl_display_get_error(display);
  if (code == EPROTO) {
    const wl_interface* interface = nullptr;
    std::uint32_t id = 0;
    std::uint32_t protocol_code = wl_display_get_protocol_error(display, &interface, &id);
    std::string text =
        fmt::format("Protocol error {} on object {}@{}: {}", protocol_code,
                    interface ? interface->name : "unknown", id, last_protocol_message());
    std::fprintf(stderr, "Protocol error received on display: %s\n", text.c_str());
    std::fflush(stderr);
    return EventLoopError{text};
  }
  return EventLoopError{os_error_text(code != 0 ? code : errno)};
}

EventLoop::Result WaylandDisplay::flush() {
  wl_display* display = display_.get();
  if (wl_display_flush(display) < 0) {
    if (errno != EAGAIN) return std::unexpected(connection_error());
    // The socket is full: wait until it drains instead of spinning.
    if (!watching_writable_) {
      if (auto modified = loop_->modify_fd(*source_, EventLoop::readable | EventLoop::writable);
          !modified) {
        return modified;
      }
      watching_writable_ = true;
    }
    return {};
  }
  if (watching_writable_) {
    if (auto modified = loop_->modify_fd(*source_, EventLoop::readable); !modified) {
      return modified;
    }
    watching_writable_ = false;
  }
  return {};
}

EventLoop::Result WaylandDisplay::read_and_dispatch() {
  wl_display* display = display_.get();
  while (wl_display_prepare_read(display) != 0) {
    if (wl_display_dispatch_pending(display) < 0) return std::unexpected(connection_error());
  }
  if (wl_display_read_events(display) < 0) return std::unexpected(connection_error());
  if (wl_display_dispatch_pending(display) < 0) return std::unexpected(connection_error());
  return {};
}

std::expected<void, EventLoopError> WaylandDisplay::register_source(EventLoop& loop) {
  loop_ = &loop;
  auto id = loop.add_fd(wl_display_get_fd(display_.get()), EventLoop::readable,
                        [this](std::uint32_t events) -> EventLoop::Result {
                          if (events & EventLoop::writable) {
                            if (auto flushed = flush(); !flushed) return flushed;
                          }
                          if (events & (EventLoop::readable | EventLoop::hangup |
                                        EventLoop::error)) {
                            return read_and_dispatch();
                          }
                          return {};
                        });
  if (!id) return std::unexpected(id.error());
  source_ = *id;
  // Events may sit in the queue without the socket being readable (a roundtrip read them, or
  // a handler queued more): dispatch them before every wait, then send what handlers queued.
  loop.add_before_wait([this]() -> EventLoop::Result {
    if (wl_display_dispatch_pending(display_.get()) < 0) {
      return std::unexpected(connection_error());
    }
    return flush();
  });
  return {};
}

}  // namespace tarvik
