// The daemon's listening socket: binding with the single-instance rule, the guard that removes
// the socket file, and the accept loop that serves one request per connection.
//
// Binding probes the path first: a daemon that answers there means AlreadyRunning and its file
// is left alone; otherwise whatever sits at the path is removed and the socket bound, mode 0600,
// close-on-exec, non-blocking. Serving happens entirely inside the listener's callback:
// connections are accepted, read, answered and closed one after another until the backlog is
// empty. A connection gets `read_deadline` (1 second) from its acceptance to deliver its request
// line; a silent client is then answered with the timed-out socket error instead of holding the
// daemon's only thread.
#pragma once

#include <chrono>
#include <expected>
#include <optional>
#include <string>

#include "ipc/command_handler.h"
#include "ipc/event_loop.h"
#include "ipc/ipc_error.h"
#include "ipc/unix_socket.h"

namespace tarvik {

// Discarding the guard removes the socket file; a removal failure is ignored.
class SocketPathGuard {
 public:
  explicit SocketPathGuard(std::string path) : path_(std::move(path)) {}
  SocketPathGuard(SocketPathGuard&& other) noexcept : path_(std::exchange(other.path_, {})) {}
  SocketPathGuard& operator=(SocketPathGuard&& other) noexcept;
  SocketPathGuard(const SocketPathGuard&) = delete;
  SocketPathGuard& operator=(const SocketPathGuard&) = delete;
  ~SocketPathGuard();

  const std::string& path() const;

 private:
  std::optional<std::string> path_;
};

// The longest request line; longer input is cut here and decoded as it is.
inline constexpr std::size_t max_request_bytes = 65536;

class DaemonSocket {
 public:
  static constexpr std::chrono::milliseconds default_read_deadline{1000};

  explicit DaemonSocket(UniqueFd listener) : listener_(std::move(listener)) {}

  int fd() const { return listener_.get(); }
  void set_read_deadline(std::chrono::milliseconds deadline) { read_deadline_ = deadline; }

  // The accept loop: serves every waiting connection, then returns. Fails only when accepting
  // fails for a reason other than an interruption, an aborted connection or an empty backlog.
  std::expected<void, IpcError> serve_pending(CommandHandler& handler);

 private:
  void serve_connection(int stream, CommandHandler& handler);

  UniqueFd listener_;
  std::chrono::milliseconds read_deadline_ = default_read_deadline;
};

struct BoundDaemonSocket {
  DaemonSocket socket;
  SocketPathGuard guard;
};

// At the resolved path; NoRuntimeDirectory without XDG_RUNTIME_DIR.
std::expected<BoundDaemonSocket, IpcError> bind_daemon_socket();
std::expected<BoundDaemonSocket, IpcError> bind_daemon_socket_at(const std::string& path);

// One request text from `stream`: up to and including the first line feed, to end of stream, or
// max_request_bytes, whichever comes first, read through an 8192-byte buffer; it must arrive
// within `deadline` and be UTF-8. Failures are IpcError::Io.
std::expected<std::string, IpcError> read_request_text(int stream,
                                                       std::chrono::milliseconds deadline);

// Moves the listener into `loop` as a level-triggered readable source serving `handler`. An
// accept failure ends the loop with the IpcError's text.
std::expected<EventLoop::SourceId, EventLoopError> add_listener_source(EventLoop& loop,
                                                                       DaemonSocket socket,
                                                                       CommandHandler& handler);

}  // namespace tarvik
