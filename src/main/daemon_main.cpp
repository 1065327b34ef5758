// The daemon program, `tarvik-daemon`: the whole of `tarvik` with the daemon linked in. `tarvik
// daemon` replaces itself with this program under the same arguments; run directly, it answers
// every command as `tarvik` does.
#include <sys/prctl.h>

#include <csignal>
#include <cstdlib>
#include <string>
#include <string_view>
#include <variant>

#include "logging/log.h"
#include "main/entry.h"
#include "sway/sway_error.h"
#include "wayland/run_daemon.h"

namespace {

int run_daemon_command(std::string_view display_name, const tarvik::DaemonOptions& options) {
  const char* sway_socket = std::getenv("SWAYSOCK");
  if (sway_socket == nullptr) {
    const tarvik::SwayError missing{tarvik::SwayError::Kind::MissingSocket, {}};
    return tarvik::report(display_name, missing.message());
  }
  const std::string path(sway_socket);
  TARVIK_LOG(Debug, "tarvik::sway", "using Sway IPC socket path={}", path);
  if (auto result = tarvik::run_daemon(options, path); !result) {
    return tarvik::report(display_name, result.error().message());
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  // A reader that went away must turn into a write error, here and on every socket, never into
  // a silent death by signal.
  std::signal(SIGPIPE, SIG_IGN);

  auto invocation = tarvik::parse_invocation(argc, argv);
  if (!invocation) return invocation.error();
  if (auto started = tarvik::start_logging(*invocation); !started) return started.error();

  if (const auto* daemon = std::get_if<tarvik::command::Daemon>(&invocation->parsed.command)) {
    // The kernel named the process after this file; process lists and `pkill -x` keep seeing
    // the name users start it by.
    (void)::prctl(PR_SET_NAME, invocation->display_name.c_str());
    return run_daemon_command(invocation->display_name, daemon->options);
  }
  return tarvik::run_client_command(*invocation);
}
