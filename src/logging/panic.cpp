#include "logging/panic.h"

#include <cxxabi.h>

#include <cstdlib>
#include <exception>
#include <memory>
#include <typeinfo>

#include <fmt/format.h>

namespace tarvik {

namespace logging {

namespace {

std::string demangled(const std::type_info* type) {
  if (type == nullptr) return "unknown";
  int status = 0;
  std::unique_ptr<char, decltype(&std::free)> name(
      abi::__cxa_demangle(type->name(), nullptr, nullptr, &status), &std::free);
  return status == 0 && name ? std::string(name.get()) : std::string(type->name());
}

// An exception carries no record of where it was thrown, and by the time std::terminate runs the
// throw site is only an address. The record therefore names no file ("<unknown>:0:0") and puts the
// exception's type and what() in the text, which is what a reader needs to find the throw.
std::string uncaught_exception_text() {
  const std::exception_ptr current = std::current_exception();
  if (!current) return "std::terminate called without an active exception";
  const std::string type = demangled(abi::__cxa_current_exception_type());
  try {
    std::rethrow_exception(current);
  } catch (const std::exception& e) {
    return fmt::format("uncaught exception of type {}: {}", type, e.what());
  } catch (...) {
    return fmt::format("uncaught exception of type {}", type);
  }
}

[[noreturn]] void on_terminate() noexcept {
  std::string message;
  try {
    message = panic_message("<unknown>", 0, 0, uncaught_exception_text());
  } catch (...) {
    message = "panicked at <unknown>:0:0";
  }
  report_panic(message);
  std::abort();
}

}  // namespace

std::string panic_message(std::string_view file, unsigned line, unsigned column,
                          std::string_view text) {
  std::string message = fmt::format("panicked at {}:{}:{}", file, line, column);
  if (!text.empty()) {
    message += ":\n";
    message += text;
  }
  return message;
}

void install_crash_hook() { std::set_terminate(on_terminate); }

}  // namespace logging

void invariant_failed(std::string_view text, std::source_location where) {
  std::string message;
  try {
    message = logging::panic_message(where.file_name(), where.line(), where.column(), text);
  } catch (...) {
    message = "panicked at <out of memory>";
  }
  logging::report_panic(message);
  std::abort();
}

}  // namespace tarvik
