// Errors of the Sway IPC client; message() is the text the user sees.
#pragma once

#include <string>

namespace tarvik {

struct SwayError {
  enum class Kind {
    MissingSocket,       // "SWAYSOCK is unset; cannot connect to Sway"
    Io,                  // "Sway IPC error: {detail}" (detail: the system error text)
    Json,                // "invalid Sway IPC response: {detail}"
    InvalidHeader,       // "Sway returned an invalid IPC header"
    ResponseTooLarge,    // "Sway IPC response is too large"
    NoFocusedWorkspace,  // "Sway reported no focused workspace"
    NoFocusedWindow,     // "Sway reported no usable focused window for seat {detail}"
    Command,             // "Sway rejected cursor command: {detail}"
    // A seat name that Sway's command parser would split or quote (white space, ';', ',',
    // quotes, backslash) is refused before anything is sent, so a name can never smuggle
    // further commands into the text.
    InvalidSeat,  // "seat name {detail} cannot be used in a Sway command"
  };
  Kind kind = Kind::Io;
  std::string detail;

  std::string message() const;
};

}  // namespace tarvik
