// The logging facade: every module logs through TARVIK_LOG, which drops a record above the
// installed level with one comparison, before its message is formatted.
#pragma once

#include <atomic>
#include <source_location>
#include <string_view>

#include <fmt/format.h>

#include "cli/command.h"

namespace tarvik::logging {

// Rank of the most verbose level admitted: 0 is off, 1 error ... 5 trace.
extern std::atomic<int> g_max_rank;

constexpr int rank(LogLevel level) { return static_cast<int>(level) + 1; }

inline bool enabled(LogLevel level) {
  return rank(level) <= g_max_rank.load(std::memory_order_relaxed);
}

// Writes one admitted record (the caller has checked `enabled`).
void write_record(LogLevel level, std::string_view target, std::string_view message);

}  // namespace tarvik::logging

// Usage: TARVIK_LOG(Info, "tarvik::ipc", "bound daemon socket path={}", path);
#define TARVIK_LOG(level, target, ...)                                                   \
  do {                                                                                   \
    if (::tarvik::logging::enabled(::tarvik::LogLevel::level)) {                         \
      ::tarvik::logging::write_record(::tarvik::LogLevel::level, target,                 \
                                      ::fmt::format(__VA_ARGS__));                       \
    }                                                                                    \
  } while (0)
