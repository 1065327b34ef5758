#include "logging/system_error.h"

#include <cstring>

#include <fmt/format.h>

namespace tarvik {

std::string os_error_text(int errnum) {
  char buffer[256];
  // GNU strerror_r returns the message, which may or may not live in the buffer.
  const char* text = strerror_r(errnum, buffer, sizeof buffer);
  return fmt::format("{} (os error {})", text, errnum);
}

}  // namespace tarvik
