#include "wayland/seats.h"

#include <wayland-client.h>

#include <algorithm>
#include <string>

namespace tarvik {

bool TrackedSeat::has_keyboard() const {
  return (capabilities & WL_SEAT_CAPABILITY_KEYBOARD) != 0;
}

const std::string& TrackedSeat::effective_name() const {
  static const std::string fallback = kDefaultSeatName;
  return name ? *name : fallback;
}

bool seat_qualifies(const TrackedSeat& seat, const std::string& requested) {
  return !seat.removed && seat.has_keyboard() && seat.effective_name() == requested;
}

SeatTracker::SeatTracker(const GlobalList& globals) : globals_(globals) {
  for (const auto& entry : globals.entries()) {
    if (entry.interface == wl_seat_interface.name) track(entry, 10);
  }
}

SeatTracker::~SeatTracker() {
  for (auto& seat : seats_) {
    if (wl_proxy_get_version(reinterpret_cast<wl_proxy*>(seat->seat)) >=
        WL_SEAT_RELEASE_SINCE_VERSION) {
      wl_seat_release(seat->seat);
    } else {
      wl_seat_destroy(seat->seat);
    }
  }
}

std::shared_ptr<TrackedSeat> SeatTracker::track(const GlobalEntry& entry,
                                                std::uint32_t max_version) {
  static const wl_seat_listener listener = {
      .capabilities = &SeatTracker::on_capabilities,
      .name = &SeatTracker::on_name,
  };
  auto seat = std::make_shared<TrackedSeat>();
  seat->seat = static_cast<wl_seat*>(globals_.bind_entry(entry, &wl_seat_interface, max_version));
  seat->global_name = entry.name;
  wl_seat_add_listener(seat->seat, &listener, this);
  seats_.push_back(seat);
  return seat;
}

void SeatTracker::on_capabilities(void* data, wl_seat* proxy, std::uint32_t capabilities) {
  auto* self = static_cast<SeatTracker*>(data);
  auto it = std::find_if(self->seats_.begin(), self->seats_.end(),
                         [&](const auto& s) { return s->seat == proxy; });
  if (it == self->seats_.end()) return;
  std::shared_ptr<TrackedSeat> seat = *it;
  std::uint32_t before = seat->capabilities;
  seat->capabilities = capabilities;
  if (before != capabilities && self->listener_.capabilities) {
    self->listener_.capabilities(*seat, before);
  }
}

void SeatTracker::on_name(void* data, wl_seat* proxy, const char* name) {
  auto* self = static_cast<SeatTracker*>(data);
  auto it = std::find_if(self->seats_.begin(), self->seats_.end(),
                         [&](const auto& s) { return s->seat == proxy; });
  if (it != self->seats_.end()) (*it)->name = name;
}

void SeatTracker::global_added(const GlobalEntry& entry) {
  if (entry.interface != wl_seat_interface.name) return;
  auto seat = track(entry, 7);
  if (listener_.added) listener_.added(*seat);
}

void SeatTracker::global_removed(const GlobalEntry& entry) {
  auto it = std::find_if(seats_.begin(), seats_.end(),
                         [&](const auto& s) { return s->global_name == entry.name; });
  if (it == seats_.end()) return;
  std::shared_ptr<TrackedSeat> seat = *it;
  seats_.erase(it);
  seat->removed = true;
  if (listener_.removed) listener_.removed(*seat);
  if (wl_proxy_get_version(reinterpret_cast<wl_proxy*>(seat->seat)) >=
      WL_SEAT_RELEASE_SINCE_VERSION) {
    wl_seat_release(seat->seat);
  } else {
    wl_seat_destroy(seat->seat);
  }
  seat->seat = nullptr;
}

}  // namespace tarvik
