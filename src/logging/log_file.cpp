#include "logging/log_file.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>

#include "logging/system_error.h"

namespace tarvik {

namespace {

std::string_view without_trailing_slashes(std::string_view path) {
  while (path.size() > 1 && path.ends_with('/')) path.remove_suffix(1);
  return path;
}

// mkdir -p: each missing ancestor in turn. Anything already there is passed over; if it is not a
// directory, the next step fails with "Not a directory", which names the problem better than
// "File exists" would.
int create_directories(std::string_view directory) {
  std::string prefix;
  std::size_t at = 0;
  while (at < directory.size()) {
    std::size_t next = directory.find('/', at);
    if (next == std::string_view::npos) next = directory.size();
    prefix.assign(directory.substr(0, next));
    at = next + 1;
    if (prefix.empty()) continue;  // the root of an absolute path
    if (::mkdir(prefix.c_str(), 0777) != 0 && errno != EEXIST) return errno;
  }
  return 0;
}

}  // namespace

std::string LogFileError::message() const {
  return "cannot open log file: " + os_error_text(os_error);
}

std::string_view parent_directory(std::string_view path) {
  path = without_trailing_slashes(path);
  if (path == "/") return {};
  const auto slash = path.rfind('/');
  if (slash == std::string_view::npos) return {};
  if (slash == 0) return "/";
  return without_trailing_slashes(path.substr(0, slash));
}

std::expected<int, LogFileError> open_log_file(const std::string& path) {
  if (const std::string_view parent = parent_directory(path); !parent.empty()) {
    if (const int failure = create_directories(parent); failure != 0) {
      return std::unexpected(LogFileError{failure});
    }
  }
  const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) return std::unexpected(LogFileError{errno});
  return fd;
}

}  // namespace tarvik
