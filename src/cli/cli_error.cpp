#include "cli/cli_error.h"

#include <fmt/format.h>

namespace tarvik {

std::string CliError::message() const {
  switch (kind) {
    case Kind::MissingCommand: return fmt::format("missing command; try `{} --help`", text);
    case Kind::MissingValue: return fmt::format("missing value for {}", text);
    case Kind::UnknownArgument: return fmt::format("unknown argument: {}", text);
    case Kind::InvalidValue: return fmt::format("invalid value: {}", text);
    case Kind::NonUtf8: return "argument is not valid UTF-8";
    case Kind::Help: return text;
  }
  return text;
}

}  // namespace tarvik
