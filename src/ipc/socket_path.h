// Where the daemon socket lives: $XDG_RUNTIME_DIR/<display name>-<sanitised WAYLAND_DISPLAY>.sock,
// derived identically by the daemon and its clients.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tarvik {

// ASCII letters, digits and '-' pass; every other character (not byte) becomes one '_'.
std::string sanitize_display(std::string_view display);

// `display_name` is the program's ("tarvik" or "tarvik-dev"); `wayland_display` absent or not
// UTF-8 counts as "wayland-0". An empty directory yields the bare file name.
std::string socket_path_for(std::string_view runtime_dir,
                            std::optional<std::string_view> wayland_display,
                            std::string_view display_name);

// From the environment and the process's display name; nothing when XDG_RUNTIME_DIR is unset.
std::optional<std::string> resolve_socket_path();

}  // namespace tarvik
