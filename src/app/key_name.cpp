#include "app/key_name.h"

#include <array>
#include <optional>

#include <xkbcommon/xkbcommon.h>

namespace tarvik {
namespace {

// Decodes `text` when it is exactly one well-formed UTF-8 character.
std::optional<char32_t> single_code_point(std::string_view text) {
  if (text.empty()) return std::nullopt;
  const auto lead = static_cast<unsigned char>(text[0]);
  std::size_t length = 0;
  char32_t value = 0;
  if (lead < 0x80) {
    length = 1;
    value = lead;
  } else if ((lead & 0xE0) == 0xC0) {
    length = 2;
    value = lead & 0x1F;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3;
    value = lead & 0x0F;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4;
    value = lead & 0x07;
  } else {
    return std::nullopt;
  }
  if (text.size() != length) return std::nullopt;
  for (std::size_t i = 1; i < length; ++i) {
    const auto next = static_cast<unsigned char>(text[i]);
    if ((next & 0xC0) != 0x80) return std::nullopt;
    value = (value << 6) | (next & 0x3F);
  }
  // Overlong forms, surrogates and values past Unicode are not characters.
  static constexpr std::array<char32_t, 5> kMinimum{0, 0, 0x80, 0x800, 0x10000};
  if (value < kMinimum[length] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
    return std::nullopt;
  }
  return value;
}

bool is_control(char32_t c) { return c <= 31 || (c >= 127 && c <= 159); }

// The Unicode White_Space property.
bool is_white_space(char32_t c) {
  return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
         (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F ||
         c == 0x205F || c == 0x3000;
}

bool all_hex_digits(std::string_view text) {
  if (text.empty()) return false;
  for (char c : text) {
    const bool hex = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
    if (!hex) return false;
  }
  return true;
}

// The keysym's entry in the standard name list. libxkbcommon invents "0x%08x" for keysyms it
// has no name for and "U%04X" for Unicode keysyms without one; neither is a name a user could
// have written from the list, so both count as unnamed. NoSymbol is the absence of a keysym.
std::string standard_keysym_name(std::uint32_t keysym) {
  if (keysym == XKB_KEY_NoSymbol) return {};
  std::array<char, 128> buffer{};
  const int length = xkb_keysym_get_name(keysym, buffer.data(), buffer.size());
  if (length <= 0 || static_cast<std::size_t>(length) >= buffer.size()) return {};
  std::string_view name(buffer.data(), static_cast<std::size_t>(length));
  if (name.starts_with("0x")) return {};
  if (keysym >= 0x01000100 && keysym <= 0x0110FFFF && name.size() > 1 && name[0] == 'U' &&
      all_hex_digits(name.substr(1))) {
    return {};
  }
  if (name.starts_with("XK_")) name.remove_prefix(3);
  return std::string(name);
}

}  // namespace

std::string key_name(std::string_view produced, std::uint32_t keysym) {
  if (const auto c = single_code_point(produced); c && !is_control(*c) && !is_white_space(*c)) {
    return std::string(produced);
  }
  return standard_keysym_name(keysym);
}

}  // namespace tarvik
