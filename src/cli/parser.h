// The command grammar: from the raw arguments after argument zero to a Command and the global
// options, as a pure function. Arguments are raw bytes; any that are not UTF-8 are refused.
#pragma once

#include <expected>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "cli/cli_error.h"
#include "cli/command.h"
#include "logging/utf8.h"

namespace tarvik {

// Held only by the entry: the level stays text until the command itself has parsed, so that a bad
// command word is reported before a bad level.
struct GlobalOptions {
  std::string log_level = "info";
  std::optional<std::string> log_file;
  bool operator==(const GlobalOptions&) const = default;
};

struct ParsedCommandLine {
  Command command;
  GlobalOptions globals;
  bool operator==(const ParsedCommandLine&) const = default;
};

// `display_name` goes into the MissingCommand error and the usage and version texts.
std::expected<ParsedCommandLine, CliError> parse_command_line(std::span<const std::string> args,
                                                              std::string_view display_name);

// The help pre-check: the usage or version text when the first argument asks for it exactly.
std::optional<std::string> help_request(std::span<const std::string> args,
                                        std::string_view display_name);

// "error" ... "trace", matched exactly.
std::optional<LogLevel> parse_log_level(std::string_view word);

// The step of `scroll --step`: a decimal number with optional sign, fraction and exponent, or
// inf / infinity / nan in any letter case; no hexadecimal, no surrounding white space.
std::optional<double> parse_step(std::string_view text);

// `--max-depth`: decimal 0..255 with an optional leading "+".
std::optional<std::uint8_t> parse_max_depth(std::string_view text);

}  // namespace tarvik
