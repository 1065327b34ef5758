#include <cstddef>

#include "config/config.h"

namespace tarvik {
namespace {

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::expected<Color, std::string> parse_color(std::string_view text) {
  if (!text.starts_with('#')) return std::unexpected("color must start with #");
  const std::string_view digits = text.substr(1);
  // Bytes, not characters: a non-ASCII letter counts several times and then fails as a digit.
  const std::size_t count = digits.size();
  if (count != 3 && count != 4 && count != 6 && count != 8) {
    return std::unexpected("color must contain 3, 4, 6, or 8 hexadecimal digits");
  }
  std::uint8_t values[8] = {};
  for (std::size_t i = 0; i < count; ++i) {
    const int v = hex_value(digits[i]);
    if (v < 0) return std::unexpected("color contains a non-hexadecimal digit");
    values[i] = static_cast<std::uint8_t>(v);
  }
  const bool short_form = count <= 4;
  const auto channel = [&](std::size_t index) -> std::uint8_t {
    if (short_form) return static_cast<std::uint8_t>(values[index] * 17);
    return static_cast<std::uint8_t>(values[2 * index] * 16 + values[2 * index + 1]);
  };
  const bool has_alpha = count == 4 || count == 8;
  return Color{channel(0), channel(1), channel(2), has_alpha ? channel(3) : std::uint8_t{255}};
}

}  // namespace tarvik
