// The process entry: parse the command line, install the logger, then either send one request to
// the running daemon or become the daemon.
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "cli/parser.h"
#include "cli/texts.h"
#include "ipc/client.h"
#include "logging/log.h"
#include "logging/log_file.h"
#include "logging/logging.h"
#include "logging/system_error.h"
#include "sway/sway_error.h"
#include "wayland/run_daemon.h"

namespace {

// Status of a process that could not even print its help: neither success nor an ordinary error.
constexpr int kAbnormalExit = 101;

// Every error that ends the process is one line on standard error, written whole.
int report(std::string_view display_name, std::string_view text) {
  std::string line;
  line.reserve(display_name.size() + text.size() + 3);
  line.append(display_name).append(": ").append(text).append("\n");
  (void)tarvik::logging::write_all(STDERR_FILENO, line);
  return 1;
}

[[noreturn]] void print_help_and_exit(const std::string& text) {
  if (!tarvik::logging::write_all(STDOUT_FILENO, text + "\n")) {
    const int failure = errno;
    (void)tarvik::logging::write_all(
        STDERR_FILENO, "failed printing to stdout: " + tarvik::os_error_text(failure) + "\n");
    std::_Exit(kAbnormalExit);
  }
  std::exit(0);
}

int run_daemon_command(std::string_view display_name, const tarvik::DaemonOptions& options) {
  const char* sway_socket = std::getenv("SWAYSOCK");
  if (sway_socket == nullptr) {
    const tarvik::SwayError missing{tarvik::SwayError::Kind::MissingSocket, {}};
    return report(display_name, missing.message());
  }
  const std::string path(sway_socket);
  TARVIK_LOG(Debug, "tarvik::sway", "using Sway IPC socket path={}", path);
  if (auto result = tarvik::run_daemon(options, path); !result) {
    return report(display_name, result.error().message());
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  // A reader that went away must turn into a write error, here and on every socket, never into
  // a silent death by signal.
  std::signal(SIGPIPE, SIG_IGN);

  const std::string name = tarvik::display_name(
      argc > 0 && argv[0] != nullptr ? std::optional<std::string_view>(argv[0]) : std::nullopt);
  const std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);

  if (auto help = tarvik::help_request(args, name)) print_help_and_exit(*help);

  auto parsed = tarvik::parse_command_line(args, name);
  if (!parsed) return report(name, parsed.error().message());
  // The parser has already refused any other word.
  const tarvik::LogLevel level = *tarvik::parse_log_level(parsed->globals.log_level);

  std::optional<int> log_fd;
  if (parsed->globals.log_file) {
    auto opened = tarvik::open_log_file(*parsed->globals.log_file);
    if (!opened) return report(name, opened.error().message());
    log_fd = *opened;
  }
  if (auto installed = tarvik::init_logging(level, log_fd); !installed) {
    return report(name, installed.error().message());
  }
  TARVIK_LOG(Info, "tarvik", "starting {}", tarvik::version_text(name));

  if (const auto* daemon = std::get_if<tarvik::command::Daemon>(&parsed->command)) {
    return run_daemon_command(name, daemon->options);
  }
  if (auto sent = tarvik::send_request(parsed->command); !sent) {
    return report(name, sent.error().message());
  }
  return 0;
}
