#include "wayland/connection.h"

#include <fcntl.h>
#include <wayland-client.h>

#include <charconv>
#include <cstdlib>
#include <cstring>

namespace tarvik {

void DisplayDeleter::operator()(wl_display* display) const { wl_display_disconnect(display); }

std::expected<DisplayHandle, std::string> connect_display() {
  if (const char* socket = std::getenv("WAYLAND_SOCKET")) {
    // libwayland would accept a number followed by anything; only a whole, open descriptor is
    // a valid hand-over.
    int fd = -1;
    const char* end = socket + std::strlen(socket);
    auto [ptr, ec] = std::from_chars(socket, end, fd);
    if (ec != std::errc{} || ptr != end || *socket == '\0' || fd < 0 ||
        fcntl(fd, F_GETFD) == -1) {
      return std::unexpected(std::string("WAYLAND_SOCKET was set but contained garbage"));
    }
    wl_display* display = wl_display_connect_to_fd(fd);
    ::unsetenv("WAYLAND_SOCKET");
    if (!display) return std::unexpected(std::string("Could not find wayland compositor"));
    return DisplayHandle(display);
  }
  wl_display* display = wl_display_connect(nullptr);
  if (!display) return std::unexpected(std::string("Could not find wayland compositor"));
  return DisplayHandle(display);
}

}  // namespace tarvik
