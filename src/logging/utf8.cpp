#include "logging/utf8.h"

namespace tarvik::logging {

namespace {

// Length of the well-formed sequence at the start of `bytes`, or, when it is malformed, the
// negated number of bytes that make up its malformed prefix (at least one).
int sequence_length(std::string_view bytes) {
  const auto lead = static_cast<unsigned char>(bytes[0]);
  if (lead < 0x80) return 1;
  int length = 0;
  // The allowed range of the second byte rules out overlong forms, surrogates and values above
  // U+10FFFF in one place.
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return -1;
  }
  for (int k = 1; k < length; ++k) {
    if (static_cast<std::size_t>(k) >= bytes.size()) return -k;
    const auto next = static_cast<unsigned char>(bytes[static_cast<std::size_t>(k)]);
    if (next < low || next > high) return -k;
    low = 0x80;
    high = 0xBF;
  }
  return length;
}

}  // namespace

bool is_valid_utf8(std::string_view bytes) {
  while (!bytes.empty()) {
    const int length = sequence_length(bytes);
    if (length < 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(length));
  }
  return true;
}

std::string lossy_utf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  while (!bytes.empty()) {
    const int length = sequence_length(bytes);
    if (length > 0) {
      out.append(bytes.substr(0, static_cast<std::size_t>(length)));
      bytes.remove_prefix(static_cast<std::size_t>(length));
    } else {
      out += "\xEF\xBF\xBD";
      bytes.remove_prefix(static_cast<std::size_t>(-length));
    }
  }
  return out;
}

}  // namespace tarvik::logging
