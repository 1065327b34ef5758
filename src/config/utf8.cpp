#include "config/utf8.h"

#include <cstddef>

namespace tarvik::config {
namespace {

struct Step {
  bool valid;
  std::size_t length;  // bytes of the sequence, or of the ill-formed prefix
};

bool in(unsigned char c, unsigned char low, unsigned char high) { return c >= low && c <= high; }

Step step(std::string_view s, std::size_t i) {
  const auto b0 = static_cast<unsigned char>(s[i]);
  if (b0 < 0x80) return {true, 1};
  std::size_t need = 0;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (in(b0, 0xC2, 0xDF)) {
    need = 1;
  } else if (b0 == 0xE0) {
    need = 2, low = 0xA0;
  } else if (in(b0, 0xE1, 0xEC) || in(b0, 0xEE, 0xEF)) {
    need = 2;
  } else if (b0 == 0xED) {
    need = 2, high = 0x9F;  // no surrogates
  } else if (b0 == 0xF0) {
    need = 3, low = 0x90;
  } else if (in(b0, 0xF1, 0xF3)) {
    need = 3;
  } else if (b0 == 0xF4) {
    need = 3, high = 0x8F;  // nothing above U+10FFFF
  } else {
    return {false, 1};
  }
  // Only the second byte has a narrowed range; the rest are plain continuation bytes.
  for (std::size_t k = 1; k <= need; ++k) {
    if (i + k >= s.size()) return {false, k};
    const auto c = static_cast<unsigned char>(s[i + k]);
    if (!(k == 1 ? in(c, low, high) : in(c, 0x80, 0xBF))) return {false, k};
  }
  return {true, need + 1};
}

}  // namespace

bool is_utf8(std::string_view bytes) {
  for (std::size_t i = 0; i < bytes.size();) {
    const Step s = step(bytes, i);
    if (!s.valid) return false;
    i += s.length;
  }
  return true;
}

std::string lossy_utf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (std::size_t i = 0; i < bytes.size();) {
    const Step s = step(bytes, i);
    if (s.valid) {
      out.append(bytes.substr(i, s.length));
    } else {
      out.append("\xEF\xBF\xBD");
    }
    i += s.length;
  }
  return out;
}

}  // namespace tarvik::config
