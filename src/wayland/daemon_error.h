// The error of the daemon's run function: every way the daemon can fail to start or stop running.
#pragma once

#include <string>

namespace tarvik {

struct DaemonError {
  // Declaration order is part of the contract with the entry's error reporting.
  enum class Kind {
    Connect,        // "cannot connect to Wayland: {detail}"
    Globals,        // "cannot initialize Wayland globals: {detail}"
    MissingGlobal,  // "required Wayland global is unavailable: {detail}"
    Dispatch,       // "Wayland dispatch failed: {detail}"
    EventLoop,      // "event loop failed: {detail}"
    Source,         // "event source failed: {detail}"
    Config,         // the configuration error's own text
    Application,    // "cannot initialize application: {detail}"
    Ipc,            // the IPC error's own text
    Shm,            // "shared-memory buffer error: {detail}"
    NoSeat,         // "no keyboard-capable Wayland seat matched the requested seat"
  };
  Kind kind = Kind::Connect;
  // The inner error's display text (for MissingGlobal and Application: the plain text).
  std::string detail;

  std::string message() const;
  // The wrapped error's text; empty for the variants that wrap nothing
  // (MissingGlobal, Application, NoSeat).
  std::string cause() const;
  bool has_cause() const;
};

}  // namespace tarvik
