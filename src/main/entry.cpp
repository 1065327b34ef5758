#include "main/entry.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <optional>
#include <vector>

#include "cli/texts.h"
#include "ipc/client.h"
#include "logging/log.h"
#include "logging/log_file.h"
#include "logging/logging.h"
#include "logging/system_error.h"

namespace tarvik {

namespace {

// Status of a process that could not even print its help: neither success nor an ordinary error.
constexpr int kAbnormalExit = 101;

[[noreturn]] void print_help_and_exit(const std::string& text) {
  if (!logging::write_all(STDOUT_FILENO, text + "\n")) {
    const int failure = errno;
    (void)logging::write_all(STDERR_FILENO,
                             "failed printing to stdout: " + os_error_text(failure) + "\n");
    std::_Exit(kAbnormalExit);
  }
  std::exit(0);
}

}  // namespace

int report(std::string_view display_name, std::string_view text) {
  std::string line;
  line.reserve(display_name.size() + text.size() + 3);
  line.append(display_name).append(": ").append(text).append("\n");
  (void)logging::write_all(STDERR_FILENO, line);
  return 1;
}

std::expected<Invocation, int> parse_invocation(int argc, char** argv) {
  std::string name = display_name(argc > 0 && argv[0] != nullptr
                                      ? std::optional<std::string_view>(argv[0])
                                      : std::nullopt);
  const std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);

  if (auto help = help_request(args, name)) print_help_and_exit(*help);

  auto parsed = parse_command_line(args, name);
  if (!parsed) return std::unexpected(report(name, parsed.error().message()));
  return Invocation{std::move(name), std::move(*parsed)};
}

std::expected<void, int> start_logging(const Invocation& invocation) {
  const GlobalOptions& globals = invocation.parsed.globals;
  // The parser has already refused any other word.
  const LogLevel level = *parse_log_level(globals.log_level);

  std::optional<int> log_fd;
  if (globals.log_file) {
    auto opened = open_log_file(*globals.log_file);
    if (!opened) return std::unexpected(report(invocation.display_name, opened.error().message()));
    log_fd = *opened;
  }
  if (auto installed = init_logging(level, log_fd); !installed) {
    return std::unexpected(report(invocation.display_name, installed.error().message()));
  }
  TARVIK_LOG(Info, "tarvik", "starting {}", version_text(invocation.display_name));
  return {};
}

int run_client_command(const Invocation& invocation) {
  if (auto sent = send_request(invocation.parsed.command); !sent) {
    return report(invocation.display_name, sent.error().message());
  }
  return 0;
}

}  // namespace tarvik
