// The process's one logger: human-readable lines on standard error and, optionally, JSON lines
// appended to a log file. Installed once, right after the command line is parsed.
#pragma once

#include <chrono>
#include <expected>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "cli/command.h"

namespace tarvik {

struct LoggingError {
  enum class Kind {
    AlreadyInitialized,  // "logging has already been initialized"
  };
  Kind kind = Kind::AlreadyInitialized;

  std::string message() const;
};

// Installs the logger at `level`, writing JSON lines to `log_fd` when given (an open descriptor,
// normally O_APPEND; the logger owns it from now on), sets the facade's maximum rank and installs
// the crash report hook. A second call fails and leaves the first logger in place.
std::expected<void, LoggingError> init_logging(LogLevel level, std::optional<int> log_fd);

namespace logging {

// "ERR", "WRN", "INF", "DBG", "TRC"; records of `kPanicTarget` are tagged "PNC" whatever the level.
inline constexpr std::string_view kPanicTarget = "tarvik::panic";
std::string_view tag(LogLevel level, std::string_view target);

// UTC time of day with milliseconds, "09:05:03.042Z"; a time before the epoch gives midnight.
std::string format_timestamp(std::chrono::system_clock::time_point when);

// Appends `text` as a JSON string literal (quotes included): \" \\ \b \t \n \f \r, other control
// characters as \u00xx with lowercase hex, everything else unchanged.
void append_json_string(std::string& out, std::string_view text);

// The two line forms of one record, each ending in a line feed.
std::string stderr_line(std::string_view tag, std::string_view timestamp, std::string_view message);
std::string json_line(std::string_view timestamp, std::string_view tag, std::string_view target,
                      std::string_view message);

// Writes all of `bytes` to `fd`, retrying interrupted and partial writes; false on any other failure.
bool write_all(int fd, std::string_view bytes);

// The logger behind the facade. Kept as a class with its own descriptors so that tests can run one
// without installing it process-wide.
class Logger {
 public:
  Logger(int max_rank, int stderr_fd, std::optional<int> file_fd)
      : max_rank_(max_rank), stderr_fd_(stderr_fd), file_fd_(file_fd) {}

  int max_rank() const { return max_rank_; }
  void log(LogLevel level, std::string_view target, std::string_view message);
  void log_at(std::chrono::system_clock::time_point when, LogLevel level, std::string_view target,
              std::string_view message);

 private:
  int max_rank_;
  int stderr_fd_;
  std::optional<int> file_fd_;
  std::mutex stderr_mutex_;
  std::mutex file_mutex_;
};

}  // namespace logging
}  // namespace tarvik
