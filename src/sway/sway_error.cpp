#include "sway/sway_error.h"

#include <fmt/format.h>

namespace tarvik {

std::string SwayError::message() const {
  switch (kind) {
    case Kind::MissingSocket:
      return "SWAYSOCK is unset; cannot connect to Sway";
    case Kind::Io:
      return fmt::format("Sway IPC error: {}", detail);
    case Kind::Json:
      return fmt::format("invalid Sway IPC response: {}", detail);
    case Kind::InvalidHeader:
      return "Sway returned an invalid IPC header";
    case Kind::ResponseTooLarge:
      return "Sway IPC response is too large";
    case Kind::NoFocusedWorkspace:
      return "Sway reported no focused workspace";
    case Kind::NoFocusedWindow:
      return fmt::format("Sway reported no usable focused window for seat {}", detail);
    case Kind::Command:
      return fmt::format("Sway rejected cursor command: {}", detail);
    case Kind::InvalidSeat:
      return fmt::format("seat name {} cannot be used in a Sway command", detail);
  }
  return "unknown Sway error";
}

}  // namespace tarvik
