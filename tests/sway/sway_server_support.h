// A scripted stand-in for Sway's IPC socket: a Unix socket in a private temporary directory that
// serves one scripted answer per connection, in order, and records what each client sent and
// whether the client closed its end afterwards.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace tarvik::testing {

// What the server does with one connection.
struct ScriptedReply {
  // Bytes written once the client's whole request (header and payload) has been read.
  std::string bytes;
  // Close right after writing instead of waiting for the client to close first.
  bool close_early = false;
  // Close as soon as the connection is accepted, reading and writing nothing.
  bool hang_up = false;
};

// One framed message, as the client would receive it: magic, length, type, payload.
std::string frame(std::uint32_t type, std::string_view payload);
// A header alone, with any length and magic; for replies that lie about their size.
std::string header(std::uint32_t type, std::uint32_t length, std::string_view magic = "i3-ipc");
// A RUN_COMMAND-type reply of a JSON text.
std::string json_reply(std::string_view json, std::uint32_t type = 0);

struct ReceivedRequest {
  std::string magic;
  std::uint32_t type = 0;
  std::string payload;
  // The client closed its end after the answer (or after the server gave up waiting: false).
  bool client_closed = false;
};

class ScriptedSwayServer {
 public:
  explicit ScriptedSwayServer(std::vector<ScriptedReply> script);
  ~ScriptedSwayServer();
  ScriptedSwayServer(const ScriptedSwayServer&) = delete;
  ScriptedSwayServer& operator=(const ScriptedSwayServer&) = delete;

  const std::string& path() const { return path_; }

  // Stops accepting, waits for the connection in progress and returns every request seen.
  std::vector<ReceivedRequest> finish();

 private:
  void serve();
  void serve_one(int fd, const ScriptedReply& reply);

  std::string dir_;
  std::string path_;
  int listen_fd_ = -1;
  int stop_pipe_[2] = {-1, -1};
  std::vector<ScriptedReply> script_;
  std::mutex mutex_;
  std::vector<ReceivedRequest> received_;
  std::thread thread_;
  bool finished_ = false;
};

}  // namespace tarvik::testing
