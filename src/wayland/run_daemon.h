// The daemon's run function: connects to the compositor, builds the controller around the
// Wayland backend, binds the daemon socket and runs the event loop until a source fails.
#pragma once

#include <expected>
#include <optional>
#include <string>

#include "cli/command.h"
#include "wayland/daemon_error.h"

namespace tarvik {

// Returns only when the event loop ends; the daemon socket file is removed on every return
// after it was bound.
std::expected<void, DaemonError> run_daemon(const DaemonOptions& options,
                                            std::string sway_socket_path);

// The debug form of an optional text: None, or Some("...") with quotes and backslashes escaped.
std::string debug_form(const std::optional<std::string>& value);

}  // namespace tarvik
