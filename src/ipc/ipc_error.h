// Errors of both sides of the daemon IPC; message() is the text the user sees.
#pragma once

#include <optional>
#include <string>

#include "ipc/json.h"

namespace tarvik {

struct IpcError {
  enum class Kind {
    NoRuntimeDirectory,  // "XDG_RUNTIME_DIR is unset"
    AlreadyRunning,      // "another daemon is already running at {path}"
    Connect,   // "cannot connect to daemon at {path}: {detail}; start it with `tarvik daemon`"
    Io,        // "daemon socket error: {detail}"
    Json,      // "invalid daemon message: {json.message()}"
    Rejected,  // "daemon rejected request: {detail}"
  };
  Kind kind = Kind::Io;
  std::string path;    // AlreadyRunning, Connect: the socket path as lossy UTF-8 text
  std::string detail;  // Connect, Io: the system error's text; Rejected: the daemon's message
  int os_error = 0;    // Connect, Io: the error number, when the system gave one
  JsonError json;      // Json: the decoding error, or the failed write it wraps

  std::string message() const;
  // The wrapped error's text: Connect, Io and Json wrap one; the others none.
  std::optional<std::string> cause() const;

  static IpcError of(Kind kind) {
    IpcError error;
    error.kind = kind;
    return error;
  }
  static IpcError no_runtime_directory() { return of(Kind::NoRuntimeDirectory); }
  static IpcError already_running(std::string path);
  static IpcError connect(std::string path, int errnum);
  static IpcError connect(std::string path, std::string detail);
  static IpcError io(int errnum);
  static IpcError io(std::string detail);
  static IpcError json_error(JsonError error);
  static IpcError rejected(std::string message);

  bool operator==(const IpcError&) const = default;
};

}  // namespace tarvik
