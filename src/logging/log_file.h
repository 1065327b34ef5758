// Opening the --log-file: missing parent directories are created, the file is appended to.
#pragma once

#include <expected>
#include <string>
#include <string_view>

namespace tarvik {

struct LogFileError {
  int os_error = 0;

  // "cannot open log file: " + the system error's text.
  std::string message() const;
};

// The directory part of `path` ("" when there is none), as a path library names a parent:
// "a/b/log.json" -> "a/b", "/log.json" -> "/", "log.json" -> "".
std::string_view parent_directory(std::string_view path);

// Creates the parents (mode 0777 before umask; existing directories are fine) and opens the file
// for appending, creating it with mode 0666 before umask. The descriptor is close-on-exec.
std::expected<int, LogFileError> open_log_file(const std::string& path);

}  // namespace tarvik
