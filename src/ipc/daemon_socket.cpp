#include "ipc/daemon_socket.h"

#include <algorithm>
#include <cerrno>
#include <climits>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/time.h>

#include "ipc/json.h"
#include "ipc/request_handler.h"
#include "ipc/socket_path.h"
#include "logging/log.h"
#include "logging/utf8.h"
#include "logging/system_error.h"

namespace tarvik {

SocketPathGuard& SocketPathGuard::operator=(SocketPathGuard&& other) noexcept {
  if (this != &other) {
    if (path_) ::unlink(path_->c_str());
    path_ = std::exchange(other.path_, {});
  }
  return *this;
}

SocketPathGuard::~SocketPathGuard() {
  if (path_) ::unlink(path_->c_str());
}

const std::string& SocketPathGuard::path() const {
  static const std::string none;
  return path_ ? *path_ : none;
}

std::expected<BoundDaemonSocket, IpcError> bind_daemon_socket() {
  const auto path = resolve_socket_path();
  if (!path) return std::unexpected(IpcError::no_runtime_directory());
  return bind_daemon_socket_at(*path);
}

std::expected<BoundDaemonSocket, IpcError> bind_daemon_socket_at(const std::string& path) {
  const std::string shown = logging::lossy_utf8(path);

  // Somebody answering there is a live daemon: refuse, and leave its file alone.
  if (auto probe = connect_unix(path)) {
    probe->reset();
    TARVIK_LOG(Warn, "tarvik::ipc", "daemon socket is already in use path={}", shown);
    return std::unexpected(IpcError::already_running(shown));
  }
  // Nobody answered: whatever is there is left over from a daemon that died.
  struct stat info{};
  if (::stat(path.c_str(), &info) == 0 && ::unlink(path.c_str()) != 0) {
    return std::unexpected(IpcError::io(errno));
  }

  UniqueFd listener(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!listener) return std::unexpected(IpcError::io(errno));
  auto address = unix_address(path);
  if (!address) return std::unexpected(IpcError::io(address.error()));
  if (::bind(listener.get(), reinterpret_cast<const sockaddr*>(&address->address),
             address->length) != 0) {
    return std::unexpected(IpcError::io(errno));
  }
  // From here on the file is ours: a failure below removes it again instead of leaving a stale
  // entry behind.
  SocketPathGuard guard(path);
  // The kernel caps the backlog at its configured maximum.
  if (::listen(listener.get(), INT_MAX) != 0) return std::unexpected(IpcError::io(errno));
  while (::chmod(path.c_str(), 0600) != 0) {
    if (errno != EINTR) return std::unexpected(IpcError::io(errno));
  }
  const int flags = ::fcntl(listener.get(), F_GETFL);
  if (flags < 0 || ::fcntl(listener.get(), F_SETFL, flags | O_NONBLOCK) != 0) {
    return std::unexpected(IpcError::io(errno));
  }
  TARVIK_LOG(Info, "tarvik::ipc", "bound daemon socket path={}", shown);
  return BoundDaemonSocket{DaemonSocket(std::move(listener)), std::move(guard)};
}

std::expected<std::string, IpcError> read_request_text(int stream,
                                                       std::chrono::milliseconds deadline) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point until = Clock::now() + deadline;
  std::string text;
  char buffer[8192];
  while (text.size() < max_request_bytes) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - Clock::now());
    if (left.count() <= 0) return std::unexpected(IpcError::io(ETIMEDOUT));
    pollfd entry{stream, POLLIN, 0};
    const int ready = ::poll(&entry, 1, static_cast<int>(std::min<long long>(left.count(), INT_MAX)));
    if (ready == 0) return std::unexpected(IpcError::io(ETIMEDOUT));
    if (ready < 0) {
      if (errno == EINTR) continue;
      return std::unexpected(IpcError::io(errno));
    }
    const std::size_t want = std::min(sizeof buffer, max_request_bytes - text.size());
    const ssize_t n = ::recv(stream, buffer, want, 0);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      return std::unexpected(IpcError::io(errno));
    }
    const std::string_view chunk(buffer, static_cast<std::size_t>(n));
    const std::size_t line_feed = chunk.find('\n');
    if (line_feed != std::string_view::npos) {
      text.append(chunk.substr(0, line_feed + 1));
      break;
    }
    text.append(chunk);
  }
  if (!logging::is_valid_utf8(text)) {
    return std::unexpected(IpcError::io("stream did not contain valid UTF-8"));
  }
  return text;
}

void DaemonSocket::serve_connection(int stream, CommandHandler& handler) {
  // A client that stops reading must not hold the daemon either; the answer is small, so this
  // only matters for a peer that never reads at all.
  const timeval send_timeout{1, 0};
  (void)::setsockopt(stream, SOL_SOCKET, SO_SNDTIMEO, &send_timeout, sizeof send_timeout);

  auto text = read_request_text(stream, read_deadline_);
  const Response response =
      text ? handle_request(*text, handler) : Response{false, text.error().message()};

  std::string answer = encode_response(response);
  const std::size_t json_length = answer.size();
  answer.push_back('\n');
  std::size_t sent = 0;
  if (auto written = send_all(stream, answer, &sent); !written) {
    const IpcError error =
        sent < json_length ? IpcError::json_error(JsonError::io(os_error_text(written.error())))
                           : IpcError::io(written.error());
    TARVIK_LOG(Error, "tarvik::wayland", "cannot answer IPC request: {}", error.message());
  }
}

std::expected<void, IpcError> DaemonSocket::serve_pending(CommandHandler& handler) {
  while (true) {
    UniqueFd stream(::accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC));
    if (!stream) {
      // A client that gave up between connecting and being accepted is its own loss, not
      // the daemon's: treated like an interruption.
      if (errno == EINTR || errno == ECONNABORTED) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) return {};
      return std::unexpected(IpcError::io(errno));
    }
    serve_connection(stream.get(), handler);
  }
}

std::expected<EventLoop::SourceId, EventLoopError> add_listener_source(EventLoop& loop,
                                                                       DaemonSocket socket,
                                                                       CommandHandler& handler) {
  const int fd = socket.fd();
  return loop.add_fd(fd, EventLoop::readable,
                     [socket = std::move(socket), &handler](std::uint32_t) mutable
                     -> EventLoop::Result {
                       if (auto served = socket.serve_pending(handler); !served) {
                         return std::unexpected(EventLoopError{served.error().message()});
                       }
                       return {};
                     });
}

}  // namespace tarvik
