#include "process_support.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace tarvik::testing {

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "tarvik-cli-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
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

  std::map<std::string, std::string> env;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string_view text(*entry);
    const auto eq = text.find('=');
    if (eq != std::string_view::npos) env[std::string(text.substr(0, eq))] = text.substr(eq + 1);
  }
  for (const auto& [key, value] : options.env) {
    if (value) {
      env[key] = *value;
    } else {
      env.erase(key);
    }
  }
  std::vector<std::string> env_strings;
  for (const auto& [key, value] : env) env_strings.push_back(key + "=" + value);
  std::vector<char*> envp;
  for (auto& s : env_strings) envp.push_back(s.data());
  envp.push_back(nullptr);

  std::vector<std::string> argv_strings{program.string()};
  argv_strings.insert(argv_strings.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& s : argv_strings) argv.push_back(s.data());
  argv.push_back(nullptr);

  const pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    const int err = ::open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (err < 0 || ::dup2(err, STDERR_FILENO) < 0) ::_exit(90);
    switch (options.stdout_target) {
      case StdoutTarget::Capture: {
        const int out = ::open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (out < 0 || ::dup2(out, STDOUT_FILENO) < 0) ::_exit(91);
        break;
      }
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
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
  }
  RunResult result;
  result.out = read_file(out_path);
  result.err = read_file(err_path);
  if (WIFEXITED(status)) result.exit_status = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
  return result;
}

ScriptedDaemon::ScriptedDaemon(std::filesystem::path socket_path, std::string answer,
                               int connections) {
  listener_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string path = socket_path.string();
  if (listener_ < 0 || path.size() >= sizeof address.sun_path) {
    throw std::runtime_error("cannot create the scripted daemon's socket");
  }
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listener_, 16) != 0) {
    throw std::runtime_error("cannot bind the scripted daemon's socket");
  }
  thread_ = std::jthread([this, answer = std::move(answer), connections] {
    for (int i = 0; i < connections; ++i) {
      // Give up after a while so that a client that never comes cannot hang the test.
      pollfd ready{listener_, POLLIN, 0};
      if (::poll(&ready, 1, 10'000) != 1) return;
      const int connection = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
      if (connection < 0) return;
      std::string line;
      char c = 0;
      while (::read(connection, &c, 1) == 1) {
        line.push_back(c);
        if (c == '\n') break;
      }
      requests_.push_back(line);
      (void)::send(connection, answer.data(), answer.size(), MSG_NOSIGNAL);
      ::close(connection);
    }
  });
}

ScriptedDaemon::~ScriptedDaemon() {
  if (thread_.joinable()) thread_.join();
  if (listener_ >= 0) ::close(listener_);
}

std::vector<std::string> ScriptedDaemon::requests() {
  if (thread_.joinable()) thread_.join();
  return requests_;
}

}  // namespace tarvik::testing
