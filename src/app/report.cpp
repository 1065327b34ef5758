#include "app/report.h"

#include <cstdio>

#include <fmt/format.h>

namespace tarvik {

void report_failure(std::string_view text) {
  // One write, so that the line cannot interleave with a log record.
  const std::string line = fmt::format("tarvik: {}\n", text);
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
}

std::string quoted_name(std::string_view name) {
  std::string out = "\"";
  for (const char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\0':
        out += "\\0";
        break;
      default:
        if (byte < 0x20 || byte == 0x7F) {
          out += fmt::format("\\u{{{:x}}}", byte);
        } else {
          out += c;
        }
    }
  }
  out += '"';
  return out;
}

}  // namespace tarvik
