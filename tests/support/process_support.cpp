#include "support/process_support.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace tarvik::testing {

namespace {

// In the child: `fd` becomes a new file at `path`, or the child ends with `status`.
void redirect(int fd, const std::filesystem::path& path, int status) {
  const int opened = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (opened < 0 || ::dup2(opened, fd) < 0) ::_exit(status);
}

int wait_for(pid_t pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
  }
  return status;
}

std::vector<std::string> environment_with(
    const std::map<std::string, std::optional<std::string>>& changes) {
  std::map<std::string, std::string> env;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string_view text(*entry);
    const auto eq = text.find('=');
    if (eq != std::string_view::npos) env[std::string(text.substr(0, eq))] = text.substr(eq + 1);
  }
  for (const auto& [key, value] : changes) {
    if (value) {
      env[key] = *value;
    } else {
      env.erase(key);
    }
  }
  std::vector<std::string> strings;
  for (const auto& [key, value] : env) strings.push_back(key + "=" + value);
  return strings;
}

std::vector<char*> pointers(std::vector<std::string>& strings) {
  std::vector<char*> result;
  for (auto& s : strings) result.push_back(s.data());
  result.push_back(nullptr);
  return result;
}

}  // namespace

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "tarvik-test-XXXXXX").string();
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

std::string read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

RunResult run_program(const std::filesystem::path& program, const std::vector<std::string>& args,
                      const RunOptions& options) {
  TempDir dir;
  const auto out_path = dir.path() / "stdout";
  const auto err_path = dir.path() / "stderr";

  std::vector<std::string> env_strings = environment_with(options.env);
  std::vector<char*> envp = pointers(env_strings);
  std::vector<std::string> argv_strings{program.string()};
  argv_strings.insert(argv_strings.end(), args.begin(), args.end());
  std::vector<char*> argv = pointers(argv_strings);

  const pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    redirect(STDERR_FILENO, err_path, 90);
    switch (options.stdout_target) {
      case StdoutTarget::Capture: redirect(STDOUT_FILENO, out_path, 91); break;
      case StdoutTarget::DevFull: {
        const int out = ::open("/dev/full", O_WRONLY);
        if (out < 0 || ::dup2(out, STDOUT_FILENO) < 0) ::_exit(91);
        break;
      }
      case StdoutTarget::Closed: ::close(STDOUT_FILENO); break;
    }
    ::execve(argv[0], argv.data(), envp.data());
    ::_exit(92);
  }
  const int status = wait_for(pid);
  RunResult result;
  result.pid = pid;
  result.out = read_file(out_path);
  result.err = read_file(err_path);
  if (WIFEXITED(status)) result.exit_status = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
  return result;
}

ChildResult run_in_child(const std::function<void()>& body) {
  TempDir dir;
  const auto err_path = dir.path() / "stderr";
  const pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    // Crashing children are expected here; their core files are not.
    const rlimit no_core{0, 0};
    ::setrlimit(RLIMIT_CORE, &no_core);
    redirect(STDERR_FILENO, err_path, 90);
    body();
    ::_exit(0);
  }
  ChildResult result;
  result.wait_status = wait_for(pid);
  result.stderr_text = read_file(err_path);
  return result;
}

RunOptions hermetic(std::map<std::string, std::optional<std::string>> extra) {
  RunOptions options;
  options.env = {{"SWAYSOCK", std::nullopt},        {"XDG_RUNTIME_DIR", std::nullopt},
                 {"WAYLAND_DISPLAY", std::nullopt}, {"WAYLAND_SOCKET", std::nullopt},
                 {"XDG_CONFIG_HOME", std::nullopt}};
  for (auto& [key, value] : extra) options.env[key] = std::move(value);
  return options;
}

}  // namespace tarvik::testing
