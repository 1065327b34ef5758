// Opening the compositor connection from the standard environment, with the failure texts
// the user sees.
#pragma once

#include <expected>
#include <memory>
#include <string>

struct wl_display;

namespace tarvik {

struct DisplayDeleter {
  void operator()(wl_display* display) const;
};
using DisplayHandle = std::unique_ptr<wl_display, DisplayDeleter>;

// WAYLAND_SOCKET (an inherited descriptor) first, else WAYLAND_DISPLAY in XDG_RUNTIME_DIR.
// Failures: "WAYLAND_SOCKET was set but contained garbage", "Could not find wayland compositor".
std::expected<DisplayHandle, std::string> connect_display();

}  // namespace tarvik
