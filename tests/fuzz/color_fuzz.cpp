// The colour parser against a plain reading of its notation: "#" and 3, 4, 6 or 8 hexadecimal
// digits. Every text it accepts must be exactly such a text, every other text refused with one
// of its three messages, and the colour must be what the digits say.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "config/config.h"

namespace {

int digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool well_formed(std::string_view text) {
  if (text.empty() || text[0] != '#') return false;
  const auto n = text.size() - 1;
  if (n != 3 && n != 4 && n != 6 && n != 8) return false;
  for (char c : text.substr(1)) {
    if (digit(c) < 0) return false;
  }
  return true;
}

tarvik::Color expected_color(std::string_view digits) {
  std::uint8_t channel[4] = {0, 0, 0, 255};
  const bool short_form = digits.size() <= 4;
  const std::size_t channels = digits.size() == 3 || digits.size() == 6 ? 3 : 4;
  for (std::size_t i = 0; i < channels; ++i) {
    channel[i] = short_form ? static_cast<std::uint8_t>(digit(digits[i]) * 17)
                            : static_cast<std::uint8_t>(digit(digits[2 * i]) * 16 + digit(digits[2 * i + 1]));
  }
  return {channel[0], channel[1], channel[2], channel[3]};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const auto color = tarvik::parse_color(text);
  if (well_formed(text)) {
    if (!color || *color != expected_color(text.substr(1))) std::abort();
    return 0;
  }
  if (color) std::abort();
  const auto& message = color.error();
  if (message != "color must start with #" &&
      message != "color must contain 3, 4, 6, or 8 hexadecimal digits" &&
      message != "color contains a non-hexadecimal digit") {
    std::abort();
  }
  return 0;
}
