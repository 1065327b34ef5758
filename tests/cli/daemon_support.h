// A stand-in for the daemon's socket, for client commands run as processes.
#pragma once

#include <filesystem>
#include <string>
#include <thread>
#include <vector>

namespace tarvik::testing {

// Listens at `socket_path`, and for each of `connections` clients reads one line, records it and
// answers with `answer` verbatim before closing.
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
