#include "sway/sway_server_support.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace tarvik::testing {

namespace {

// How long the server waits for a client that should be reading, writing or closing; long
// enough for a loaded machine, short enough that a client stuck on a read fails the test
// instead of hanging it.
constexpr int patience_ms = 5000;

void put_u32(std::string& out, std::uint32_t value) {
  char bytes[4];
  std::memcpy(bytes, &value, 4);
  out.append(bytes, 4);
}

[[noreturn]] void fail(const char* what) {
  throw std::runtime_error(std::string(what) + ": " + std::strerror(errno));
}

bool wait_readable(int fd) {
  pollfd p{fd, POLLIN, 0};
  int r;
  do {
    r = ::poll(&p, 1, patience_ms);
  } while (r < 0 && errno == EINTR);
  return r > 0;
}

// Reads exactly `size` bytes; false on end of stream, error or time-out.
bool read_exact(int fd, char* data, std::size_t size) {
  while (size > 0) {
    if (!wait_readable(fd)) return false;
    const ssize_t n = ::recv(fd, data, size, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

void write_all(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // the client went away; what it saw is the test's business
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
}

}  // namespace

std::string header(std::uint32_t type, std::uint32_t length, std::string_view magic) {
  std::string out(magic);
  put_u32(out, length);
  put_u32(out, type);
  return out;
}

std::string frame(std::uint32_t type, std::string_view payload) {
  std::string out = header(type, static_cast<std::uint32_t>(payload.size()));
  out.append(payload);
  return out;
}

std::string json_reply(std::string_view json, std::uint32_t type) { return frame(type, json); }

ScriptedSwayServer::ScriptedSwayServer(std::vector<ScriptedReply> script)
    : script_(std::move(script)) {
  char dir_template[] = "/tmp/tarvik-sway-test.XXXXXX";
  if (::mkdtemp(dir_template) == nullptr) fail("mkdtemp");
  dir_ = dir_template;
  path_ = dir_ + "/sway-ipc.sock";

  listen_fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listen_fd_ < 0) fail("socket");
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path_.c_str(), path_.size() + 1);
  if (::bind(listen_fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    fail("bind");
  }
  if (::listen(listen_fd_, 8) != 0) fail("listen");
  if (::pipe2(stop_pipe_, O_CLOEXEC) != 0) fail("pipe2");
  thread_ = std::thread([this] { serve(); });
}

ScriptedSwayServer::~ScriptedSwayServer() {
  finish();
  ::close(listen_fd_);
  ::close(stop_pipe_[0]);
  ::close(stop_pipe_[1]);
  ::unlink(path_.c_str());
  ::rmdir(dir_.c_str());
}

std::vector<ReceivedRequest> ScriptedSwayServer::finish() {
  if (!finished_) {
    finished_ = true;
    const char byte = 0;
    (void)!::write(stop_pipe_[1], &byte, 1);
    thread_.join();
  }
  std::lock_guard lock(mutex_);
  return received_;
}

void ScriptedSwayServer::serve() {
  for (const ScriptedReply& reply : script_) {
    pollfd fds[2] = {{listen_fd_, POLLIN, 0}, {stop_pipe_[0], POLLIN, 0}};
    int r;
    do {
      r = ::poll(fds, 2, -1);
    } while (r < 0 && errno == EINTR);
    // Connections already queued are served before a stop request is obeyed.
    if (r < 0 || !(fds[0].revents & POLLIN)) return;
    const int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) return;
    serve_one(fd, reply);
    ::close(fd);
  }
}

void ScriptedSwayServer::serve_one(int fd, const ScriptedReply& reply) {
  ReceivedRequest request;
  if (reply.hang_up) {
    std::lock_guard lock(mutex_);
    received_.push_back(std::move(request));
    return;
  }
  char head[14];
  if (read_exact(fd, head, sizeof head)) {
    request.magic.assign(head, 6);
    std::uint32_t length;
    std::memcpy(&length, head + 6, 4);
    std::memcpy(&request.type, head + 10, 4);
    request.payload.resize(length);
    if (!read_exact(fd, request.payload.data(), length)) request.payload.clear();
  }
  write_all(fd, reply.bytes);
  if (!reply.close_early) {
    // The client has everything it asked for; it must now close its end. Anything it still
    // sends is drained; a reset counts as closing.
    char sink[4096];
    for (;;) {
      if (!wait_readable(fd)) break;
      const ssize_t n = ::recv(fd, sink, sizeof sink, 0);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        request.client_closed = true;
        break;
      }
    }
  }
  std::lock_guard lock(mutex_);
  received_.push_back(std::move(request));
}

}  // namespace tarvik::testing
