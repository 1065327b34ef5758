#include "sway/headless_sway_support.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <wayland-client.h>

#include "wlr-virtual-pointer-unstable-v1-client-protocol.h"

extern char** environ;

namespace tarvik::testing {

namespace {

const std::string launcher = std::string(TARVIK_SOURCE_DIR) + "/tests/e2e/headless-sway";

// The launcher waits at most 15 seconds for Sway's sockets; this bounds the launcher itself.
constexpr const char* launcher_limit = "timeout --kill-after=5 40";

std::string shell_quote(const std::string& text) {
  std::string out = "'";
  for (char c : text) {
    if (c == '\'') {
      out += "'\\''";
    } else {
      out += c;
    }
  }
  return out + "'";
}

bool executable_on_path(const char* name) {
  const char* path = std::getenv("PATH");
  if (path == nullptr) return false;
  std::stringstream dirs(path);
  std::string dir;
  while (std::getline(dirs, dir, ':')) {
    if (dir.empty()) continue;
    const std::string candidate = dir + "/" + name;
    if (::access(candidate.c_str(), X_OK) == 0) return true;
  }
  return false;
}

}  // namespace

bool sway_installed() { return executable_on_path("sway"); }

std::unique_ptr<HeadlessSway> HeadlessSway::start(std::string* error) {
  const std::string command = std::string(launcher_limit) + " " + shell_quote(launcher) + " start";
  FILE* out = ::popen(command.c_str(), "r");
  if (out == nullptr) {
    *error = std::string("cannot run the launcher: ") + std::strerror(errno);
    return nullptr;
  }
  std::unique_ptr<HeadlessSway> sway(new HeadlessSway);
  char line[4096];
  while (std::fgets(line, sizeof line, out) != nullptr) {
    std::string text(line);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    const auto equals = text.find('=');
    if (equals == std::string::npos) continue;
    const std::string key = text.substr(0, equals);
    const std::string value = text.substr(equals + 1);
    if (key == "SWAYSOCK") sway->swaysock_ = value;
    if (key == "XDG_RUNTIME_DIR") sway->runtime_dir_ = value;
    if (key == "WAYLAND_DISPLAY") sway->wayland_display_ = value;
  }
  const int status = ::pclose(out);
  if (status != 0 || sway->swaysock_.empty() || sway->runtime_dir_.empty() ||
      sway->wayland_display_.empty()) {
    *error = "the headless Sway launcher failed (status " + std::to_string(status) + ")";
    // Whatever it managed to start is torn down as `sway` goes.
    return nullptr;
  }
  return sway;
}

HeadlessSway::~HeadlessSway() {
  if (runtime_dir_.empty()) return;
  const std::string command = std::string(launcher_limit) + " " + shell_quote(launcher) +
                              " stop " + shell_quote(runtime_dir_);
  if (std::system(command.c_str()) != 0) {
    std::fprintf(stderr, "headless Sway in %s did not stop cleanly\n", runtime_dir_.c_str());
  }
}

std::unique_ptr<LineProcess> LineProcess::spawn(const std::string& program,
                                                const std::vector<std::string>& extra_environment,
                                                std::string* error) {
  int in[2];
  int out[2];
  if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0) {
    *error = std::string("pipe: ") + std::strerror(errno);
    return nullptr;
  }
  // Everything the child needs is built before fork: only async-signal-safe calls after it.
  std::vector<std::string> environment = extra_environment;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string text(*entry);
    const std::string key = text.substr(0, text.find('='));
    bool overridden = false;
    for (const std::string& extra : extra_environment) {
      if (extra.compare(0, key.size() + 1, key + "=") == 0) overridden = true;
    }
    if (!overridden) environment.push_back(text);
  }
  std::vector<char*> envp;
  for (std::string& entry : environment) envp.push_back(entry.data());
  envp.push_back(nullptr);
  std::string program_copy = program;
  char* argv[] = {program_copy.data(), nullptr};

  const pid_t pid = ::fork();
  if (pid < 0) {
    *error = std::string("fork: ") + std::strerror(errno);
    return nullptr;
  }
  if (pid == 0) {
    ::dup2(in[0], STDIN_FILENO);
    ::dup2(out[1], STDOUT_FILENO);
    ::execve(program_copy.c_str(), argv, envp.data());
    ::_exit(127);
  }
  ::close(in[0]);
  ::close(out[1]);
  std::unique_ptr<LineProcess> process(new LineProcess);
  process->pid_ = pid;
  process->stdin_fd_ = in[1];
  process->stdout_fd_ = out[0];
  return process;
}

LineProcess::~LineProcess() {
  if (stdin_fd_ >= 0) ::close(stdin_fd_);
  if (pid_ > 0) {
    // Closing its input asks it to quit; a child that does not is killed after a while.
    int status = 0;
    bool reaped = false;
    for (int i = 0; i < 100 && !reaped; ++i) {
      reaped = ::waitpid(pid_, &status, WNOHANG) == pid_;
      if (!reaped) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (!reaped) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, &status, 0);
    }
  }
  if (stdout_fd_ >= 0) ::close(stdout_fd_);
}

bool LineProcess::read_more(std::chrono::steady_clock::time_point deadline) {
  if (eof_) return false;
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      deadline - std::chrono::steady_clock::now());
  if (left.count() <= 0) return false;
  pollfd p{stdout_fd_, POLLIN, 0};
  const int r = ::poll(&p, 1, static_cast<int>(left.count()));
  if (r < 0) return errno == EINTR;
  if (r == 0) return false;
  char buffer[4096];
  const ssize_t n = ::read(stdout_fd_, buffer, sizeof buffer);
  if (n < 0) return errno == EINTR;
  if (n == 0) {
    eof_ = true;
    return false;
  }
  pending_.append(buffer, static_cast<std::size_t>(n));
  std::size_t newline;
  while ((newline = pending_.find('\n')) != std::string::npos) {
    lines_.push_back(pending_.substr(0, newline));
    pending_.erase(0, newline + 1);
  }
  return true;
}

std::optional<std::string> LineProcess::wait_for(
    const std::function<bool(const std::string&)>& accept, std::chrono::milliseconds timeout,
    std::size_t start) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  std::size_t next = start;
  for (;;) {
    for (; next < lines_.size(); ++next) {
      if (accept(lines_[next])) return lines_[next];
    }
    if (!read_more(deadline)) {
      for (; next < lines_.size(); ++next) {
        if (accept(lines_[next])) return lines_[next];
      }
      return std::nullopt;
    }
  }
}

void VirtualPointer::on_global(void* data, wl_registry* registry, std::uint32_t name,
                               const char* interface, std::uint32_t version) {
  auto* self = static_cast<VirtualPointer*>(data);
  if (std::strcmp(interface, wl_seat_interface.name) == 0 && self->seat_ == nullptr) {
    self->seat_ = static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
  } else if (std::strcmp(interface, zwlr_virtual_pointer_manager_v1_interface.name) == 0) {
    self->manager_ = static_cast<zwlr_virtual_pointer_manager_v1*>(wl_registry_bind(
        registry, name, &zwlr_virtual_pointer_manager_v1_interface, version < 2 ? version : 2));
  }
}

void VirtualPointer::on_global_remove(void*, wl_registry*, std::uint32_t) {}

std::unique_ptr<VirtualPointer> VirtualPointer::create(const std::string& wayland_socket_path,
                                                       std::string* error) {
  static const wl_registry_listener listener = {&VirtualPointer::on_global,
                                                &VirtualPointer::on_global_remove};
  std::unique_ptr<VirtualPointer> pointer(new VirtualPointer);
  // An absolute name connects without consulting XDG_RUNTIME_DIR.
  pointer->display_ = wl_display_connect(wayland_socket_path.c_str());
  if (pointer->display_ == nullptr) {
    *error = "cannot connect to " + wayland_socket_path;
    return nullptr;
  }
  pointer->registry_ = wl_display_get_registry(pointer->display_);
  wl_registry_add_listener(pointer->registry_, &listener, pointer.get());
  if (wl_display_roundtrip(pointer->display_) < 0) {
    *error = "registry round trip failed";
    return nullptr;
  }
  if (pointer->seat_ == nullptr || pointer->manager_ == nullptr) {
    *error = "the compositor offers no seat or no virtual pointer manager";
    return nullptr;
  }
  pointer->pointer_ =
      zwlr_virtual_pointer_manager_v1_create_virtual_pointer(pointer->manager_, pointer->seat_);
  if (wl_display_roundtrip(pointer->display_) < 0) {
    *error = "virtual pointer round trip failed";
    return nullptr;
  }
  return pointer;
}

VirtualPointer::~VirtualPointer() {
  if (pointer_ != nullptr) zwlr_virtual_pointer_v1_destroy(pointer_);
  if (manager_ != nullptr) zwlr_virtual_pointer_manager_v1_destroy(manager_);
  if (seat_ != nullptr) wl_seat_destroy(seat_);
  if (registry_ != nullptr) wl_registry_destroy(registry_);
  if (display_ != nullptr) {
    wl_display_roundtrip(display_);
    wl_display_disconnect(display_);
  }
}

}  // namespace tarvik::testing
