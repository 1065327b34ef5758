#include "config_support.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include <chrono>
#include <map>
#include <thread>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "logging/logging.h"

namespace tarvik {

void PrintTo(const ConfigError& error, std::ostream* os) { *os << "ConfigError(" << error.message() << ")"; }

namespace config_testing {

std::string TempDir::write(const std::string& name, std::string_view bytes) const {
  const auto file = path() / name;
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

namespace {

std::string read_all(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace

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

RunResult run_tarvik(const std::vector<std::string>& args,
                     const std::vector<std::pair<std::string, std::optional<std::string>>>& env,
                     const std::filesystem::path& directory) {
  std::map<std::string, std::string> variables;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string_view text(*entry);
    const auto eq = text.find('=');
    if (eq != std::string_view::npos) variables[std::string(text.substr(0, eq))] = text.substr(eq + 1);
  }
  for (const auto& [name, value] : env) {
    if (value) {
      variables[name] = *value;
    } else {
      variables.erase(name);
    }
  }
  std::vector<std::string> env_strings;
  for (const auto& [name, value] : variables) env_strings.push_back(name + "=" + value);
  std::vector<std::string> argv_strings{TARVIK_EXECUTABLE};
  argv_strings.insert(argv_strings.end(), args.begin(), args.end());
  // Built before forking: the child only calls async-signal-safe functions.
  std::vector<char*> argv;
  for (auto& a : argv_strings) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<char*> envp;
  for (auto& e : env_strings) envp.push_back(e.data());
  envp.push_back(nullptr);

  const std::string stderr_path = (directory / ".tarvik-stderr").string();
  const int err = ::open(stderr_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  const int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
  if (err < 0 || null < 0) throw std::runtime_error("cannot open the child's files");
  const std::string dir = directory.string();

  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(null, STDIN_FILENO);
    ::dup2(null, STDOUT_FILENO);
    ::dup2(err, STDERR_FILENO);
    if (::chdir(dir.c_str()) != 0) ::_exit(126);
    ::execve(argv[0], argv.data(), envp.data());
    ::_exit(127);
  }
  ::close(err);
  ::close(null);
  if (pid < 0) throw std::runtime_error("fork failed");

  RunResult result;
  int status = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  for (;;) {
    const pid_t done = ::waitpid(pid, &status, WNOHANG);
    if (done == pid) break;
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  if (WIFEXITED(status)) result.exit_code = WEXITSTATUS(status);
  result.stderr_text = read_all(stderr_path);
  return result;
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
