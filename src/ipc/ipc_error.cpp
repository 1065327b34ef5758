#include "ipc/ipc_error.h"

#include <fmt/format.h>

#include "logging/system_error.h"

namespace tarvik {

std::string IpcError::message() const {
  switch (kind) {
    case Kind::NoRuntimeDirectory:
      return "XDG_RUNTIME_DIR is unset";
    case Kind::AlreadyRunning:
      return "another daemon is already running at " + path;
    case Kind::Connect:
      // The command named here is fixed; it does not follow the display name.
      return fmt::format("cannot connect to daemon at {}: {}; start it with `tarvik daemon`", path,
                         detail);
    case Kind::Io:
      return "daemon socket error: " + detail;
    case Kind::Json:
      return "invalid daemon message: " + json.message();
    case Kind::Rejected:
      return "daemon rejected request: " + detail;
  }
  return detail;
}

std::optional<std::string> IpcError::cause() const {
  switch (kind) {
    case Kind::Connect:
    case Kind::Io:
      return detail;
    case Kind::Json:
      return json.message();
    default:
      return std::nullopt;
  }
}

IpcError IpcError::already_running(std::string path) {
  IpcError error = of(Kind::AlreadyRunning);
  error.path = std::move(path);
  return error;
}

IpcError IpcError::connect(std::string path, int errnum) {
  IpcError error = connect(std::move(path), os_error_text(errnum));
  error.os_error = errnum;
  return error;
}

IpcError IpcError::connect(std::string path, std::string detail) {
  IpcError error = of(Kind::Connect);
  error.path = std::move(path);
  error.detail = std::move(detail);
  return error;
}

IpcError IpcError::io(int errnum) {
  IpcError error = io(os_error_text(errnum));
  error.os_error = errnum;
  return error;
}

IpcError IpcError::io(std::string detail) {
  IpcError error = of(Kind::Io);
  error.detail = std::move(detail);
  return error;
}

IpcError IpcError::json_error(JsonError json) {
  IpcError error = of(Kind::Json);
  error.json = std::move(json);
  return error;
}

IpcError IpcError::rejected(std::string message) {
  IpcError error = of(Kind::Rejected);
  error.detail = std::move(message);
  return error;
}

}  // namespace tarvik
