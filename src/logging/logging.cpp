#include "logging/logging.h"

#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>

#include <fmt/format.h>

#include "logging/log.h"
#include "logging/panic.h"
#include "logging/utf8.h"

namespace tarvik {

namespace logging {

// Off until init_logging: records made before the logger exists have nowhere to go.
std::atomic<int> g_max_rank{0};

namespace {

// Never freed: the crash hook may run during static destruction and still needs it.
std::atomic<Logger*> g_logger{nullptr};

}  // namespace

std::string_view tag(LogLevel level, std::string_view target) {
  if (target == kPanicTarget) return "PNC";
  switch (level) {
    case LogLevel::Error: return "ERR";
    case LogLevel::Warn: return "WRN";
    case LogLevel::Info: return "INF";
    case LogLevel::Debug: return "DBG";
    case LogLevel::Trace: return "TRC";
  }
  return "???";
}

std::string format_timestamp(std::chrono::system_clock::time_point when) {
  using namespace std::chrono;
  const auto since_epoch = when.time_since_epoch();
  if (since_epoch < nanoseconds::zero()) return "00:00:00.000Z";
  const auto ns = duration_cast<nanoseconds>(since_epoch).count();
  const long long total_seconds = ns / 1'000'000'000;
  const long long millis = (ns / 1'000'000) % 1000;
  const long long day_seconds = total_seconds % 86400;
  return fmt::format("{:02}:{:02}:{:02}.{:03}Z", day_seconds / 3600, day_seconds / 60 % 60,
                     day_seconds % 60, millis);
}

void append_json_string(std::string& out, std::string_view text) {
  out.push_back('"');
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\b': out += "\\b"; break;
      case '\t': out += "\\t"; break;
      case '\n': out += "\\n"; break;
      case '\f': out += "\\f"; break;
      case '\r': out += "\\r"; break;
      default:
        if (byte < 0x20) {
          out += fmt::format("\\u{:04x}", byte);
        } else {
          out.push_back(c);
        }
    }
  }
  out.push_back('"');
}

std::string stderr_line(std::string_view tag, std::string_view timestamp, std::string_view message) {
  std::string line;
  line.reserve(tag.size() + timestamp.size() + message.size() + 3);
  line.append(tag).append(" ").append(timestamp).append(" ").append(message).append("\n");
  return line;
}

std::string json_line(std::string_view timestamp, std::string_view tag, std::string_view target,
                      std::string_view message) {
  std::string line;
  line.reserve(message.size() + target.size() + 64);
  line += "{\"timestamp\":";
  append_json_string(line, timestamp);
  line += ",\"level\":";
  append_json_string(line, tag);
  line += ",\"target\":";
  append_json_string(line, target);
  line += ",\"message\":";
  append_json_string(line, message);
  line += "}\n";
  return line;
}

bool write_all(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

void Logger::log(LogLevel level, std::string_view target, std::string_view message) {
  log_at(std::chrono::system_clock::now(), level, target, message);
}

void Logger::log_at(std::chrono::system_clock::time_point when, LogLevel level,
                    std::string_view target, std::string_view message) {
  if (rank(level) > max_rank_) return;
  // Messages may quote raw bytes (paths, environment values); the JSON line must stay valid.
  std::string repaired_message;
  std::string repaired_target;
  if (!is_valid_utf8(message)) message = repaired_message = lossy_utf8(message);
  if (!is_valid_utf8(target)) target = repaired_target = lossy_utf8(target);
  const std::string_view record_tag = tag(level, target);
  const std::string timestamp = format_timestamp(when);
  {
    // One write per line, under the stdio lock too, so that lines never interleave with each
    // other or with text printed through stderr. A failure here has nowhere to be reported.
    const std::string line = stderr_line(record_tag, timestamp, message);
    const std::lock_guard lock(stderr_mutex_);
    const bool is_stderr = stderr_fd_ == STDERR_FILENO;
    if (is_stderr) flockfile(stderr);
    (void)write_all(stderr_fd_, line);
    if (is_stderr) funlockfile(stderr);
  }
  if (file_fd_) {
    // A full or broken log file loses this record and nothing else.
    const std::string line = json_line(timestamp, record_tag, target, message);
    const std::lock_guard lock(file_mutex_);
    (void)write_all(*file_fd_, line);
  }
}

void write_record(LogLevel level, std::string_view target, std::string_view message) {
  if (Logger* logger = g_logger.load(std::memory_order_acquire)) {
    logger->log(level, target, message);
  }
}

void report_panic(std::string_view message) noexcept {
  try {
    if (Logger* logger = g_logger.load(std::memory_order_acquire)) {
      if (g_max_rank.load(std::memory_order_relaxed) == 0) return;
      logger->log(LogLevel::Error, kPanicTarget, message);
      return;
    }
    std::string line(message);
    line.push_back('\n');
    (void)write_all(STDERR_FILENO, line);
  } catch (...) {
    // Out of memory while crashing: the abort that follows is all that is left to say.
  }
}

}  // namespace logging

std::string LoggingError::message() const {
  switch (kind) {
    case Kind::AlreadyInitialized: return "logging has already been initialized";
  }
  return "logging error";
}

std::expected<void, LoggingError> init_logging(LogLevel level, std::optional<int> log_fd) {
  const int max_rank = logging::rank(level);
  auto* logger = new logging::Logger(max_rank, STDERR_FILENO, log_fd);
  logging::Logger* expected = nullptr;
  if (!logging::g_logger.compare_exchange_strong(expected, logger, std::memory_order_acq_rel)) {
    delete logger;
    return std::unexpected(LoggingError{LoggingError::Kind::AlreadyInitialized});
  }
  logging::g_max_rank.store(max_rank, std::memory_order_relaxed);
  logging::install_crash_hook();
  return {};
}

}  // namespace tarvik
