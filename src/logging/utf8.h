// UTF-8 checks for text that arrives as raw bytes (arguments, environment, paths).
#pragma once

#include <string>
#include <string_view>

namespace tarvik::logging {

// Strict: no overlong forms, no surrogates, nothing above U+10FFFF.
bool is_valid_utf8(std::string_view bytes);

// The text with each malformed sequence (its longest valid-looking prefix, or a single stray
// byte) replaced by one U+FFFD; valid text comes back unchanged.
std::string lossy_utf8(std::string_view bytes);

}  // namespace tarvik::logging
