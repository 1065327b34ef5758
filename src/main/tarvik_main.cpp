// The program users run, `tarvik`: parse the command line, then either send one request to the
// running daemon or become the daemon program. It links no display, drawing or configuration
// library, so that a client command starts about as fast as a bare process.
#include <csignal>
#include <variant>

#include "main/daemon_program.h"
#include "main/entry.h"

int main(int argc, char** argv) {
  // A reader that went away must turn into a write error, never into a silent death by signal.
  // The daemon program inherits the setting and makes it again.
  std::signal(SIGPIPE, SIG_IGN);

  auto invocation = tarvik::parse_invocation(argc, argv);
  if (!invocation) return invocation.error();

  if (std::holds_alternative<tarvik::command::Daemon>(invocation->parsed.command)) {
    // The daemon program parses the same arguments again and sets up its own logger; opening the
    // log file or logging the start here as well would write the start record twice.
    const tarvik::DaemonProgramError failed =
        tarvik::exec_daemon_program(argv, invocation->display_name);
    return tarvik::report(invocation->display_name, failed.message());
  }

  if (auto started = tarvik::start_logging(*invocation); !started) return started.error();
  return tarvik::run_client_command(*invocation);
}
