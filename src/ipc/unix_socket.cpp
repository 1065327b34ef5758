#include "ipc/unix_socket.h"

#include <cerrno>
#include <cstring>

namespace tarvik {

std::expected<UnixAddress, std::string> unix_address(std::string_view path) {
  UnixAddress result;
  result.address.sun_family = AF_UNIX;
  if (path.find('\0') != std::string_view::npos) {
    return std::unexpected(std::string("paths must not contain interior null bytes"));
  }
  // The terminating zero must fit as well.
  if (path.size() >= sizeof result.address.sun_path) {
    return std::unexpected(std::string("path must be shorter than SUN_LEN"));
  }
  std::memcpy(result.address.sun_path, path.data(), path.size());
  result.length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path.size() + 1);
  return result;
}

std::expected<UniqueFd, ConnectFailure> connect_unix(std::string_view path) {
  auto address = unix_address(path);
  if (!address) return std::unexpected(ConnectFailure{-1, address.error()});
  UniqueFd fd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!fd) return std::unexpected(ConnectFailure{errno, {}});
  // Not retried on EINTR: the attempt would go on in the background and a second call fails.
  if (connect(fd.get(), reinterpret_cast<const sockaddr*>(&address->address), address->length) !=
      0) {
    return std::unexpected(ConnectFailure{errno, {}});
  }
  return fd;
}

std::expected<void, int> send_all(int fd, std::string_view bytes, std::size_t* sent) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR) continue;
      const int saved = errno;
      if (sent != nullptr) *sent = done;
      return std::unexpected(saved);
    }
    done += static_cast<std::size_t>(n);
  }
  if (sent != nullptr) *sent = done;
  return {};
}

}  // namespace tarvik
