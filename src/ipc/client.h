// The client side of the daemon protocol: one request, one answer, per process.
#pragma once

#include <expected>

#include "cli/command.h"
#include "ipc/ipc_error.h"

namespace tarvik {

// Sends `command` to the daemon of this display and program name and waits for its answer.
// Success when the daemon answered ok; its refusal becomes IpcError::Rejected.
std::expected<void, IpcError> send_request(const Command& command);

// The same exchange with a known socket path.
std::expected<void, IpcError> send_request_to(const std::string& socket_path,
                                              const Command& command);

}  // namespace tarvik
