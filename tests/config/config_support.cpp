#include "config_support.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "logging/logging.h"

namespace tarvik {

void PrintTo(const ConfigError& error, std::ostream* os) { *os << "ConfigError(" << error.message() << ")"; }

namespace config_testing {

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "tarvik-config-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  // A test may have taken permissions away; give them back so removal works.
  std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::add, ignored);
  std::filesystem::remove_all(path_, ignored);
}

std::string TempDir::write(const std::string& name, std::string_view bytes) const {
  const auto file = path_ / name;
  std::filesystem::create_directories(file.parent_path());
  std::ofstream out(file, std::ios::binary);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + file.string());
  return file.string();
}

ScopedEnv::ScopedEnv(std::string name, const std::optional<std::string>& value)
    : name_(std::move(name)) {
  if (const char* old = std::getenv(name_.c_str())) saved_ = old;
  if (value) {
    ::setenv(name_.c_str(), value->c_str(), 1);
  } else {
    ::unsetenv(name_.c_str());
  }
}

ScopedEnv::~ScopedEnv() {
  if (saved_) {
    ::setenv(name_.c_str(), saved_->c_str(), 1);
  } else {
    ::unsetenv(name_.c_str());
  }
}

std::expected<Config, ConfigError> load_text(std::string_view text) {
  const TempDir dir;
  return load_config(dir.write("config.toml", text));
}

std::string validation_message(std::string_view text) {
  const auto loaded = load_text(text);
  if (loaded) return "";
  if (loaded.error().kind == ConfigError::Kind::Validation) return loaded.error().source;
  return "not a validation error: " + loaded.error().message();
}

std::string parse_report(std::string_view text) {
  const auto loaded = load_text(text);
  if (loaded) return "";
  EXPECT_EQ(loaded.error().kind, ConfigError::Kind::Parse) << loaded.error().message();
  return loaded.error().source;
}

namespace {

const std::string& log_path() {
  static const std::string path = [] {
    std::string pattern = (std::filesystem::temp_directory_path() / "tarvik-config-log-XXXXXX").string();
    const int fd = ::mkstemp(pattern.data());
    if (fd < 0) throw std::runtime_error("mkstemp failed");
    ::fcntl(fd, F_SETFL, O_APPEND);
    if (!init_logging(LogLevel::Warn, fd)) throw std::runtime_error("logger already installed");
    return pattern;
  }();
  return path;
}

std::string read_all(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Reads one string value of the flat JSON objects the logger writes.
std::string json_field(const std::string& line, const std::string& key) {
  const std::string open = "\"" + key + "\":\"";
  auto at = line.find(open);
  if (at == std::string::npos) return "";
  std::string value;
  for (at += open.size(); at < line.size() && line[at] != '"'; ++at) {
    if (line[at] == '\\' && at + 1 < line.size()) ++at;  // the texts here escape only \" and \\.
    value += line[at];
  }
  return value;
}

}  // namespace

std::size_t log_mark() { return read_all(log_path()).size(); }

std::vector<LogRecord> records_since(std::size_t mark) {
  std::vector<LogRecord> records;
  std::istringstream lines(read_all(log_path()).substr(mark));
  for (std::string line; std::getline(lines, line);) {
    records.push_back({json_field(line, "level"), json_field(line, "target"), json_field(line, "message")});
  }
  return records;
}

}  // namespace config_testing
}  // namespace tarvik
