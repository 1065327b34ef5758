// The steps every process takes before it becomes a client or the daemon, shared by `tarvik`
// (which hands the daemon command on to the daemon program) and `tarvik-daemon` (which runs it).
#pragma once

#include <expected>
#include <string>
#include <string_view>

#include "cli/parser.h"

namespace tarvik {

struct Invocation {
  std::string display_name;
  ParsedCommandLine parsed;
};

// Writes the display name, ": ", `text` and a line break to standard error in one write; returns
// the status of a process ending with that error (1).
int report(std::string_view display_name, std::string_view text);

// The help pre-check and the parse. A help text asked for first is printed and ends the process
// here; a parse error is reported and its exit status is the error value.
std::expected<Invocation, int> parse_invocation(int argc, char** argv);

// Opens the log file, installs the logger and logs the start; the exit status on failure.
std::expected<void, int> start_logging(const Invocation& invocation);

// The client exchange for every command but `daemon`; the process's exit status.
int run_client_command(const Invocation& invocation);

}  // namespace tarvik
