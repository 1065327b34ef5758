#include "sway/sway_client.h"

#include <cerrno>
#include <cstring>
#include <limits>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "logging/log.h"
#include "logging/system_error.h"
#include "sway/cursor_commands.h"
#include "sway/focus.h"
#include "sway/replies.h"

namespace tarvik {

namespace {

constexpr std::string_view magic = "i3-ipc";

SwayError io_error(int errnum) { return SwayError{SwayError::Kind::Io, os_error_text(errnum)}; }

SwayError io_error_text(std::string text) {
  return SwayError{SwayError::Kind::Io, std::move(text)};
}

// Owns one connection; closing it in the destructor covers every early return.
class Connection {
 public:
  explicit Connection(int fd) : fd_(fd) {}
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;
  ~Connection() {
    if (fd_ >= 0) ::close(fd_);
  }

  std::expected<void, SwayError> write_all(const void* data, std::size_t size) {
    const auto* bytes = static_cast<const char*>(data);
    while (size > 0) {
      // MSG_NOSIGNAL: a Sway that went away must give an error, not a SIGPIPE.
      const ssize_t n = ::send(fd_, bytes, size, MSG_NOSIGNAL);
      if (n < 0) {
        if (errno == EINTR) continue;
        return std::unexpected(io_error(errno));
      }
      bytes += n;
      size -= static_cast<std::size_t>(n);
    }
    return {};
  }

  std::expected<void, SwayError> read_exact(void* data, std::size_t size) {
    auto* bytes = static_cast<char*>(data);
    while (size > 0) {
      const ssize_t n = ::recv(fd_, bytes, size, 0);
      if (n < 0) {
        if (errno == EINTR) continue;
        return std::unexpected(io_error(errno));
      }
      if (n == 0) {
        return std::unexpected(io_error_text("connection closed before the reply was complete"));
      }
      bytes += n;
      size -= static_cast<std::size_t>(n);
    }
    return {};
  }

 private:
  int fd_;
};

std::expected<sockaddr_un, SwayError> socket_address(const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  // The path must fit with its terminator, and an embedded NUL would silently name a
  // different (shorter) path.
  if (path.size() >= sizeof address.sun_path) return std::unexpected(io_error(ENAMETOOLONG));
  if (path.empty() || path.find('\0') != std::string::npos) {
    return std::unexpected(io_error(EINVAL));
  }
  std::memcpy(address.sun_path, path.data(), path.size());
  return address;
}

void put_u32(char* out, std::uint32_t value) { std::memcpy(out, &value, sizeof value); }

std::uint32_t get_u32(const char* in) {
  std::uint32_t value;
  std::memcpy(&value, in, sizeof value);
  return value;
}

SwayError json_error(const JsonError& error) {
  return SwayError{SwayError::Kind::Json, error.message()};
}

SwayError no_focused_window(const std::string& seat) {
  return SwayError{SwayError::Kind::NoFocusedWindow, seat};
}

}  // namespace

std::expected<std::string, SwayError> SwayClient::exchange(SwayMessage type,
                                                           std::string_view payload) const {
  auto address = socket_address(socket_path_);
  if (!address) return std::unexpected(address.error());
  if (payload.size() > std::numeric_limits<std::uint32_t>::max()) {
    return std::unexpected(io_error(EMSGSIZE));
  }

  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return std::unexpected(io_error(errno));
  Connection connection(fd);
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&*address), sizeof *address) != 0) {
    return std::unexpected(io_error(errno));
  }

  char header[sway_header_size];
  std::memcpy(header, magic.data(), magic.size());
  put_u32(header + 6, static_cast<std::uint32_t>(payload.size()));
  put_u32(header + 10, static_cast<std::uint32_t>(type));
  if (auto ok = connection.write_all(header, sizeof header); !ok) {
    return std::unexpected(ok.error());
  }
  if (auto ok = connection.write_all(payload.data(), payload.size()); !ok) {
    return std::unexpected(ok.error());
  }

  if (auto ok = connection.read_exact(header, sizeof header); !ok) {
    return std::unexpected(ok.error());
  }
  if (std::string_view(header, magic.size()) != magic) {
    return std::unexpected(SwayError{SwayError::Kind::InvalidHeader, {}});
  }
  const std::uint32_t length = get_u32(header + 6);
  if (length > sway_max_reply) {
    return std::unexpected(SwayError{SwayError::Kind::ResponseTooLarge, {}});
  }
  std::string reply(length, '\0');
  if (auto ok = connection.read_exact(reply.data(), reply.size()); !ok) {
    return std::unexpected(ok.error());
  }
  return reply;
}

std::expected<void, SwayError> SwayClient::run_command(std::string_view command) const {
  auto reply = exchange(SwayMessage::RunCommand, command);
  if (!reply) return std::unexpected(reply.error());
  auto results = decode_command_replies(*reply);
  if (!results) return std::unexpected(json_error(results.error()));
  for (const CommandReply& result : *results) {
    if (!result.success) {
      return std::unexpected(
          SwayError{SwayError::Kind::Command, result.error.value_or("unknown Sway error")});
    }
  }
  return {};
}

std::expected<std::optional<std::string>, SwayError> SwayClient::focused_output() {
  auto reply = exchange(SwayMessage::GetWorkspaces, {});
  if (!reply) return std::unexpected(reply.error());
  auto workspaces = decode_workspace_replies(*reply);
  if (!workspaces) return std::unexpected(json_error(workspaces.error()));
  for (WorkspaceReply& workspace : *workspaces) {
    if (workspace.focused) {
      TARVIK_LOG(Debug, "tarvik::sway", "resolved focused output output={}", workspace.output);
      return std::optional<std::string>(std::move(workspace.output));
    }
  }
  return std::unexpected(SwayError{SwayError::Kind::NoFocusedWorkspace, {}});
}

SwayStatus SwayClient::cursor_set(const std::string& seat, std::int64_t x, std::int64_t y) {
  auto command = cursor_set_command(seat, x, y);
  if (!command) return std::unexpected(command.error());
  return run_command(*command);
}

SwayStatus SwayClient::pointer_to_focused_window(const std::string& seat) {
  // Checked before the queries so that a bad name costs no round trips.
  if (auto probe = cursor_set_command(seat, 0, 0); !probe) {
    return std::unexpected(probe.error());
  }
  auto seats_reply = exchange(SwayMessage::GetSeats, {});
  if (!seats_reply) return std::unexpected(seats_reply.error());
  auto seats = decode_seat_replies(*seats_reply);
  if (!seats) return std::unexpected(json_error(seats.error()));
  const SeatReply* found = nullptr;
  for (const SeatReply& candidate : *seats) {
    if (candidate.name == seat) {
      found = &candidate;
      break;
    }
  }
  if (found == nullptr || found->focus == 0) return std::unexpected(no_focused_window(seat));
  const std::int64_t focus = found->focus;

  auto tree_reply = exchange(SwayMessage::GetTree, {});
  if (!tree_reply) return std::unexpected(tree_reply.error());
  auto root = decode_tree(*tree_reply);
  if (!root) return std::unexpected(json_error(root.error()));

  const auto centre = focused_window_centre(*root, focus);
  if (!centre) return std::unexpected(no_focused_window(seat));
  return cursor_set(seat, centre->x, centre->y);
}

SwayStatus SwayClient::cursor_move(const std::string& seat, double dx, double dy) {
  auto command = cursor_move_command(seat, dx, dy);
  if (!command) return std::unexpected(command.error());
  return run_command(*command);
}

SwayStatus SwayClient::cursor_button(const std::string& seat, PointerButton button,
                                     bool release) {
  auto command = cursor_button_command(seat, button, release);
  if (!command) return std::unexpected(command.error());
  return run_command(*command);
}

SwayStatus SwayClient::cursor_click(const std::string& seat, PointerButton button) {
  auto command = cursor_click_command(seat, button);
  if (!command) return std::unexpected(command.error());
  return run_command(*command);
}

SwayStatus SwayClient::cursor_scroll(const std::string& seat, ScrollDirection direction,
                                     double step) {
  auto command = cursor_scroll_command(seat, direction, step);
  if (!command) return std::unexpected(command.error());
  return run_command(*command);
}

}  // namespace tarvik
