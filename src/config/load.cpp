#include <cerrno>
#include <cstdlib>
#include <string>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "config/config.h"
#include "config/decode.h"
#include "logging/utf8.h"
#include "logging/log.h"
#include "logging/system_error.h"

namespace tarvik {
namespace {

// Joins like a path library: an empty base leaves the relative part alone.
std::string join(std::string base, std::string_view relative) {
  if (!base.empty() && !base.ends_with('/')) base += '/';
  base += relative;
  return base;
}

// Far beyond any real configuration; it stops a path such as /dev/zero from filling memory.
constexpr std::size_t kMaxFileBytes = 16 * 1024 * 1024;

// The whole file, or the text of what went wrong.
std::expected<std::string, std::string> read_text(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::unexpected(os_error_text(errno));
  std::string text;
  char buffer[16384];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      const int error = errno;
      ::close(fd);
      return std::unexpected(os_error_text(error));
    }
    if (n == 0) break;
    text.append(buffer, static_cast<std::size_t>(n));
    if (text.size() > kMaxFileBytes) {
      ::close(fd);
      return std::unexpected(os_error_text(EFBIG));
    }
  }
  ::close(fd);
  if (!logging::is_valid_utf8(text)) return std::unexpected("stream did not contain valid UTF-8");
  return text;
}

void warn_deprecations(const Config& config) {
  const auto& deprecated = config.general.require_shortcut_inhibit;
  if (!deprecated) return;
  if (*deprecated) {
    TARVIK_LOG(Warn, "tarvik::config",
               "general.require_shortcut_inhibit is deprecated; remove it to keep the default "
               "behavior, or set general.preserve_focus = true to preserve application focus");
  } else {
    TARVIK_LOG(Warn, "tarvik::config",
               "general.require_shortcut_inhibit is deprecated; false retains legacy permissive "
               "operation for compatibility; remove it to require shortcut inhibition, or replace "
               "it with general.preserve_focus = true to preserve application focus (different "
               "behavior)");
  }
}

}  // namespace

std::expected<std::string, ConfigError> config_path(const std::optional<std::string>& path) {
  if (path) return *path;
  // Set counts, even to the empty text (which leaves a relative path).
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME")) return join(xdg, "tarvik/config.toml");
  if (const char* home = std::getenv("HOME")) return join(home, ".config/tarvik/config.toml");
  return std::unexpected(ConfigError::no_config_directory());
}

std::expected<Config, ConfigError> load_config(const std::optional<std::string>& path) {
  auto resolved = config_path(path);
  if (!resolved) return std::unexpected(std::move(resolved).error());
  const std::string& file = *resolved;

  // Anything that cannot even be examined counts as no file at all.
  struct stat info {};
  if (::stat(file.c_str(), &info) != 0) return Config{};

  auto text = read_text(file);
  if (!text) return std::unexpected(ConfigError::read(file, std::move(text).error()));
  auto config = config::decode_config(*text);
  if (!config) return std::unexpected(ConfigError::parse(file, std::move(config).error()));
  if (auto valid = validate(*config); !valid) {
    return std::unexpected(ConfigError::validation(std::move(valid).error()));
  }
  warn_deprecations(*config);
  return std::move(config).value();
}

}  // namespace tarvik
