// TOML text to Config: the schema of every table, value types and ranges, enumeration words,
// colours and the one forbidden key combination. Checks across values are validate's job.
#pragma once

#include <expected>
#include <string>
#include <string_view>

#include "config/config.h"

namespace tarvik::config {

// On failure, the reader's report: "TOML parse error at line L, column C", the offending line with
// a caret under the problem, and the problem (several lines, no trailing line break).
std::expected<Config, std::string> decode_config(std::string_view text);

}  // namespace tarvik::config
