// Helpers for the tests of the user-facing files: reading them, running a shell or cmake on them
// with a time limit, and a scratch directory.
#pragma once

#include <chrono>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace tarvik::docs {

std::filesystem::path source_dir();
std::filesystem::path binary_dir();

// The whole file; fails the calling test (and returns "") when it cannot be read.
std::string read_text(const std::filesystem::path& path);

// The non-empty pieces of `text` between any of the `separators`.
std::vector<std::string> pieces(std::string_view text, std::string_view separators);

// Non-empty and made only of lower-case ASCII letters, digits and the characters in `extra`.
bool plain_word(std::string_view text, std::string_view extra = "");

struct Finished {
  int exit_status = -1;  // -1 when killed by a signal
  bool timed_out = false;
  std::string out;
  std::string err;
};

// Runs argv[0] (looked up in PATH) with standard input closed; kills it after `limit`.
Finished run(const std::vector<std::string>& argv,
             std::chrono::milliseconds limit = std::chrono::seconds(60));

// Whether `program` is found in PATH.
bool have_program(const std::string& program);

class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

}  // namespace tarvik::docs
