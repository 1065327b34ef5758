#include "ipc/socket_path.h"

#include <cstdlib>

#include "cli/texts.h"
#include "ipc/json.h"
#include "logging/log.h"
#include "logging/utf8.h"

namespace tarvik {

std::string sanitize_display(std::string_view display) {
  std::string out;
  out.reserve(display.size());
  for (const char ch : display) {
    const auto c = static_cast<unsigned char>(ch);
    const bool keep = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                      c == '-';
    if (keep) {
      out += ch;
    } else if ((c & 0xC0) != 0x80) {
      // One underscore per character: the continuation bytes of a character add nothing.
      out += '_';
    }
  }
  return out;
}

std::string socket_path_for(std::string_view runtime_dir,
                            std::optional<std::string_view> wayland_display,
                            std::string_view display_name) {
  const std::string_view display = wayland_display && logging::is_valid_utf8(*wayland_display)
                                        ? *wayland_display
                                        : "wayland-0";
  std::string path(runtime_dir);
  if (!path.empty() && path.back() != '/') path += '/';
  path += display_name;
  path += '-';
  path += sanitize_display(display);
  path += ".sock";
  return path;
}

std::optional<std::string> resolve_socket_path() {
  const char* runtime_dir = std::getenv("XDG_RUNTIME_DIR");
  if (runtime_dir == nullptr) return std::nullopt;
  const char* wayland_display = std::getenv("WAYLAND_DISPLAY");
  std::string path = socket_path_for(
      runtime_dir,
      wayland_display ? std::optional<std::string_view>(wayland_display) : std::nullopt,
      process_display_name());
  TARVIK_LOG(Debug, "tarvik::ipc", "resolved daemon socket path={}", logging::lossy_utf8(path));
  return path;
}

}  // namespace tarvik
