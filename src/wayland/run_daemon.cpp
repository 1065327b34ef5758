#include "wayland/run_daemon.h"

#include <wayland-client.h>

#include <fmt/format.h>

#include "logging/log.h"
#include "wayland/connection.h"

namespace tarvik {

std::string debug_form(const std::optional<std::string>& value) {
  if (!value) return "None";
  std::string out = "Some(\"";
  for (unsigned char c : *value) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      case '\0': out += "\\0"; break;
      default:
        if (c < 0x20 || c == 0x7f) {
          out += fmt::format("\\u{{{:x}}}", c);
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  out += "\")";
  return out;
}

std::expected<void, DaemonError> run_daemon(const DaemonOptions& options,
                                            std::string sway_socket_path) {
  (void)sway_socket_path;
  TARVIK_LOG(Info, "tarvik::wayland", "initializing daemon seat={} config={}",
             debug_form(options.seat), debug_form(options.config));

  auto display = connect_display();
  if (!display) return std::unexpected(DaemonError{DaemonError::Kind::Connect, display.error()});

  // The backend beyond the connection is still being built: refuse honestly.
  return std::unexpected(DaemonError{DaemonError::Kind::Application,
                                     "the Wayland display backend is not available yet"});
}

}  // namespace tarvik
