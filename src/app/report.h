// Failures after a request was answered (effects, redraws from events, timers, releasing
// buttons, parking overlays) go straight to standard error as "tarvik: " + text, not through
// the logger: they must reach the user whatever the log level.
#pragma once

#include <string>
#include <string_view>

namespace tarvik {

void report_failure(std::string_view text);

// A name in double quotes with backslash escapes, as the "is not active" errors show it.
std::string quoted_name(std::string_view name);

}  // namespace tarvik
