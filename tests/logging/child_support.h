// Runs a piece of code in a forked child whose standard error goes to a file, so that tests can
// watch what a process does when it crashes or installs the process-wide logger.
#pragma once

#include <filesystem>
#include <functional>
#include <string>

namespace tarvik::testing {

struct ChildResult {
  int wait_status = 0;  // as from waitpid
  std::string stderr_text;
};

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
