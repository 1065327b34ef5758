#include "main/daemon_program.h"

#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "logging/system_error.h"

// Set by the build: the libexec directory as seen from the bin directory, e.g. "../libexec".
#ifndef TARVIK_LIBEXEC_FROM_BIN
#define TARVIK_LIBEXEC_FROM_BIN "../libexec"
#endif

namespace tarvik {

namespace {

// Either way the program is not there, so the next place is worth trying.
bool is_missing(int os_error) { return os_error == ENOENT || os_error == ENOTDIR; }

}  // namespace

std::string DaemonProgramError::message() const {
  if (kind == Kind::OwnPath) {
    return "cannot find the daemon program: /proc/self/exe: " + os_error_text(os_error);
  }
  std::string text = "cannot run the daemon program ";
  for (std::size_t i = 0; i < paths.size(); ++i) {
    if (i > 0) text += " or ";
    text += paths[i].string();
  }
  return text + ": " + os_error_text(os_error);
}

std::vector<std::filesystem::path> daemon_program_candidates(
    const std::filesystem::path& executable_dir, std::string_view display_name) {
  // The directory has its links resolved already, so ".." can be folded away lexically.
  const auto installed = [&](std::string_view name) {
    const auto path = executable_dir / TARVIK_LIBEXEC_FROM_BIN / name / kDaemonProgramName;
    return path.lexically_normal();
  };
  std::vector<std::filesystem::path> candidates{executable_dir / kDaemonProgramName,
                                                installed(display_name)};
  // A tarvik-dev that is only a link to a regular installation still starts a daemon under its
  // own name, from the regular daemon program.
  if (display_name != "tarvik") candidates.push_back(installed("tarvik"));
  return candidates;
}

DaemonProgramError exec_daemon_program(char** argv, std::string_view display_name) {
  std::error_code failure;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", failure);
  if (failure) return {DaemonProgramError::Kind::OwnPath, {}, failure.value()};

  const auto candidates = daemon_program_candidates(self.parent_path(), display_name);
  for (const auto& candidate : candidates) {
    ::execv(candidate.c_str(), argv);
    const int os_error = errno;
    // A program that is there but cannot run is the one to name; looking further would only
    // hide it behind "not found".
    if (!is_missing(os_error)) return {DaemonProgramError::Kind::Exec, {candidate}, os_error};
  }
  return {DaemonProgramError::Kind::Exec, candidates, ENOENT};
}

}  // namespace tarvik
