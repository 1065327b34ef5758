// Runs the built program as a child process and collects what it wrote and how it ended.
#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace tarvik::testing {

enum class StdoutTarget { Capture, DevFull, Closed };

struct RunOptions {
  // Variables to set (a value) or remove (nullopt); the rest of the environment is inherited.
  std::map<std::string, std::optional<std::string>> env;
  StdoutTarget stdout_target = StdoutTarget::Capture;
};

struct RunResult {
  std::string out;
  std::string err;
  int exit_status = -1;  // -1 when the process was killed by a signal
  int signal = 0;
};

RunResult run_program(const std::filesystem::path& program, const std::vector<std::string>& args,
                      const RunOptions& options = {});

std::string read_file(const std::filesystem::path& path);

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

// A stand-in daemon: listens at `socket_path`, and for each of `connections` clients reads one
// line, records it and answers with `answer` verbatim before closing.
class ScriptedDaemon {
 public:
  ScriptedDaemon(std::filesystem::path socket_path, std::string answer, int connections = 1);
  ~ScriptedDaemon();
  ScriptedDaemon(const ScriptedDaemon&) = delete;
  ScriptedDaemon& operator=(const ScriptedDaemon&) = delete;

  // The request lines received so far; waits for the serving thread to finish first.
  std::vector<std::string> requests();

 private:
  int listener_ = -1;
  std::vector<std::string> requests_;
  std::jthread thread_;
};

}  // namespace tarvik::testing
