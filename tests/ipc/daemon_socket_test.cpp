#include "ipc/daemon_socket.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include <gtest/gtest.h>

#include "ipc/protocol.h"
#include "ipc_support.h"

namespace tarvik {
namespace {

using namespace std::chrono_literals;
using testing::LogCapture;
using testing::RecordingHandler;
using testing::RuntimeDir;

const std::string cancel_line = "{\"version\":1,\"command\":\"Cancel\"}\n";

BoundDaemonSocket bind_or_fail() {
  auto bound = bind_daemon_socket();
  EXPECT_TRUE(bound.has_value()) << bound.error().message();
  return std::move(*bound);
}

bool is_socket(const std::string& path) {
  struct stat info{};
  return ::lstat(path.c_str(), &info) == 0 && S_ISSOCK(info.st_mode);
}

// Connects, sends `bytes`, and keeps the connection open for the answer.
UniqueFd client_sending(const std::string& path, std::string_view bytes) {
  UniqueFd fd = testing::connect_client(path);
  testing::write_all_or_fail(fd.get(), bytes);
  return fd;
}

TEST(DaemonSocket, BindsOwnerOnlyCloseOnExecNonBlocking) {
  RuntimeDir runtime;
  auto& log = LogCapture::instance();
  log.take();
  auto bound = bind_or_fail();
  const std::string path = runtime.socket_path();
  EXPECT_EQ(bound.guard.path(), path);
  struct stat info{};
  ASSERT_EQ(::stat(path.c_str(), &info), 0);
  EXPECT_TRUE(S_ISSOCK(info.st_mode));
  EXPECT_EQ(info.st_mode & 07777, 0600u);
  EXPECT_TRUE(::fcntl(bound.socket.fd(), F_GETFD) & FD_CLOEXEC);
  EXPECT_TRUE(::fcntl(bound.socket.fd(), F_GETFL) & O_NONBLOCK);
  const auto messages = log.messages("tarvik::ipc");
  ASSERT_FALSE(messages.empty());
  EXPECT_EQ(messages.back(), "bound daemon socket path=" + path);
}

TEST(DaemonSocket, SecondInstanceIsRefusedAndTheFirstKeepsServing) {
  RuntimeDir runtime;
  auto first = bind_or_fail();
  auto& log = LogCapture::instance();
  log.take();

  auto second = bind_daemon_socket();
  ASSERT_FALSE(second.has_value());
  EXPECT_EQ(second.error().kind, IpcError::Kind::AlreadyRunning);
  EXPECT_EQ(second.error().message(),
            "another daemon is already running at " + runtime.socket_path());
  std::vector<testing::LogRecord> warnings;
  for (auto& record : log.take()) {
    if (record.level == "WRN") warnings.push_back(record);
  }
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_EQ(warnings[0].target, "tarvik::ipc");
  EXPECT_EQ(warnings[0].message, "daemon socket is already in use path=" + runtime.socket_path());

  EXPECT_TRUE(is_socket(runtime.socket_path()));
  // The probe's connection was answered as an empty request; the client then serves normally.
  RecordingHandler handler;
  UniqueFd client = client_sending(runtime.socket_path(), cancel_line);
  ASSERT_TRUE(first.socket.serve_pending(handler));
  EXPECT_EQ(testing::read_to_end(client.get()), "{\"ok\":true,\"message\":\"done\"}\n");
  ASSERT_EQ(handler.commands.size(), 1u);
  EXPECT_EQ(handler.commands[0], Command(command::Cancel{}));
}

TEST(DaemonSocket, ReplacesWhatADeadDaemonLeftBehind) {
  struct Case {
    std::string name;
    void (*leave)(const std::string& path);
  };
  const std::vector<Case> cases = {
      {"stale socket",
       [](const std::string& path) {
         // Bound and closed without removing the file, as a killed daemon leaves it.
         UniqueFd dead = testing::listen_at(path);
       }},
      {"plain file", [](const std::string& path) { std::ofstream(path) << "junk"; }},
  };
  for (const auto& c : cases) {
    RuntimeDir runtime;
    c.leave(runtime.socket_path());
    ASSERT_TRUE(std::filesystem::exists(runtime.socket_path())) << c.name;
    auto bound = bind_daemon_socket();
    ASSERT_TRUE(bound.has_value()) << c.name << ": " << bound.error().message();
    EXPECT_TRUE(is_socket(runtime.socket_path())) << c.name;

    RecordingHandler handler;
    UniqueFd client = client_sending(runtime.socket_path(), cancel_line);
    ASSERT_TRUE(bound->socket.serve_pending(handler));
    EXPECT_EQ(testing::read_to_end(client.get()), "{\"ok\":true,\"message\":\"done\"}\n") << c.name;
  }
}

TEST(DaemonSocket, BindFailuresAreIoErrors) {
  {
    RuntimeDir runtime;
    std::filesystem::create_directory(runtime.socket_path());
    auto bound = bind_daemon_socket();
    ASSERT_FALSE(bound.has_value());
    EXPECT_EQ(bound.error().message(), "daemon socket error: Is a directory (os error 21)");
    EXPECT_TRUE(std::filesystem::is_directory(runtime.socket_path()));
  }
  {
    RuntimeDir runtime;
    testing::EnvOverride long_dir("XDG_RUNTIME_DIR", runtime.dir() + "/" + std::string(120, 'd'));
    auto bound = bind_daemon_socket();
    ASSERT_FALSE(bound.has_value());
    EXPECT_EQ(bound.error().message(), "daemon socket error: path must be shorter than SUN_LEN");
  }
  {
    testing::EnvOverride unset("XDG_RUNTIME_DIR", std::nullopt);
    auto bound = bind_daemon_socket();
    ASSERT_FALSE(bound.has_value());
    EXPECT_EQ(bound.error().message(), "XDG_RUNTIME_DIR is unset");
  }
}

TEST(DaemonSocket, GuardRemovesTheFileOnceWhenDiscarded) {
  RuntimeDir runtime;
  std::optional<BoundDaemonSocket> bound = bind_or_fail();
  SocketPathGuard moved = std::move(bound->guard);
  bound.reset();
  EXPECT_TRUE(is_socket(runtime.socket_path()));
  { SocketPathGuard discarded = std::move(moved); }
  EXPECT_FALSE(std::filesystem::exists(runtime.socket_path()));
}

TEST(ReadRequestText, FramesByLineFeedEndOrLimit) {
  struct Case {
    std::string name;
    std::string sent;
    bool close_after;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"stops after the line feed", "{\"a\":1}\n{\"b\":2}\n", false, "{\"a\":1}\n"},
      {"end of stream", "{\"a\":1}", true, "{\"a\":1}"},
      {"nothing then end", "", true, ""},
      {"cut at the limit", std::string(70000, 'x'), false, std::string(max_request_bytes, 'x')},
      {"line feed just inside the limit", std::string(65535, 'y') + "\nzz", false,
       std::string(65535, 'y') + "\n"},
  };
  for (const auto& c : cases) {
    int pair[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair), 0);
    UniqueFd daemon_end(pair[0]), client_end(pair[1]);
    testing::write_all_or_fail(client_end.get(), c.sent);
    if (c.close_after) client_end.reset();
    auto text = read_request_text(daemon_end.get(), 2000ms);
    ASSERT_TRUE(text.has_value()) << c.name << ": " << text.error().message();
    EXPECT_EQ(text->size(), c.expected.size()) << c.name;
    EXPECT_EQ(*text, c.expected) << c.name;
  }
}

TEST(ReadRequestText, RefusesInvalidUtf8AndSilence) {
  int pair[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair), 0);
  UniqueFd daemon_end(pair[0]), client_end(pair[1]);
  testing::write_all_or_fail(client_end.get(), "{\"a\":\"\xff\"}\n");
  auto bad = read_request_text(daemon_end.get(), 2000ms);
  ASSERT_FALSE(bad.has_value());
  EXPECT_EQ(bad.error().message(), "daemon socket error: stream did not contain valid UTF-8");

  // Half a line, then nothing more: the deadline ends the wait.
  testing::write_all_or_fail(client_end.get(), "{\"version\":");
  auto silent = read_request_text(daemon_end.get(), 50ms);
  ASSERT_FALSE(silent.has_value());
  EXPECT_EQ(silent.error().message(), "daemon socket error: Connection timed out (os error 110)");
}

TEST(DaemonSocket, ServesEveryWaitingClientInOneReadinessReport) {
  RuntimeDir runtime;
  auto bound = bind_or_fail();
  auto loop = EventLoop::create();
  ASSERT_TRUE(loop.has_value());
  RecordingHandler handler;
  ASSERT_TRUE(add_listener_source(**loop, std::move(bound.socket), handler));

  const std::vector<std::string> requests = {
      "{\"version\":1,\"command\":\"Reload\"}\n",
      "[1,\"Cancel\"]",  // ended by the client's half-close below
      "{\"version\":1,\"command\":{\"Click\":\"right\"}}\n",
      "{\"version\":1,\"command\":\"Mouse\"}\n",
  };
  std::vector<UniqueFd> clients;
  for (const auto& request : requests) {
    clients.push_back(client_sending(runtime.socket_path(), request));
    if (request.back() != '\n') ::shutdown(clients.back().get(), SHUT_WR);
  }
  ASSERT_TRUE((*loop)->dispatch(2000ms));

  ASSERT_EQ(handler.commands.size(), requests.size());
  EXPECT_EQ(handler.commands[0], Command(command::Reload{}));
  EXPECT_EQ(handler.commands[1], Command(command::Cancel{}));
  EXPECT_EQ(handler.commands[2], Command(command::Click{PointerButton::Right}));
  EXPECT_EQ(handler.commands[3], Command(command::Mouse{}));
  for (auto& client : clients) {
    EXPECT_EQ(testing::read_to_end(client.get()), "{\"ok\":true,\"message\":\"done\"}\n");
  }
}

TEST(DaemonSocket, AnswersBadRequestsWithTheirError) {
  struct Case {
    std::string name;
    std::string sent;
    std::string answer;
  };
  const std::vector<Case> cases = {
      {"not UTF-8", "\xff\n",
       "{\"ok\":false,\"message\":\"daemon socket error: stream did not contain valid UTF-8\"}\n"},
      // The text is cut after 65536 bytes and decoded as it is.
      {"overlong line", "\"" + std::string(69999, 'a'),
       "{\"ok\":false,\"message\":\"invalid daemon message: EOF while parsing a string at line 1 "
       "column 65536\"}\n"},
      {"bytes after the line feed are not part of the request", cancel_line + "garbage",
       "{\"ok\":true,\"message\":\"done\"}\n"},
  };
  for (const auto& c : cases) {
    RuntimeDir runtime;
    auto bound = bind_or_fail();
    RecordingHandler handler;
    UniqueFd client = client_sending(runtime.socket_path(), c.sent);
    ASSERT_TRUE(bound.socket.serve_pending(handler)) << c.name;
    EXPECT_EQ(testing::read_to_end(client.get()), c.answer) << c.name;
  }
}

TEST(DaemonSocket, RequestWrittenInSmallPiecesIsReadWhole) {
  RuntimeDir runtime;
  auto bound = bind_or_fail();
  UniqueFd client = testing::connect_client(runtime.socket_path());
  std::thread writer([fd = client.get()] {
    for (const char c : cancel_line) {
      testing::write_all_or_fail(fd, std::string_view(&c, 1));
      std::this_thread::sleep_for(1ms);
    }
  });
  RecordingHandler handler;
  ASSERT_TRUE(bound.socket.serve_pending(handler));
  writer.join();
  EXPECT_EQ(testing::read_to_end(client.get()), "{\"ok\":true,\"message\":\"done\"}\n");
  EXPECT_EQ(handler.commands.size(), 1u);
}

TEST(DaemonSocket, ClientGoneBeforeItsAnswerCostsOneErrorLine) {
  struct Case {
    std::string name;
    std::string sent;
    std::size_t commands_seen;
  };
  const std::vector<Case> cases = {
      {"sent a request, then left", cancel_line, 1},
      // Its answer would have been the EOF decoding error.
      {"left without a word", "", 0},
  };
  for (const auto& c : cases) {
    RuntimeDir runtime;
    auto bound = bind_or_fail();
    auto& log = LogCapture::instance();
    log.take();
    {
      UniqueFd gone = client_sending(runtime.socket_path(), c.sent);
    }
    UniqueFd next = client_sending(runtime.socket_path(), cancel_line);
    RecordingHandler handler;
    ASSERT_TRUE(bound.socket.serve_pending(handler)) << c.name;

    const auto records = log.take();
    std::vector<testing::LogRecord> errors;
    for (const auto& record : records) {
      if (record.level == "ERR") errors.push_back(record);
    }
    ASSERT_EQ(errors.size(), 1u) << c.name;
    EXPECT_EQ(errors[0].target, "tarvik::wayland");
    EXPECT_EQ(errors[0].message,
              "cannot answer IPC request: invalid daemon message: Broken pipe (os error 32)")
        << c.name;
    EXPECT_EQ(testing::read_to_end(next.get()), "{\"ok\":true,\"message\":\"done\"}\n") << c.name;
    EXPECT_EQ(handler.commands.size(), c.commands_seen + 1) << c.name;
  }
}

TEST(DaemonSocket, SilentClientIsAnsweredAfterTheDeadlineAndTheNextServed) {
  RuntimeDir runtime;
  auto bound = bind_or_fail();
  UniqueFd silent = testing::connect_client(runtime.socket_path());
  UniqueFd next = client_sending(runtime.socket_path(), cancel_line);
  RecordingHandler handler;
  // The default deadline: the point is that the daemon gets its thread back at all.
  ASSERT_TRUE(bound.socket.serve_pending(handler));
  EXPECT_EQ(testing::read_to_end(silent.get()),
            "{\"ok\":false,\"message\":\"daemon socket error: Connection timed out (os error "
            "110)\"}\n");
  EXPECT_EQ(testing::read_to_end(next.get()), "{\"ok\":true,\"message\":\"done\"}\n");
  EXPECT_EQ(handler.commands.size(), 1u);
}

TEST(DaemonSocket, AcceptFailureEndsTheLoopWithItsText) {
  auto loop = EventLoop::create();
  ASSERT_TRUE(loop.has_value());
  // A stream socket that never listened: readiness is reported (hang-up), accept refuses.
  UniqueFd not_listening(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  RecordingHandler handler;
  ASSERT_TRUE(add_listener_source(**loop, DaemonSocket(std::move(not_listening)), handler));
  auto ended = (*loop)->run();
  ASSERT_FALSE(ended.has_value());
  EXPECT_EQ(ended.error().message(), "daemon socket error: Invalid argument (os error 22)");
}

}  // namespace
}  // namespace tarvik
