// Seat tracking: every wl_seat with its name and capabilities, in announcement order.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "wayland/globals.h"

struct wl_seat;

namespace tarvik {

// A seat that has announced no name is the default seat.
inline constexpr const char* kDefaultSeatName = "seat0";

struct TrackedSeat {
  wl_seat* seat = nullptr;
  std::uint32_t global_name = 0;
  std::optional<std::string> name;
  std::uint32_t capabilities = 0;
  bool removed = false;  // its global is gone; kept alive only by a holder

  bool has_keyboard() const;
  const std::string& effective_name() const;
};

// True when `seat` can serve as the daemon's seat for `requested`: keyboard capability and an
// exact name match (an unnamed seat compares as kDefaultSeatName).
bool seat_qualifies(const TrackedSeat& seat, const std::string& requested);

class SeatTracker {
 public:
  struct Listener {
    // Capabilities changed from `before` to the seat's current ones.
    std::function<void(TrackedSeat&, std::uint32_t before)> capabilities;
    std::function<void(TrackedSeat&)> added;  // announced after the tracker was created
    std::function<void(const TrackedSeat&)> removed;
  };

  // Binds every advertised wl_seat at most at version 10 (announced later: at most 7).
  explicit SeatTracker(const GlobalList& globals);
  ~SeatTracker();
  SeatTracker(const SeatTracker&) = delete;
  SeatTracker& operator=(const SeatTracker&) = delete;

  void set_listener(Listener listener) { listener_ = std::move(listener); }
  void global_added(const GlobalEntry& entry);
  void global_removed(const GlobalEntry& entry);

  const std::vector<std::shared_ptr<TrackedSeat>>& seats() const { return seats_; }

 private:
  std::shared_ptr<TrackedSeat> track(const GlobalEntry& entry, std::uint32_t max_version);
  static void on_capabilities(void* data, wl_seat* seat, std::uint32_t capabilities);
  static void on_name(void* data, wl_seat* seat, const char* name);

  const GlobalList& globals_;
  std::vector<std::shared_ptr<TrackedSeat>> seats_;
  Listener listener_;
};

}  // namespace tarvik
