// The program's name and its usage and version texts.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tarvik {

// "tarvik-dev" when the last path component of argument zero is exactly that, else "tarvik".
std::string display_name(std::optional<std::string_view> argument_zero);

// The display name of the running process, from its own argument zero.
std::string process_display_name();

// Neither text ends in a line break; whoever prints it adds one.
std::string usage_text(std::string_view display_name);
std::string version_text(std::string_view display_name);

// The build identifier shown in the version text (a short source revision, or "unknown").
std::string_view build_id();

}  // namespace tarvik
