#include "ipc/request_handler.h"

#include <fmt/format.h>

#include "ipc/ipc_error.h"
#include "logging/log.h"

namespace tarvik {

Response handle_request(std::string_view text, CommandHandler& handler) {
  // The whole request is decoded before its version is looked at, so a request of another
  // version whose command does not decode gets the decoding error.
  auto request = decode_request(text);
  if (!request) return Response{false, IpcError::json_error(std::move(request.error())).message()};
  if (request->version != protocol_version) {
    return Response{false, IpcError::rejected(fmt::format("protocol version {} is unsupported; "
                                                          "expected {}",
                                                          request->version, protocol_version))
                               .message()};
  }
  TARVIK_LOG(Debug, "tarvik::wayland", "received IPC command={}", command_json(request->command));
  auto outcome = handler.handle_command(request->command);
  if (!outcome) {
    handler.cancel();
    return Response{false, std::move(outcome.error())};
  }
  return Response{true, std::move(*outcome)};
}

}  // namespace tarvik
