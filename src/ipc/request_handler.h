// The daemon's side of one exchange: from the request text to the answer.
#pragma once

#include <string_view>

#include "ipc/command_handler.h"
#include "ipc/protocol.h"

namespace tarvik {

// Decodes one request (whitespace around it allowed), refuses other protocol versions, and
// hands the command to `handler`. When the handler fails, the active mode is cancelled before
// the failure is answered. Never fails itself: every problem becomes an answer with ok false.
Response handle_request(std::string_view text, CommandHandler& handler);

}  // namespace tarvik
