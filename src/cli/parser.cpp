#include "cli/parser.h"

#include <array>
#include <cerrno>
#include <limits>
#include <cstdlib>
#include <utility>
#include <vector>

#include <locale.h>

#include <fmt/format.h>

#include "cli/texts.h"
#include "cli/words.h"
#include "logging/logging.h"

namespace tarvik {

namespace {

CliError error(CliError::Kind kind, std::string_view text = {}) {
  return CliError{kind, std::string(text)};
}

// The command's own arguments, once the global options are out of the way.
class Arguments {
 public:
  explicit Arguments(std::span<const std::string_view> args) : args_(args) {}

  std::optional<std::string_view> next() {
    if (at_ >= args_.size()) return std::nullopt;
    return args_[at_++];
  }

  std::expected<std::string_view, CliError> value_of(std::string_view option) {
    if (auto value = next()) return *value;
    return std::unexpected(error(CliError::Kind::MissingValue, option));
  }

  std::expected<void, CliError> expect_end() {
    if (auto extra = next()) return std::unexpected(error(CliError::Kind::UnknownArgument, *extra));
    return {};
  }

 private:
  std::span<const std::string_view> args_;
  std::size_t at_ = 0;
};

using CommandResult = std::expected<Command, CliError>;

CommandResult parse_click(Arguments& args) {
  const auto word = args.value_of("button");
  if (!word) return std::unexpected(word.error());
  const auto button = from_word<PointerButton>(kButtonWords, *word);
  if (!button) return std::unexpected(error(CliError::Kind::InvalidValue, *word));
  if (auto end = args.expect_end(); !end) return std::unexpected(end.error());
  return command::Click{*button};
}

CommandResult parse_scroll(Arguments& args) {
  const auto word = args.value_of("direction");
  if (!word) return std::unexpected(word.error());
  const auto direction = from_word<ScrollDirection>(kDirectionWords, *word);
  if (!direction) return std::unexpected(error(CliError::Kind::InvalidValue, *word));
  command::Scroll scroll{*direction, std::nullopt};
  while (auto arg = args.next()) {
    if (*arg != "--step") return std::unexpected(error(CliError::Kind::UnknownArgument, *arg));
    const auto amount = args.value_of("--step");
    if (!amount) return std::unexpected(amount.error());
    const auto step = parse_step(*amount);
    if (!step) return std::unexpected(error(CliError::Kind::InvalidValue, *amount));
    scroll.step = *step;
  }
  return scroll;
}

CommandResult parse_daemon(Arguments& args) {
  DaemonOptions options;
  while (auto arg = args.next()) {
    std::optional<std::string>* field = nullptr;
    if (*arg == "--config") {
      field = &options.config;
    } else if (*arg == "--seat") {
      field = &options.seat;
    } else {
      return std::unexpected(error(CliError::Kind::UnknownArgument, *arg));
    }
    const auto value = args.value_of(*arg);
    if (!value) return std::unexpected(value.error());
    *field = std::string(*value);
  }
  return command::Daemon{std::move(options)};
}

CommandResult parse_grid(Arguments& args) {
  GridOptions options;
  while (auto arg = args.next()) {
    if (*arg == "--auto-descend") {
      options.auto_descend = true;
      continue;
    }
    if (*arg == "--no-auto-descend") {
      options.auto_descend = false;
      continue;
    }
    if (*arg != "--scope" && *arg != "--output" && *arg != "--action" && *arg != "--max-depth") {
      return std::unexpected(error(CliError::Kind::UnknownArgument, *arg));
    }
    const auto value = args.value_of(*arg);
    if (!value) return std::unexpected(value.error());
    if (*arg == "--scope") {
      const auto scope = from_word<OutputScope>(kScopeWords, *value);
      if (!scope) return std::unexpected(error(CliError::Kind::InvalidValue, *value));
      options.scope = *scope;
    } else if (*arg == "--output") {
      options.output = std::string(*value);
    } else if (*arg == "--action") {
      const auto action = from_word<GridAction>(kActionWords, *value);
      if (!action) return std::unexpected(error(CliError::Kind::InvalidValue, *value));
      options.action = *action;
    } else {
      const auto depth = parse_max_depth(*value);
      if (!depth) return std::unexpected(error(CliError::Kind::InvalidValue, "--max-depth"));
      options.max_depth = *depth;
    }
  }
  // Checked only now, so that a bad word anywhere on the line is reported first.
  if (options.scope && options.output) {
    return std::unexpected(
        error(CliError::Kind::InvalidValue, "--output and --scope are mutually exclusive"));
  }
  return command::Grid{std::move(options)};
}

CommandResult parse_command(std::span<const std::string_view> kept, std::string_view name) {
  if (kept.empty()) return std::unexpected(error(CliError::Kind::MissingCommand, name));
  const std::string_view word = kept.front();
  Arguments args(kept.subspan(1));
  if (word == "-h" || word == "--help") {
    return std::unexpected(error(CliError::Kind::Help, usage_text(name)));
  }
  if (word == "-V" || word == "--version") {
    return std::unexpected(error(CliError::Kind::Help, version_text(name)));
  }
  if (word == "daemon") return parse_daemon(args);
  if (word == "reload" || word == "cancel" || word == "mouse") {
    if (auto end = args.expect_end(); !end) return std::unexpected(end.error());
    if (word == "reload") return command::Reload{};
    if (word == "cancel") return command::Cancel{};
    return command::Mouse{};
  }
  if (word == "grid") return parse_grid(args);
  if (word == "click") return parse_click(args);
  if (word == "scroll") return parse_scroll(args);
  return std::unexpected(error(CliError::Kind::UnknownArgument, word));
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

bool equals_ignoring_case(std::string_view text, std::string_view lower) {
  if (text.size() != lower.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != lower[i]) return false;
  }
  return true;
}

// Decimal digits with an optional fraction and exponent; at least one digit in the mantissa.
bool is_decimal_number(std::string_view text) {
  std::size_t i = 0;
  std::size_t mantissa_digits = 0;
  while (i < text.size() && is_digit(text[i])) ++i, ++mantissa_digits;
  if (i < text.size() && text[i] == '.') {
    ++i;
    while (i < text.size() && is_digit(text[i])) ++i, ++mantissa_digits;
  }
  if (mantissa_digits == 0) return false;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    std::size_t exponent_digits = 0;
    while (i < text.size() && is_digit(text[i])) ++i, ++exponent_digits;
    if (exponent_digits == 0) return false;
  }
  return i == text.size();
}

// strtod reads the decimal point of the current locale; the grammar here is locale-free.
double strtod_c_locale(const std::string& text) {
  static const locale_t c_locale = newlocale(LC_ALL_MASK, "C", locale_t{});
  return strtod_l(text.c_str(), nullptr, c_locale);
}

}  // namespace

std::optional<LogLevel> parse_log_level(std::string_view word) { return from_word<LogLevel>(kLevelWords, word); }

std::optional<double> parse_step(std::string_view text) {
  bool negative = false;
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  double magnitude = 0;
  if (equals_ignoring_case(text, "inf") || equals_ignoring_case(text, "infinity")) {
    magnitude = std::numeric_limits<double>::infinity();
  } else if (equals_ignoring_case(text, "nan")) {
    magnitude = std::numeric_limits<double>::quiet_NaN();
  } else if (is_decimal_number(text)) {
    // Out-of-range texts round to infinity or zero, as a correctly rounded reader does.
    magnitude = strtod_c_locale(std::string(text));
  } else {
    return std::nullopt;
  }
  return negative ? -magnitude : magnitude;
}

std::optional<std::uint8_t> parse_max_depth(std::string_view text) {
  if (text.starts_with('+')) text.remove_prefix(1);
  if (text.empty()) return std::nullopt;
  unsigned value = 0;
  for (const char c : text) {
    if (!is_digit(c)) return std::nullopt;
    value = value * 10 + static_cast<unsigned>(c - '0');
    if (value > 255) return std::nullopt;
  }
  return static_cast<std::uint8_t>(value);
}

std::optional<std::string> help_request(std::span<const std::string> args,
                                        std::string_view display_name) {
  if (args.empty()) return std::nullopt;
  const std::string& first = args.front();
  if (first == "-h" || first == "--help") return usage_text(display_name);
  if (first == "-V" || first == "--version") return version_text(display_name);
  return std::nullopt;
}

std::expected<ParsedCommandLine, CliError> parse_command_line(std::span<const std::string> args,
                                                              std::string_view display_name) {
  // Global options may stand anywhere, even where another option expects its value, so they are
  // taken out in one pass over the whole line before the command is looked at.
  GlobalOptions globals;
  std::vector<std::string_view> kept;
  kept.reserve(args.size());
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string_view arg = args[i];
    if (!logging::is_valid_utf8(arg)) return std::unexpected(error(CliError::Kind::NonUtf8));
    if (arg == "--log-level" || arg == "--log-file") {
      if (i + 1 >= args.size()) return std::unexpected(error(CliError::Kind::MissingValue, arg));
      const std::string_view value = args[++i];
      if (!logging::is_valid_utf8(value)) return std::unexpected(error(CliError::Kind::NonUtf8));
      if (arg == "--log-level") {
        globals.log_level = std::string(value);
      } else {
        globals.log_file = std::string(value);
      }
    } else if (arg.starts_with("--log-level=")) {
      globals.log_level = std::string(arg.substr(std::string_view("--log-level=").size()));
    } else if (arg.starts_with("--log-file=")) {
      globals.log_file = std::string(arg.substr(std::string_view("--log-file=").size()));
    } else {
      kept.push_back(arg);
    }
  }

  auto command = parse_command(kept, display_name);
  if (!command) return std::unexpected(std::move(command.error()));

  if (!parse_log_level(globals.log_level)) {
    std::string text = "invalid log level ";
    logging::append_json_string(text, globals.log_level);
    text += "; expected error, warn, info, debug, or trace";
    return std::unexpected(error(CliError::Kind::InvalidValue, text));
  }
  return ParsedCommandLine{std::move(*command), std::move(globals)};
}

}  // namespace tarvik
