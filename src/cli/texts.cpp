#include "cli/texts.h"

#include <fstream>
#include <iterator>

#include <fmt/format.h>

#include "cli/parser.h"

#ifndef TARVIK_BUILD_ID
#define TARVIK_BUILD_ID "unknown"
#endif

namespace tarvik {

namespace {

// The last path component, ignoring trailing separators and "." components, as a path library
// would name the file: "bin/tarvik-dev/" and "./tarvik-dev" both end in tarvik-dev.
std::string_view last_component(std::string_view path) {
  for (;;) {
    if (path.ends_with('/')) {
      path.remove_suffix(1);
    } else if (path == "." || path.ends_with("/.")) {
      path.remove_suffix(1);
    } else {
      break;
    }
  }
  const auto slash = path.rfind('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

}  // namespace

std::string display_name(std::optional<std::string_view> argument_zero) {
  if (argument_zero && logging::is_valid_utf8(*argument_zero) &&
      last_component(*argument_zero) == "tarvik-dev") {
    return "tarvik-dev";
  }
  return "tarvik";
}

std::string process_display_name() {
  // The kernel keeps argument zero as the first NUL-terminated entry of the command line.
  std::ifstream in("/proc/self/cmdline", std::ios::binary);
  if (!in) return display_name(std::nullopt);
  std::string arg0;
  if (!std::getline(in, arg0, '\0')) return display_name(std::nullopt);
  return display_name(arg0);
}

std::string_view build_id() { return TARVIK_BUILD_ID; }

std::string usage_text(std::string_view name) {
  return fmt::format(
      "{0} [GLOBAL OPTIONS] daemon [--config PATH] [--seat NAME]\n"
      "{0} [GLOBAL OPTIONS] reload | cancel\n"
      "{0} [GLOBAL OPTIONS] grid [GRID OPTIONS]\n"
      "{0} [GLOBAL OPTIONS] mouse\n"
      "{0} [GLOBAL OPTIONS] click left|middle|right\n"
      "{0} [GLOBAL OPTIONS] scroll up|down|left|right [--step AMOUNT]\n"
      "{0} --help | -h\n"
      "{0} --version | -V\n"
      "\n"
      "GLOBAL OPTIONS (before or after the command):\n"
      "  --log-level LEVEL    error|warn|info|debug|trace (default: info)\n"
      "  --log-file PATH      Also append JSON-lines logs to PATH\n"
      "\n"
      "GRID OPTIONS:\n"
      "  --scope focused|all  Output scope; mutually exclusive with --output\n"
      "  --output NAME        Target one active output\n"
      "  --action ACTION      Action after selection (default: choose)\n"
      "  --auto-descend       Descend automatically when possible\n"
      "  --no-auto-descend    Disable automatic descent\n"
      "  --max-depth DEPTH    Recursion limit (u8 integer)\n"
      "\n"
      "ACTIONS:\n"
      "  choose, move, mouse, left, middle, right, double-click, scroll,\n"
      "  scroll-up, scroll-down, scroll-left, scroll-right",
      name);
}

std::string version_text(std::string_view name) {
  return fmt::format("{} v0.2.0({})", name, build_id());
}

}  // namespace tarvik
