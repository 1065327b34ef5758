// Output tracking (every wl_output with its xdg-output description) and the reconciliation
// that turns what the compositor described into the daemon's sorted output list.
#pragma once

#include <cstdint>
#include <expected>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/backend.h"
#include "wayland/globals.h"

struct wl_output;
struct zxdg_output_manager_v1;
struct zxdg_output_v1;

namespace tarvik {

struct OutputMode {
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::int32_t refresh = 0;
  bool current = false;
  bool operator==(const OutputMode&) const = default;
};

// What the compositor has described about one output so far.
struct OutputInfo {
  std::optional<std::string> name;   // wl_output.name or zxdg_output_v1.name
  std::int32_t x = 0;                // wl_output.geometry position
  std::int32_t y = 0;
  std::vector<OutputMode> modes;
  std::int32_t scale = 1;
  std::optional<std::pair<std::int32_t, std::int32_t>> logical_position;
  std::optional<std::pair<std::int32_t, std::int32_t>> logical_size;
  bool operator==(const OutputInfo&) const = default;
};

inline constexpr const char* kNoUsableOutput = "no Wayland output supplied usable geometry";

// The usable outputs among `infos` (in tracking order; none = nothing known yet), sorted by
// y, x, name; each with the index of the info it came from. Fails with kNoUsableOutput.
std::expected<std::vector<std::pair<OutputRecord, std::size_t>>, std::string> usable_outputs(
    const std::vector<std::optional<OutputInfo>>& infos);

// Same length and pairwise equal names and rectangles.
bool same_layout(const std::vector<OutputRecord>& a, const std::vector<OutputRecord>& b);

// One tracked wl_output. Shared between the tracking and the output list, so the protocol
// object stays valid for overlays and captures until both have let go.
class TrackedOutput {
 public:
  TrackedOutput(wl_output* output, std::uint32_t version, std::uint32_t global_name);
  ~TrackedOutput();
  TrackedOutput(const TrackedOutput&) = delete;
  TrackedOutput& operator=(const TrackedOutput&) = delete;

  wl_output* output() const { return output_; }
  std::uint32_t global_name() const { return global_name_; }
  // Complete information, once the first description has been finished.
  const std::optional<OutputInfo>& info() const { return info_; }

 private:
  friend class OutputTracker;
  friend struct OutputListeners;
  wl_output* output_;
  std::uint32_t version_;
  std::uint32_t global_name_;
  zxdg_output_v1* xdg_output_ = nullptr;
  std::uint32_t xdg_version_ = 0;
  bool xdg_done_seen_ = false;
  bool wl_done_seen_ = false;
  OutputInfo pending_;
  std::optional<OutputInfo> info_;
  std::function<void(TrackedOutput&, bool first)> on_described_;
};

class OutputTracker {
 public:
  enum class Event { Added, Changed, Removed };
  using Listener = std::function<void(Event)>;

  // Binds zxdg_output_manager_v1 (versions 1 to 3) when offered, then every advertised
  // wl_output (at most version 4).
  explicit OutputTracker(const GlobalList& globals);
  ~OutputTracker();
  OutputTracker(const OutputTracker&) = delete;
  OutputTracker& operator=(const OutputTracker&) = delete;

  void set_listener(Listener listener) { listener_ = std::move(listener); }
  bool has_xdg_output() const { return xdg_manager_ != nullptr; }

  // Registry announcements and removals of wl_output globals.
  void global_added(const GlobalEntry& entry);
  void global_removed(const GlobalEntry& entry);

  const std::vector<std::shared_ptr<TrackedOutput>>& outputs() const { return outputs_; }
  std::vector<std::optional<OutputInfo>> infos() const;

 private:
  void track(const GlobalEntry& entry);

  const GlobalList& globals_;
  zxdg_output_manager_v1* xdg_manager_ = nullptr;
  std::vector<std::shared_ptr<TrackedOutput>> outputs_;
  Listener listener_;
};

}  // namespace tarvik
