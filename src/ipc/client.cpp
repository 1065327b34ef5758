#include "ipc/client.h"

#include <cerrno>

#include <sys/socket.h>

#include "ipc/json.h"
#include "ipc/protocol.h"
#include "ipc/socket_path.h"
#include "ipc/unix_socket.h"
#include "logging/log.h"
#include "logging/utf8.h"
#include "logging/system_error.h"

namespace tarvik {

namespace {

// Answers are one short line; more than this is not an answer, and reading stops there so a
// runaway peer cannot exhaust memory (the decoder then reports what it found).
constexpr std::size_t answer_limit = 1 << 20;

std::expected<std::string, IpcError> read_answer(int fd) {
  std::string answer;
  char buffer[8192];
  while (answer.size() < answer_limit) {
    const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      return std::unexpected(IpcError::json_error(JsonError::io(os_error_text(errno))));
    }
    answer.append(buffer, static_cast<std::size_t>(n));
  }
  return answer;
}

}  // namespace

std::expected<void, IpcError> send_request(const Command& command) {
  const auto path = resolve_socket_path();
  if (!path) return std::unexpected(IpcError::no_runtime_directory());
  return send_request_to(*path, command);
}

std::expected<void, IpcError> send_request_to(const std::string& socket_path,
                                              const Command& command) {
  TARVIK_LOG(Info, "tarvik::ipc", "sending command={}", command_json(command));

  auto stream = connect_unix(socket_path);
  if (!stream) {
    const ConnectFailure& failure = stream.error();
    const std::string shown = logging::lossy_utf8(socket_path);
    if (failure.errnum < 0) return std::unexpected(IpcError::connect(shown, failure.text));
    return std::unexpected(IpcError::connect(shown, failure.errnum));
  }

  auto request = encode_request(Request{protocol_version, command});
  if (!request) return std::unexpected(IpcError::json_error(std::move(request.error())));
  const std::size_t json_length = request->size();
  request->push_back('\n');
  std::size_t sent = 0;
  if (auto written = send_all(stream->get(), *request, &sent); !written) {
    // A failure inside the JSON text is reported as a JSON writing error, one on the final line
    // feed as a socket error.
    if (sent < json_length) {
      return std::unexpected(IpcError::json_error(JsonError::io(os_error_text(written.error()))));
    }
    return std::unexpected(IpcError::io(written.error()));
  }

  auto answer = read_answer(stream->get());
  stream->reset();
  if (!answer) return std::unexpected(std::move(answer.error()));
  auto response = decode_response(*answer);
  if (!response) return std::unexpected(IpcError::json_error(std::move(response.error())));

  TARVIK_LOG(Debug, "tarvik::ipc", "received daemon response ok={} message={}", response->ok,
             quoted_debug(response->message));
  if (!response->ok) return std::unexpected(IpcError::rejected(std::move(response->message)));
  return {};
}

}  // namespace tarvik
