#include "wayland/daemon_error.h"

namespace tarvik {

std::string DaemonError::message() const {
  switch (kind) {
    case Kind::Connect:
      return "cannot connect to Wayland: " + detail;
    case Kind::Globals:
      return "cannot initialize Wayland globals: " + detail;
    case Kind::MissingGlobal:
      return "required Wayland global is unavailable: " + detail;
    case Kind::Dispatch:
      return "Wayland dispatch failed: " + detail;
    case Kind::EventLoop:
      return "event loop failed: " + detail;
    case Kind::Source:
      return "event source failed: " + detail;
    case Kind::Config:
    case Kind::Ipc:
      return detail;
    case Kind::Application:
      return "cannot initialize application: " + detail;
    case Kind::Shm:
      return "shared-memory buffer error: " + detail;
    case Kind::NoSeat:
      return "no keyboard-capable Wayland seat matched the requested seat";
  }
  return detail;
}

bool DaemonError::has_cause() const {
  return kind != Kind::MissingGlobal && kind != Kind::Application && kind != Kind::NoSeat;
}

std::string DaemonError::cause() const { return has_cause() ? detail : std::string{}; }

}  // namespace tarvik
