#include "ipc/client.h"

#include <sys/socket.h>

#include <thread>

#include <gtest/gtest.h>

#include "ipc/daemon_socket.h"
#include "ipc/event_loop.h"
#include "ipc_support.h"

namespace tarvik {
namespace {

using namespace std::chrono_literals;
using testing::LogCapture;
using testing::RuntimeDir;

// A stand-in daemon for one connection: reads the request line, writes `reply` (byte by byte
// when `trickle`), closes.
class ScriptedDaemon {
 public:
  ScriptedDaemon(const std::string& path, std::string reply, bool trickle = false)
      : listener_(testing::listen_at(path)),
        thread_([this, reply = std::move(reply), trickle] { serve(reply, trickle); }) {}
  ~ScriptedDaemon() {
    if (thread_.joinable()) thread_.join();
  }

  // What the client sent; waits for the exchange to finish.
  std::string received() {
    if (thread_.joinable()) thread_.join();
    return received_;
  }

 private:
  void serve(const std::string& reply, bool trickle) {
    UniqueFd stream(::accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC));
    if (!stream) return;
    char c;
    while (::recv(stream.get(), &c, 1, 0) == 1) {
      received_ += c;
      if (c == '\n') break;
    }
    if (trickle) {
      for (const char byte : reply) {
        testing::write_all_or_fail(stream.get(), std::string_view(&byte, 1));
        std::this_thread::sleep_for(1ms);
      }
    } else {
      testing::write_all_or_fail(stream.get(), reply);
    }
  }

  UniqueFd listener_;
  std::string received_;
  std::thread thread_;
};

TEST(SendRequest, WritesOneLineAndReadsTheAnswer) {
  struct Case {
    std::string name;
    std::string reply;
    bool trickle;
    std::optional<std::string> error;  // nullopt: success
  };
  const std::vector<Case> cases = {
      {"ok", "{\"ok\":true,\"message\":\"cancelled\"}\n", false, std::nullopt},
      {"ok in pieces, whitespace after", "{\"ok\":true,\"message\":\"cancelled\"}\n \r\n\t", true,
       std::nullopt},
      {"rejected", "{\"ok\":false,\"message\":\"x\"}\n", false, "daemon rejected request: x"},
      {"trailing characters", "{\"ok\":true,\"message\":\"a\"} {}", false,
       "invalid daemon message: trailing characters at line 1 column 27"},
      {"no answer", "", false,
       "invalid daemon message: EOF while parsing a value at line 1 column 0"},
      {"cut short", "{\"ok\":tr", false,
       "invalid daemon message: EOF while parsing a value at line 1 column 8"},
      {"not a response", "{\"ok\":\"yes\",\"message\":\"a\"}", false,
       "invalid daemon message: invalid type: string \"yes\", expected a boolean at line 1 "
       "column 11"},
  };
  for (const auto& c : cases) {
    RuntimeDir runtime;
    ScriptedDaemon daemon(runtime.socket_path(), c.reply, c.trickle);
    auto sent = send_request(command::Cancel{});
    EXPECT_EQ(daemon.received(), "{\"version\":1,\"command\":\"Cancel\"}\n") << c.name;
    if (c.error) {
      ASSERT_FALSE(sent.has_value()) << c.name;
      EXPECT_EQ(sent.error().message(), *c.error) << c.name;
    } else {
      EXPECT_TRUE(sent.has_value()) << c.name << ": " << sent.error().message();
    }
  }
}

TEST(SendRequest, LogsTheCommandAndTheAnswer) {
  RuntimeDir runtime;
  auto& log = LogCapture::instance();
  log.take();
  ScriptedDaemon daemon(runtime.socket_path(), "{\"ok\":false,\"message\":\"say \\\"no\\\"\\n\"}");
  auto sent = send_request(command::Click{PointerButton::Middle});
  ASSERT_FALSE(sent.has_value());
  EXPECT_EQ(sent.error().message(), "daemon rejected request: say \"no\"\n");
  std::vector<std::pair<std::string, std::string>> lines;
  for (const auto& record : log.take()) {
    if (record.target == "tarvik::ipc") lines.emplace_back(record.level, record.message);
  }
  const std::vector<std::pair<std::string, std::string>> expected = {
      {"DBG", "resolved daemon socket path=" + runtime.socket_path()},
      {"INF", "sending command={\"Click\":\"middle\"}"},
      {"DBG", "received daemon response ok=false message=\"say \\\"no\\\"\\n\""},
  };
  EXPECT_EQ(lines, expected);
}

TEST(SendRequest, ConnectionFailuresNameThePathAndTheCause) {
  RuntimeDir runtime;
  const std::string path = runtime.socket_path();
  auto expect_failure = [](const std::string& message) {
    auto sent = send_request(command::Reload{});
    ASSERT_FALSE(sent.has_value());
    EXPECT_EQ(sent.error().message(), message);
  };
  expect_failure("cannot connect to daemon at " + path +
                 ": No such file or directory (os error 2); start it with `tarvik daemon`");
  { UniqueFd dead = testing::listen_at(path); }
  expect_failure("cannot connect to daemon at " + path +
                 ": Connection refused (os error 111); start it with `tarvik daemon`");
  {
    const std::string long_dir = runtime.dir() + "/" + std::string(120, 'd');
    testing::EnvOverride override_dir("XDG_RUNTIME_DIR", long_dir);
    expect_failure("cannot connect to daemon at " + long_dir +
                   "/tarvik-wayland-test.sock: path must be shorter than SUN_LEN; start it with "
                   "`tarvik daemon`");
  }
  testing::EnvOverride unset("XDG_RUNTIME_DIR", std::nullopt);
  expect_failure("XDG_RUNTIME_DIR is unset");
}

// A daemon that stops its loop once it has served `expected` requests.
class CountingHandler : public testing::RecordingHandler {
 public:
  CountingHandler(EventLoop& loop, std::size_t expected) : loop_(loop), expected_(expected) {}
  std::expected<std::string, std::string> handle_command(const Command& command) override {
    auto reply = RecordingHandler::handle_command(command);
    if (commands.size() == expected_) loop_.stop();
    return reply;
  }

 private:
  EventLoop& loop_;
  std::size_t expected_;
};

TEST(SendRequest, ClientAndDaemonAgreeOnEveryCommand) {
  RuntimeDir runtime;
  auto bound = bind_daemon_socket();
  ASSERT_TRUE(bound.has_value()) << bound.error().message();
  auto loop = EventLoop::create();
  ASSERT_TRUE(loop.has_value());

  const std::vector<Command> commands = {
      command::Reload{},
      command::Grid{GridOptions{std::nullopt, "DP-1 \"main\"", GridAction::ScrollLeft, false, 9}},
      command::Scroll{ScrollDirection::Left, 0.1},
      command::Scroll{ScrollDirection::Up, std::numeric_limits<double>::quiet_NaN()},
      command::Click{PointerButton::Right},
  };
  CountingHandler handler(**loop, commands.size());
  ASSERT_TRUE(add_listener_source(**loop, std::move(bound->socket), handler));
  std::thread daemon([&] { EXPECT_TRUE((*loop)->run()); });
  for (const auto& command : commands) {
    auto sent = send_request(command);
    EXPECT_TRUE(sent.has_value()) << sent.error().message();
  }
  daemon.join();

  ASSERT_EQ(handler.commands.size(), commands.size());
  for (std::size_t k = 0; k < commands.size(); ++k) {
    if (k == 3) {
      // A step that is not finite arrives as no step at all.
      EXPECT_EQ(handler.commands[k], Command(command::Scroll{ScrollDirection::Up, std::nullopt}));
    } else {
      EXPECT_EQ(handler.commands[k], commands[k]);
    }
  }
}

}  // namespace
}  // namespace tarvik
