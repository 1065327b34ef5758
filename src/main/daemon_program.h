// Finding and starting the daemon program. `tarvik` itself carries only the command line, the
// logger and the request client, so that a client command loads few shared objects; the daemon
// command replaces the process with `tarvik-daemon`, which links everything the daemon needs.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace tarvik {

struct DaemonProgramError {
  enum class Kind {
    OwnPath,  // "cannot find the daemon program: /proc/self/exe: {os error}"
    Exec,     // "cannot run the daemon program {path}[ or {path}...]: {os error}"
  };
  Kind kind = Kind::Exec;
  // For Exec: the one program that failed, or every place looked at when none was there.
  std::vector<std::filesystem::path> paths;
  int os_error = 0;

  std::string message() const;
};

inline constexpr std::string_view kDaemonProgramName = "tarvik-daemon";

// Where the daemon program may lie, in the order tried: beside the executable (a build tree),
// then the installed layout, <bindir>/<relative libexec dir>/<display name>/tarvik-daemon, so
// that a tarvik-dev installation beside a regular one keeps its own daemon program, and for
// tarvik-dev last the regular installation's.
// `executable_dir` is the directory of the running executable with its links resolved.
std::vector<std::filesystem::path> daemon_program_candidates(
    const std::filesystem::path& executable_dir, std::string_view display_name);

// Replaces this process with the daemon program, keeping the argument vector (argument zero and
// so the display name included), the environment and the process id. Returns only on failure.
DaemonProgramError exec_daemon_program(char** argv, std::string_view display_name);

}  // namespace tarvik
