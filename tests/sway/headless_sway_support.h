// A real, headless Sway for the tests that check the client against the compositor itself,
// plus the two Wayland clients those tests need: the end-to-end pointer probe (a fullscreen
// window that reports its pointer events) and a virtual pointer, without which a headless
// seat has no pointer at all and Sway's cursor commands reach no window.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct wl_display;
struct wl_registry;
struct wl_seat;
struct zwlr_virtual_pointer_manager_v1;
struct zwlr_virtual_pointer_v1;

namespace tarvik::testing {

// Whether a `sway` program is on the PATH; without it the real-compositor tests are skipped.
bool sway_installed();

class HeadlessSway {
 public:
  // Starts Sway through the end-to-end launcher (bounded in time); the error text says why not.
  static std::unique_ptr<HeadlessSway> start(std::string* error);
  ~HeadlessSway();
  HeadlessSway(const HeadlessSway&) = delete;
  HeadlessSway& operator=(const HeadlessSway&) = delete;

  const std::string& swaysock() const { return swaysock_; }
  const std::string& runtime_dir() const { return runtime_dir_; }
  const std::string& wayland_display() const { return wayland_display_; }
  std::string wayland_socket_path() const { return runtime_dir_ + "/" + wayland_display_; }

 private:
  HeadlessSway() = default;
  std::string swaysock_;
  std::string runtime_dir_;
  std::string wayland_display_;
};

// A child process whose standard output is read line by line; its standard input stays open
// until the object goes, which is what tells the probe to quit.
class LineProcess {
 public:
  static std::unique_ptr<LineProcess> spawn(const std::string& program,
                                            const std::vector<std::string>& extra_environment,
                                            std::string* error);
  ~LineProcess();
  LineProcess(const LineProcess&) = delete;
  LineProcess& operator=(const LineProcess&) = delete;

  // The first line, from index `start` on, that satisfies `accept`; waits up to `timeout` for
  // more output. Nothing when the time passes or the process closes its output first.
  std::optional<std::string> wait_for(const std::function<bool(const std::string&)>& accept,
                                      std::chrono::milliseconds timeout, std::size_t start = 0);
  // The number of lines read so far, to pass as `start` for waiting on later lines only.
  std::size_t mark() const { return lines_.size(); }
  const std::vector<std::string>& lines() const { return lines_; }

 private:
  LineProcess() = default;
  bool read_more(std::chrono::steady_clock::time_point deadline);

  pid_t pid_ = -1;
  int stdin_fd_ = -1;
  int stdout_fd_ = -1;
  std::string pending_;
  std::vector<std::string> lines_;
  bool eof_ = false;
};

// A wlroots virtual pointer on the compositor's first seat, kept for the object's lifetime.
class VirtualPointer {
 public:
  static std::unique_ptr<VirtualPointer> create(const std::string& wayland_socket_path,
                                                std::string* error);
  ~VirtualPointer();
  VirtualPointer(const VirtualPointer&) = delete;
  VirtualPointer& operator=(const VirtualPointer&) = delete;

 private:
  VirtualPointer() = default;
  static void on_global(void* data, wl_registry* registry, std::uint32_t name,
                        const char* interface, std::uint32_t version);
  static void on_global_remove(void* data, wl_registry* registry, std::uint32_t name);

  wl_display* display_ = nullptr;
  wl_registry* registry_ = nullptr;
  wl_seat* seat_ = nullptr;
  zwlr_virtual_pointer_manager_v1* manager_ = nullptr;
  zwlr_virtual_pointer_v1* pointer_ = nullptr;
};

}  // namespace tarvik::testing
