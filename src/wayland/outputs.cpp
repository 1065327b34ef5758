#include "wayland/outputs.h"

#include <wayland-client.h>

#include <algorithm>
#include <tuple>

#include "xdg-output-unstable-v1-client-protocol.h"

namespace tarvik {

std::expected<std::vector<std::pair<OutputRecord, std::size_t>>, std::string> usable_outputs(
    const std::vector<std::optional<OutputInfo>>& infos) {
  std::vector<std::pair<OutputRecord, std::size_t>> records;
  for (std::size_t i = 0; i < infos.size(); ++i) {
    const auto& info = infos[i];
    if (!info || !info->name) continue;
    std::int32_t width = 0;
    std::int32_t height = 0;
    if (info->logical_size) {
      std::tie(width, height) = *info->logical_size;
    } else {
      auto mode = std::find_if(info->modes.begin(), info->modes.end(),
                               [](const OutputMode& m) { return m.current; });
      if (mode == info->modes.end()) continue;
      // Without xdg-output the logical size is only known for integer scales.
      std::int32_t divisor = info->scale < 2 ? 1 : info->scale;
      width = mode->width / divisor;
      height = mode->height / divisor;
    }
    if (width <= 0 || height <= 0) continue;
    auto [x, y] = info->logical_position.value_or(std::pair{info->x, info->y});
    records.push_back({OutputRecord{*info->name, x, y, width, height}, i});
  }
  std::sort(records.begin(), records.end(), [](const auto& a, const auto& b) {
    return std::tie(a.first.y, a.first.x, a.first.name) <
           std::tie(b.first.y, b.first.x, b.first.name);
  });
  if (records.empty()) return std::unexpected(std::string(kNoUsableOutput));
  return records;
}

bool same_layout(const std::vector<OutputRecord>& a, const std::vector<OutputRecord>& b) {
  return a == b;  // OutputRecord compares exactly name, x, y, width and height
}

TrackedOutput::TrackedOutput(wl_output* output, std::uint32_t version, std::uint32_t global_name)
    : output_(output), version_(version), global_name_(global_name) {}

TrackedOutput::~TrackedOutput() {
  if (xdg_output_) zxdg_output_v1_destroy(xdg_output_);
  if (version_ >= WL_OUTPUT_RELEASE_SINCE_VERSION) {
    wl_output_release(output_);
  } else {
    wl_output_destroy(output_);
  }
}

namespace {

TrackedOutput& tracked(void* data) { return *static_cast<TrackedOutput*>(data); }

}  // namespace

// Protocol listeners of wl_output and zxdg_output_v1, writing into the pending description.
struct OutputListeners {
  static OutputInfo& pending(void* data) { return tracked(data).pending_; }

  static void commit(TrackedOutput& output) {
    bool waits_for_xdg = output.xdg_output_ && output.xdg_version_ < 3 && !output.xdg_done_seen_;
    if (!output.wl_done_seen_ || waits_for_xdg) return;
    bool first = !output.info_.has_value();
    output.info_ = output.pending_;
    if (output.on_described_) output.on_described_(output, first);
  }

  static void geometry(void* data, wl_output*, std::int32_t x, std::int32_t y, std::int32_t,
                       std::int32_t, std::int32_t, const char*, const char*, std::int32_t) {
    pending(data).x = x;
    pending(data).y = y;
  }

  static void mode(void* data, wl_output*, std::uint32_t flags, std::int32_t width,
                   std::int32_t height, std::int32_t refresh) {
    auto& modes = pending(data).modes;
    bool current = (flags & WL_OUTPUT_MODE_CURRENT) != 0;
    if (current) {
      for (auto& m : modes) m.current = false;
    }
    auto it = std::find_if(modes.begin(), modes.end(), [&](const OutputMode& m) {
      return m.width == width && m.height == height && m.refresh == refresh;
    });
    if (it != modes.end()) {
      it->current = current;
    } else {
      modes.push_back(OutputMode{width, height, refresh, current});
    }
  }

  static void done(void* data, wl_output*) {
    tracked(data).wl_done_seen_ = true;
    commit(tracked(data));
  }

  static void scale(void* data, wl_output*, std::int32_t factor) { pending(data).scale = factor; }

  static void name(void* data, wl_output*, const char* name) { pending(data).name = name; }

  static void description(void*, wl_output*, const char*) {}

  static void logical_position(void* data, zxdg_output_v1*, std::int32_t x, std::int32_t y) {
    pending(data).logical_position = std::pair{x, y};
  }

  static void logical_size(void* data, zxdg_output_v1*, std::int32_t width,
                           std::int32_t height) {
    pending(data).logical_size = std::pair{width, height};
  }

  static void xdg_done(void* data, zxdg_output_v1*) {
    tracked(data).xdg_done_seen_ = true;
    commit(tracked(data));
  }

  static void xdg_name(void* data, zxdg_output_v1*, const char* name) {
    pending(data).name = name;
  }

  static void xdg_description(void*, zxdg_output_v1*, const char*) {}
};

namespace {

const wl_output_listener output_listener = {
    .geometry = &OutputListeners::geometry,
    .mode = &OutputListeners::mode,
    .done = &OutputListeners::done,
    .scale = &OutputListeners::scale,
    .name = &OutputListeners::name,
    .description = &OutputListeners::description,
};

const zxdg_output_v1_listener xdg_output_listener = {
    .logical_position = &OutputListeners::logical_position,
    .logical_size = &OutputListeners::logical_size,
    .done = &OutputListeners::xdg_done,
    .name = &OutputListeners::xdg_name,
    .description = &OutputListeners::xdg_description,
};

}  // namespace

OutputTracker::OutputTracker(const GlobalList& globals) : globals_(globals) {
  if (auto manager = globals.bind(&zxdg_output_manager_v1_interface, 1, 3)) {
    xdg_manager_ = static_cast<zxdg_output_manager_v1*>(*manager);
  }
  for (const auto& entry : globals.entries()) {
    if (entry.interface == wl_output_interface.name) track(entry);
  }
}

OutputTracker::~OutputTracker() {
  for (auto& output : outputs_) output->on_described_ = nullptr;
  outputs_.clear();
  if (xdg_manager_) zxdg_output_manager_v1_destroy(xdg_manager_);
}

void OutputTracker::track(const GlobalEntry& entry) {
  auto* proxy = static_cast<wl_output*>(globals_.bind_entry(entry, &wl_output_interface, 4));
  auto output = std::make_shared<TrackedOutput>(
      proxy, wl_proxy_get_version(reinterpret_cast<wl_proxy*>(proxy)), entry.name);
  wl_output_add_listener(proxy, &output_listener, output.get());
  if (xdg_manager_) {
    output->xdg_output_ = zxdg_output_manager_v1_get_xdg_output(xdg_manager_, proxy);
    output->xdg_version_ =
        wl_proxy_get_version(reinterpret_cast<wl_proxy*>(output->xdg_output_));
    zxdg_output_v1_add_listener(output->xdg_output_, &xdg_output_listener, output.get());
  }
  output->on_described_ = [this](TrackedOutput&, bool first) {
    if (listener_) listener_(first ? Event::Added : Event::Changed);
  };
  outputs_.push_back(std::move(output));
}

void OutputTracker::global_added(const GlobalEntry& entry) {
  if (entry.interface == wl_output_interface.name) track(entry);
}

void OutputTracker::global_removed(const GlobalEntry& entry) {
  auto it = std::find_if(outputs_.begin(), outputs_.end(), [&](const auto& output) {
    return output->global_name() == entry.name;
  });
  if (it == outputs_.end()) return;
  // The output list may still hold the object until a later reconciliation succeeds; it must
  // no longer report descriptions.
  (*it)->on_described_ = nullptr;
  outputs_.erase(it);
  if (listener_) listener_(Event::Removed);
}

std::vector<std::optional<OutputInfo>> OutputTracker::infos() const {
  std::vector<std::optional<OutputInfo>> result;
  result.reserve(outputs_.size());
  for (const auto& output : outputs_) result.push_back(output->info());
  return result;
}

}  // namespace tarvik
