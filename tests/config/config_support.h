// Files, environment and captured warnings for the configuration tests.
#pragma once

#include <expected>
#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "config/config.h"
#include "support/process_support.h"

namespace tarvik {

void PrintTo(const ConfigError& error, std::ostream* os);

namespace config_testing {

// The shared temporary directory, with a way to put configuration files into it.
class TempDir : public testing::TempDir {
 public:
  // Writes `bytes` to `name` inside the directory (parents created) and returns its path.
  std::string write(const std::string& name, std::string_view bytes) const;
};

// Sets (or, with nullopt, unsets) one environment variable, restoring it afterwards.
class ScopedEnv {
 public:
  ScopedEnv(std::string name, const std::optional<std::string>& value);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  std::optional<std::string> saved_;
};

// Loads `text` as a configuration file, through the real loader.
std::expected<Config, ConfigError> load_text(std::string_view text);

// The first broken rule's message for `text`, "" when it loads, or the whole error text of any
// other failure (so that a decoding failure shows up as a mismatch, not as a pass).
std::string validation_message(std::string_view text);

// The reader's report inside a Parse error for `text`; "" when it loads.
std::string parse_report(std::string_view text);

struct LogRecord {
  std::string level;  // "WRN", ...
  std::string target;
  std::string message;
};

// One run of the built program.
struct RunResult {
  int exit_code = -1;  // -1 when it did not exit normally (killed after the time limit)
  std::string stderr_text;
};

// Runs the tarvik executable with `args` in `directory`, the environment changed by `env` (a
// nullopt value removes the variable). Killed after ten seconds.
RunResult run_tarvik(const std::vector<std::string>& args,
                     const std::vector<std::pair<std::string, std::optional<std::string>>>& env,
                     const std::filesystem::path& directory);

// The process-wide logger is installed at warn level on first use, writing JSON lines to a private
// file; a mark is a position in that file.
std::size_t log_mark();
std::vector<LogRecord> records_since(std::size_t mark);

// The records logged while `body` ran.
template <class Body>
std::vector<LogRecord> records_during(Body&& body) {
  const std::size_t mark = log_mark();
  body();
  return records_since(mark);
}

}  // namespace config_testing
}  // namespace tarvik
