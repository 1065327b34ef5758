#include "ipc_support.h"

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <fcntl.h>
#include <gtest/gtest.h>

#include "ipc/json.h"
#include "ipc/socket_path.h"
#include "logging/logging.h"

namespace tarvik::testing {

namespace {

std::optional<std::string> get_env(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

void set_env(const char* name, const std::optional<std::string>& value) {
  if (value) {
    setenv(name, value->c_str(), 1);
  } else {
    unsetenv(name);
  }
}

}  // namespace

RuntimeDir::RuntimeDir(std::string display)
    : display_(std::move(display)),
      saved_runtime_dir_(get_env("XDG_RUNTIME_DIR")),
      saved_display_(get_env("WAYLAND_DISPLAY")) {
  std::string pattern = (std::filesystem::temp_directory_path() / "tarvik-ipc-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) {
    ADD_FAILURE() << "mkdtemp failed: " << errno;
  }
  dir_ = pattern;
  set_env("XDG_RUNTIME_DIR", dir_);
  set_env("WAYLAND_DISPLAY", display_);
}

RuntimeDir::~RuntimeDir() {
  std::error_code ignored;
  std::filesystem::remove_all(dir_, ignored);
  set_env("XDG_RUNTIME_DIR", saved_runtime_dir_);
  set_env("WAYLAND_DISPLAY", saved_display_);
}

std::string RuntimeDir::socket_path() const { return socket_path_for(dir_, display_, "tarvik"); }

EnvOverride::EnvOverride(const char* name, std::optional<std::string> value)
    : name_(name), saved_(get_env(name)) {
  set_env(name, value);
}

EnvOverride::~EnvOverride() { set_env(name_.c_str(), saved_); }

LogCapture::LogCapture() {
  std::string pattern = (std::filesystem::temp_directory_path() / "tarvik-ipc-log-XXXXXX").string();
  const int fd = mkstemp(pattern.data());
  if (fd < 0) ADD_FAILURE() << "mkstemp failed: " << errno;
  path_ = pattern;
  if (auto installed = init_logging(LogLevel::Debug, fd); !installed) {
    ADD_FAILURE() << installed.error().message();
  }
}

LogCapture& LogCapture::instance() {
  static LogCapture capture;
  return capture;
}

std::vector<LogRecord> LogCapture::take() {
  std::ifstream in(path_, std::ios::binary);
  std::stringstream content;
  content << in.rdbuf();
  const std::string all = content.str();
  std::vector<LogRecord> records;
  std::size_t start = consumed_;
  while (true) {
    const std::size_t end = all.find('\n', start);
    if (end == std::string::npos) break;
    auto value = json::parse(std::string_view(all).substr(start, end - start));
    if (!value) {
      ADD_FAILURE() << "log line is not JSON: " << value.error().message();
    } else {
      auto field = [&](std::string_view key) {
        const json::Value* v = value->find(key);
        return v ? v->string : std::string();
      };
      records.push_back({field("level"), field("target"), field("message")});
    }
    start = end + 1;
  }
  consumed_ = start;
  return records;
}

std::vector<std::string> LogCapture::messages(std::string_view target) {
  std::vector<std::string> out;
  for (auto& record : take()) {
    if (record.target == target) out.push_back(std::move(record.message));
  }
  return out;
}

UniqueFd connect_client(const std::string& path) {
  auto fd = connect_unix(path);
  if (!fd) {
    ADD_FAILURE() << "connect failed: " << fd.error().errnum << " " << fd.error().text;
    return UniqueFd();
  }
  return std::move(*fd);
}

void write_all_or_fail(int fd, std::string_view bytes) {
  if (auto sent = send_all(fd, bytes, nullptr); !sent) {
    ADD_FAILURE() << "send failed: " << sent.error();
  }
}

std::string read_to_end(int fd) {
  std::string out;
  char buffer[4096];
  while (true) {
    const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    out.append(buffer, static_cast<std::size_t>(n));
  }
  return out;
}

UniqueFd listen_at(const std::string& path) {
  UniqueFd fd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  auto address = unix_address(path);
  if (!fd || !address) {
    ADD_FAILURE() << "cannot create a listening socket at " << path;
    return UniqueFd();
  }
  if (bind(fd.get(), reinterpret_cast<const sockaddr*>(&address->address), address->length) != 0 ||
      listen(fd.get(), 16) != 0) {
    ADD_FAILURE() << "bind/listen failed at " << path << ": " << errno;
  }
  return fd;
}

}  // namespace tarvik::testing
