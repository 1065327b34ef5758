// Strict UTF-8 checks for the file's text, and the lossy rendering used to show paths.
#pragma once

#include <string>
#include <string_view>

namespace tarvik::config {

// Rejects overlong forms, surrogates and code points above U+10FFFF.
bool is_utf8(std::string_view bytes);

// Each maximal ill-formed subsequence becomes U+FFFD.
std::string lossy_utf8(std::string_view bytes);

}  // namespace tarvik::config
