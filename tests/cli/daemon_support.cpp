#include "daemon_support.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <stdexcept>

namespace tarvik::testing {

ScriptedDaemon::ScriptedDaemon(std::filesystem::path socket_path, std::string answer,
                               int connections) {
  listener_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string path = socket_path.string();
  if (listener_ < 0 || path.size() >= sizeof address.sun_path) {
    throw std::runtime_error("cannot create the scripted daemon's socket");
  }
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listener_, 16) != 0) {
    throw std::runtime_error("cannot bind the scripted daemon's socket");
  }
  thread_ = std::jthread([this, answer = std::move(answer), connections] {
    for (int i = 0; i < connections; ++i) {
      // Give up after a while so that a client that never comes cannot hang the test.
      pollfd ready{listener_, POLLIN, 0};
      if (::poll(&ready, 1, 10'000) != 1) return;
      const int connection = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
      if (connection < 0) return;
      std::string line;
      char c = 0;
      while (::read(connection, &c, 1) == 1) {
        line.push_back(c);
        if (c == '\n') break;
      }
      requests_.push_back(line);
      (void)::send(connection, answer.data(), answer.size(), MSG_NOSIGNAL);
      ::close(connection);
    }
  });
}

ScriptedDaemon::~ScriptedDaemon() {
  if (thread_.joinable()) thread_.join();
  if (listener_ >= 0) ::close(listener_);
}

std::vector<std::string> ScriptedDaemon::requests() {
  if (thread_.joinable()) thread_.join();
  return requests_;
}

}  // namespace tarvik::testing
