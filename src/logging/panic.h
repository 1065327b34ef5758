// Fatal internal errors: a broken invariant or an uncaught exception ends the process after one
// "panicked at file:line:column:" record, tagged PNC, on standard error and in the log file.
#pragma once

#include <source_location>
#include <string>
#include <string_view>

namespace tarvik {

// Reports the failure and aborts. Use for states the code has ruled out, never for bad input.
[[noreturn]] void invariant_failed(std::string_view text,
                                   std::source_location where = std::source_location::current());

namespace logging {

// "panicked at " + file:line:column, then ":" + line feed + text when there is a text.
std::string panic_message(std::string_view file, unsigned line, unsigned column,
                          std::string_view text);

// Writes the crash record through the installed logger, or as a bare line on standard error when
// no logger is installed yet. Never throws.
void report_panic(std::string_view message) noexcept;

// Replaces the default report of an uncaught exception (std::terminate) with the crash record.
void install_crash_hook();

}  // namespace logging
}  // namespace tarvik

#define TARVIK_ASSERT(cond, text)                     \
  do {                                                \
    if (!(cond)) [[unlikely]] {                       \
      ::tarvik::invariant_failed(text);               \
    }                                                 \
  } while (0)
