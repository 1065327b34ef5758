// The command-line parse error; message() is the text shown after the display name.
#pragma once

#include <string>

namespace tarvik {

struct CliError {
  enum class Kind {
    MissingCommand,   // "missing command; try `{text} --help`" (text: the display name)
    MissingValue,     // "missing value for {text}" (an option, or "button" / "direction")
    UnknownArgument,  // "unknown argument: {text}"
    InvalidValue,     // "invalid value: {text}"
    NonUtf8,          // "argument is not valid UTF-8"
    Help,             // the usage or version text itself
  };
  Kind kind = Kind::NonUtf8;
  std::string text;

  std::string message() const;
  bool operator==(const CliError&) const = default;
};

}  // namespace tarvik
