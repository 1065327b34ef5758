// Cost of the request protocol: encoding and decoding a grid request, and one whole exchange
// over a socket pair (encode, send, frame, decode, handle, answer, decode the answer). Each is
// run beside a baseline in the same run: copying the request text, parsing it into a tree
// without decoding, and moving the same bytes over the socket pair with no JSON work at all.
#include <sys/socket.h>

#include <string>

#include <benchmark/benchmark.h>

#include "ipc/command_handler.h"
#include "ipc/daemon_socket.h"
#include "ipc/json.h"
#include "ipc/protocol.h"
#include "ipc/request_handler.h"
#include "ipc/unix_socket.h"

namespace {

using namespace tarvik;

const Command grid_command = command::Grid{
    GridOptions{std::nullopt, "DP-1", GridAction::DoubleClick, true, std::uint8_t{3}}};

std::string grid_request_text() { return *encode_request(Request{protocol_version, grid_command}); }

class InstantHandler : public CommandHandler {
 public:
  std::expected<std::string, std::string> handle_command(const Command&) override {
    return std::string("grid active");
  }
  void cancel() override {}
};

void BM_CopyRequestText(benchmark::State& state) {
  const std::string text = grid_request_text();
  for (auto _ : state) {
    std::string copy = text;
    benchmark::DoNotOptimize(copy);
  }
}
BENCHMARK(BM_CopyRequestText);

void BM_EncodeGridRequest(benchmark::State& state) {
  for (auto _ : state) {
    auto text = encode_request(Request{protocol_version, grid_command});
    benchmark::DoNotOptimize(text);
  }
}
BENCHMARK(BM_EncodeGridRequest);

void BM_ParseGridRequestTree(benchmark::State& state) {
  const std::string text = grid_request_text();
  for (auto _ : state) {
    auto value = json::parse(text);
    benchmark::DoNotOptimize(value);
  }
}
BENCHMARK(BM_ParseGridRequestTree);

void BM_DecodeGridRequest(benchmark::State& state) {
  const std::string text = grid_request_text();
  for (auto _ : state) {
    auto request = decode_request(text);
    if (!request) state.SkipWithError("decoding failed");
    benchmark::DoNotOptimize(request);
  }
}
BENCHMARK(BM_DecodeGridRequest);

struct SocketPair {
  UniqueFd client, daemon;
  SocketPair() {
    int fds[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) == 0) {
      client.reset(fds[0]);
      daemon.reset(fds[1]);
    }
  }
};

std::size_t receive_some(int fd, char* buffer, std::size_t size) {
  const ssize_t n = recv(fd, buffer, size, 0);
  return n > 0 ? static_cast<std::size_t>(n) : 0;
}

// The same bytes both ways, with no JSON and no framing.
void BM_RawSocketRoundTrip(benchmark::State& state) {
  SocketPair pair;
  const std::string request = grid_request_text() + "\n";
  const std::string answer = encode_response(Response{true, "grid active"}) + "\n";
  char buffer[8192];
  for (auto _ : state) {
    (void)send_all(pair.client.get(), request, nullptr);
    benchmark::DoNotOptimize(receive_some(pair.daemon.get(), buffer, sizeof buffer));
    (void)send_all(pair.daemon.get(), answer, nullptr);
    benchmark::DoNotOptimize(receive_some(pair.client.get(), buffer, sizeof buffer));
  }
}
BENCHMARK(BM_RawSocketRoundTrip);

// One exchange as the client and the daemon do it, minus connecting and closing.
void BM_FullExchange(benchmark::State& state) {
  SocketPair pair;
  InstantHandler handler;
  char buffer[8192];
  for (auto _ : state) {
    std::string request = *encode_request(Request{protocol_version, grid_command});
    request.push_back('\n');
    (void)send_all(pair.client.get(), request, nullptr);

    auto text = read_request_text(pair.daemon.get(), DaemonSocket::default_read_deadline);
    if (!text) {
      state.SkipWithError("reading the request failed");
      break;
    }
    std::string answer = encode_response(handle_request(*text, handler));
    answer.push_back('\n');
    (void)send_all(pair.daemon.get(), answer, nullptr);

    const std::size_t n = receive_some(pair.client.get(), buffer, sizeof buffer);
    auto response = decode_response(std::string_view(buffer, n));
    if (!response || !response->ok) state.SkipWithError("bad answer");
    benchmark::DoNotOptimize(response);
  }
}
BENCHMARK(BM_FullExchange);

}  // namespace
