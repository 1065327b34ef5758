// Child processes for tests: the built program run as users run it, or a piece of test code run
// in a forked child, each with what it wrote collected and how it ended.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace tarvik::testing {

enum class StdoutTarget { Capture, DevFull, Closed };

struct RunOptions {
  // Variables to set (a value) or remove (nullopt); the rest of the environment is inherited.
  std::map<std::string, std::optional<std::string>> env;
  StdoutTarget stdout_target = StdoutTarget::Capture;
};

// Options that keep the developer's session out of a run: no Sway, Wayland or runtime directory
// and no configuration home, unless `extra` sets them.
RunOptions hermetic(std::map<std::string, std::optional<std::string>> extra = {});

struct RunResult {
  std::string out;
  std::string err;
  int exit_status = -1;  // -1 when the process was killed by a signal
  int signal = 0;
  pid_t pid = -1;  // of the child started, whatever it went on to exec
};

// Runs `program` with `args` after argument zero, which is `program` as given.
RunResult run_program(const std::filesystem::path& program, const std::vector<std::string>& args,
                      const RunOptions& options = {});

struct ChildResult {
  int wait_status = 0;  // as from waitpid
  std::string stderr_text;
};

// Runs `body` in a forked child with standard error going to a file and no core dumps, so that
// tests can watch what a process does when it crashes or installs the process-wide logger.
ChildResult run_in_child(const std::function<void()>& body);

std::string read_file(const std::filesystem::path& path);

// A fresh directory under the system's temporary directory, removed with the object.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

}  // namespace tarvik::testing
