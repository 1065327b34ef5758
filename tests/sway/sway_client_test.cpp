// Framing of the Sway IPC exchange against a scripted socket: what goes out, which replies are
// accepted, and that the connection is closed on every path.
#include "sway/sway_client.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "sway/sway_server_support.h"

namespace tarvik {
namespace {

using testing::ScriptedReply;
using testing::ScriptedSwayServer;
using ::testing::HasSubstr;

TEST(SwayExchange, SendsMagicLengthTypeAndPayloadAndReturnsThePayload) {
  ScriptedSwayServer server({{testing::frame(4, R"({"id":1})")}, {testing::frame(1, "[]")}});
  SwayClient client(server.path());

  auto tree = client.exchange(SwayMessage::GetTree, {});
  ASSERT_TRUE(tree.has_value()) << tree.error().message();
  EXPECT_EQ(*tree, R"({"id":1})");
  auto command = client.exchange(SwayMessage::RunCommand, "seat seat0 cursor set 1 2");
  ASSERT_TRUE(command.has_value()) << command.error().message();
  EXPECT_EQ(*command, "[]");

  const auto received = server.finish();
  ASSERT_EQ(received.size(), 2u);
  EXPECT_EQ(received[0].magic, "i3-ipc");
  EXPECT_EQ(received[0].type, 4u);
  EXPECT_EQ(received[0].payload, "");
  EXPECT_EQ(received[1].type, 0u);
  EXPECT_EQ(received[1].payload, "seat seat0 cursor set 1 2");
  EXPECT_TRUE(received[0].client_closed);
  EXPECT_TRUE(received[1].client_closed);
}

TEST(SwayExchange, EveryConnectionCarriesExactlyOneRequest) {
  ScriptedSwayServer server({{testing::json_reply("[]")}, {testing::json_reply("[]")},
                             {testing::json_reply("[]")}});
  SwayClient client(server.path());
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(client.exchange(SwayMessage::GetSeats, {}).has_value());
  }
  const auto received = server.finish();
  ASSERT_EQ(received.size(), 3u);
  for (const auto& request : received) {
    EXPECT_EQ(request.type, 101u);
    EXPECT_TRUE(request.client_closed);
  }
}

TEST(SwayExchange, ReplyOfAnotherTypeIsAccepted) {
  // The reply's type field is not compared with the request's.
  ScriptedSwayServer server({{testing::json_reply(R"([{"success":true}])", 7)}});
  SwayClient client(server.path());
  EXPECT_TRUE(client.run_command("nop").has_value());
}

TEST(SwayExchange, AnyDifferingMagicByteIsAnInvalidHeader) {
  const std::string good = "i3-ipc";
  for (std::size_t i = 0; i < good.size(); ++i) {
    std::string magic = good;
    magic[i] = static_cast<char>(magic[i] ^ 0x20);
    SCOPED_TRACE(magic);
    ScriptedSwayServer server({{testing::header(0, 2, magic) + "[]"}});
    SwayClient client(server.path());

    auto reply = client.exchange(SwayMessage::RunCommand, "x");
    ASSERT_FALSE(reply.has_value());
    EXPECT_EQ(reply.error().kind, SwayError::Kind::InvalidHeader);
    EXPECT_EQ(reply.error().message(), "Sway returned an invalid IPC header");
    const auto received = server.finish();
    ASSERT_EQ(received.size(), 1u);
    EXPECT_TRUE(received[0].client_closed);
  }
}

TEST(SwayExchange, ReplyOfExactlySixteenMebibytesIsAccepted) {
  const std::string payload(16777216, 'a');
  ScriptedSwayServer server({{testing::frame(4, payload)}});
  SwayClient client(server.path());

  auto reply = client.exchange(SwayMessage::GetTree, {});
  ASSERT_TRUE(reply.has_value()) << reply.error().message();
  EXPECT_EQ(reply->size(), payload.size());
  EXPECT_EQ(*reply, payload);
}

TEST(SwayExchange, LargerReplyIsRefusedFromItsHeaderAlone) {
  // Only the header is sent and the server keeps the connection open: a client that tried to
  // read the payload would wait until the server gives up and then see an early close instead.
  ScriptedSwayServer server({{testing::header(4, 16777217)}});
  SwayClient client(server.path());

  auto reply = client.exchange(SwayMessage::GetTree, {});
  ASSERT_FALSE(reply.has_value());
  EXPECT_EQ(reply.error().kind, SwayError::Kind::ResponseTooLarge);
  EXPECT_EQ(reply.error().message(), "Sway IPC response is too large");
  const auto received = server.finish();
  ASSERT_EQ(received.size(), 1u);
  EXPECT_TRUE(received[0].client_closed);
}

TEST(SwayExchange, ReplyCutShortIsAnIoError) {
  struct Case {
    const char* name;
    std::string bytes;
  };
  const Case cases[] = {
      {"nothing at all", ""},
      {"part of the header", "i3-ip"},
      {"header without its payload", testing::header(0, 10)},
      {"part of the payload", testing::header(0, 10) + "[{\"suc"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedSwayServer server({ScriptedReply{c.bytes, true}});
    SwayClient client(server.path());

    auto reply = client.exchange(SwayMessage::RunCommand, "x");
    ASSERT_FALSE(reply.has_value());
    EXPECT_EQ(reply.error().kind, SwayError::Kind::Io);
    EXPECT_EQ(reply.error().message(),
              "Sway IPC error: connection closed before the reply was complete");
  }
}

TEST(SwayExchange, PeerHangingUpDuringTheRequestIsAnErrorNotASignal) {
  // A request far larger than the socket buffers meets a closed peer while it is written; the
  // process must get an error back, not be ended by SIGPIPE.
  ScriptedReply hang_up;
  hang_up.hang_up = true;
  ScriptedSwayServer server({hang_up});
  SwayClient client(server.path());
  const std::string command(8 * 1024 * 1024, 'x');

  auto status = client.run_command(command);
  ASSERT_FALSE(status.has_value());
  EXPECT_EQ(status.error().kind, SwayError::Kind::Io);
  EXPECT_THAT(status.error().message(), ::testing::StartsWith("Sway IPC error: "));
}

TEST(SwayExchange, UnreachableSocketIsAnIoErrorWithTheSystemText) {
  struct Case {
    const char* name;
    std::string path;
    std::string message;
  };
  const Case cases[] = {
      {"no such file", "/tmp/tarvik-sway-test-missing/sway-ipc.sock",
       "Sway IPC error: No such file or directory (os error 2)"},
      {"longer than a socket address holds", "/tmp/" + std::string(200, 'p'),
       "Sway IPC error: File name too long (os error 36)"},
      {"not a socket", "/dev/null", "Sway IPC error: Connection refused (os error 111)"},
      {"empty", "", "Sway IPC error: Invalid argument (os error 22)"},
      {"embedded NUL", std::string("/tmp/a\0b", 8),
       "Sway IPC error: Invalid argument (os error 22)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SwayClient client(c.path);
    auto reply = client.exchange(SwayMessage::GetWorkspaces, {});
    ASSERT_FALSE(reply.has_value());
    EXPECT_EQ(reply.error().kind, SwayError::Kind::Io);
    EXPECT_EQ(reply.error().message(), c.message);
  }
}

TEST(SwayExchange, GarbageAfterTheFramedReplyIsNotRead) {
  // Sway sends one message per request; bytes after it are none of this exchange's business.
  ScriptedSwayServer server({{testing::frame(1, "[]") + "trailing junk"}});
  SwayClient client(server.path());
  auto reply = client.exchange(SwayMessage::GetWorkspaces, {});
  ASSERT_TRUE(reply.has_value()) << reply.error().message();
  EXPECT_EQ(*reply, "[]");
  EXPECT_TRUE(server.finish().at(0).client_closed);
}

}  // namespace
}  // namespace tarvik
