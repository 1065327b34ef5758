// Unix stream socket plumbing shared by the client and the daemon side.
#pragma once

#include <cstddef>
#include <expected>
#include <string>
#include <string_view>
#include <utility>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace tarvik {

class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) reset(std::exchange(other.fd_, -1));
    return *this;
  }
  ~UniqueFd() { reset(); }

  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }
  void reset(int fd = -1) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }

 private:
  int fd_ = -1;
};

// The address for `path`, or the socket library's refusal of a path that does not fit.
struct UnixAddress {
  sockaddr_un address{};
  socklen_t length = 0;
};
std::expected<UnixAddress, std::string> unix_address(std::string_view path);

// A new close-on-exec stream socket connected to `path`. The error is the errno, or -1 with
// `*text` set for a path the address cannot hold.
struct ConnectFailure {
  int errnum = 0;
  std::string text;
};
std::expected<UniqueFd, ConnectFailure> connect_unix(std::string_view path);

// Sends all of `bytes` without ever raising SIGPIPE, retrying interrupted and partial sends.
// On failure: the errno, with `*sent` the bytes that did go out.
std::expected<void, int> send_all(int fd, std::string_view bytes, std::size_t* sent);

}  // namespace tarvik
