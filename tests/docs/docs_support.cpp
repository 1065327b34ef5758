#include "docs/docs_support.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include <gtest/gtest.h>

namespace tarvik::docs {

std::filesystem::path source_dir() { return TARVIK_SOURCE_DIR; }
std::filesystem::path binary_dir() { return TARVIK_BINARY_DIR; }

std::string read_text(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    ADD_FAILURE() << "cannot read " << path;
    return {};
  }
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::vector<std::string> pieces(std::string_view text, std::string_view separators) {
  std::vector<std::string> found;
  std::size_t start = 0;
  while (start <= text.size()) {
    const auto end = std::min(text.find_first_of(separators, start), text.size());
    if (end > start) found.emplace_back(text.substr(start, end - start));
    start = end + 1;
  }
  return found;
}

bool plain_word(std::string_view text, std::string_view extra) {
  if (text.empty()) return false;
  for (char c : text) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
    if (!plain && extra.find(c) == std::string_view::npos) return false;
  }
  return true;
}

ScratchDir::ScratchDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "tarvik-docs-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

ScratchDir::~ScratchDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

bool have_program(const std::string& program) {
  const char* path = std::getenv("PATH");
  if (path == nullptr) return false;
  std::istringstream dirs(path);
  for (std::string dir; std::getline(dirs, dir, ':');) {
    if (!dir.empty() && ::access((std::filesystem::path(dir) / program).c_str(), X_OK) == 0) {
      return true;
    }
  }
  return false;
}

Finished run(const std::vector<std::string>& argv, std::chrono::milliseconds limit) {
  ScratchDir dir;
  const auto out_path = dir.path() / "out";
  const auto err_path = dir.path() / "err";
  std::vector<std::string> strings = argv;
  std::vector<char*> args;
  for (auto& s : strings) args.push_back(s.data());
  args.push_back(nullptr);

  const pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid > 0) ::setpgid(pid, pid);  // both sides, so neither order of the two calls matters
  if (pid == 0) {
    // Its own process group, so a timeout also ends whatever the shell started.
    ::setpgid(0, 0);
    const int in = ::open("/dev/null", O_RDONLY);
    const int out = ::open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = ::open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (in < 0 || out < 0 || err < 0) ::_exit(126);
    ::dup2(in, STDIN_FILENO);
    ::dup2(out, STDOUT_FILENO);
    ::dup2(err, STDERR_FILENO);
    ::execvp(args[0], args.data());
    ::_exit(127);
  }

  Finished finished;
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    // Wait without reaping: while the child is a zombie its id cannot be reused, so the kill of
    // its process group below cannot reach anybody else.
    siginfo_t info{};
    const int waited = ::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT);
    if (waited < 0 && errno != EINTR) throw std::runtime_error("waitid failed");
    if (waited == 0 && info.si_pid == pid) break;
    if (std::chrono::steady_clock::now() >= deadline) {
      finished.timed_out = true;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  // Whatever the child left running in its group (or the child itself, on a timeout) ends here.
  ::kill(-pid, SIGKILL);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status)) finished.exit_status = WEXITSTATUS(status);
  finished.out = read_text(out_path);
  finished.err = read_text(err_path);
  return finished;
}

}  // namespace tarvik::docs
