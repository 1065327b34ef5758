// Test fixtures for the IPC module: a private runtime directory, a recording command handler,
// a capture of the process's log records, and raw client sockets.
#pragma once

#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/command.h"
#include "ipc/command_handler.h"
#include "ipc/unix_socket.h"

namespace tarvik::testing {

// A fresh directory set as XDG_RUNTIME_DIR (WAYLAND_DISPLAY set to `display`); the previous
// environment comes back and the directory is removed on destruction.
class RuntimeDir {
 public:
  explicit RuntimeDir(std::string display = "wayland-test");
  ~RuntimeDir();
  RuntimeDir(const RuntimeDir&) = delete;
  RuntimeDir& operator=(const RuntimeDir&) = delete;

  const std::string& dir() const { return dir_; }
  // Where this process's daemon socket resolves to.
  std::string socket_path() const;

 private:
  std::string dir_;
  std::string display_;
  std::optional<std::string> saved_runtime_dir_;
  std::optional<std::string> saved_display_;
};

// Sets or unsets one environment variable for a scope.
class EnvOverride {
 public:
  EnvOverride(const char* name, std::optional<std::string> value);
  ~EnvOverride();
  EnvOverride(const EnvOverride&) = delete;
  EnvOverride& operator=(const EnvOverride&) = delete;

 private:
  std::string name_;
  std::optional<std::string> saved_;
};

// Records every command; answers with `reply` (success text or error text).
class RecordingHandler : public CommandHandler {
 public:
  std::expected<std::string, std::string> handle_command(const Command& command) override {
    commands.push_back(command);
    return reply;
  }
  void cancel() override { ++cancels; }

  std::expected<std::string, std::string> reply = std::string("done");
  std::vector<Command> commands;
  int cancels = 0;
};

struct LogRecord {
  std::string level;
  std::string target;
  std::string message;
};

// The process logger at debug level, writing JSON lines to a private file; installed on first
// use. `take` returns the records written since the previous call.
class LogCapture {
 public:
  static LogCapture& instance();
  std::vector<LogRecord> take();
  // Records of one target, messages only.
  std::vector<std::string> messages(std::string_view target);

 private:
  LogCapture();
  std::string path_;
  std::size_t consumed_ = 0;
};

// A connected client socket to `path` (asserts on failure).
UniqueFd connect_client(const std::string& path);
void write_all_or_fail(int fd, std::string_view bytes);
// Everything until the peer closes.
std::string read_to_end(int fd);

// A listening Unix socket at `path` (no guard, no probe): a stand-in for a daemon.
UniqueFd listen_at(const std::string& path);

}  // namespace tarvik::testing
