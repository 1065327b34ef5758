// The compositor control operations against a scripted socket: the exact command texts, how
// Sway's answers are read, and when the pointer can be brought onto the focused window.
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <limits>
#include <sstream>
#include <vector>

#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "logging/logging.h"
#include "sway/cursor_commands.h"
#include "sway/sway_client.h"
#include "sway/sway_server_support.h"

namespace tarvik {
namespace {

using testing::ScriptedReply;
using testing::ScriptedSwayServer;
using ::testing::HasSubstr;
using ::testing::StartsWith;

const std::string accepted = testing::json_reply(R"([{"success":true}])");

std::string repeat_joined(const std::string& clause, int times) {
  std::string text;
  for (int i = 0; i < times; ++i) {
    if (i > 0) text += "; ";
    text += clause;
  }
  return text;
}

// Runs `operation` against a server that accepts one command and returns the command text.
std::string sent_command(const std::function<SwayStatus(SwayClient&)>& operation) {
  ScriptedSwayServer server({{accepted}});
  SwayClient client(server.path());
  auto status = operation(client);
  EXPECT_TRUE(status.has_value()) << status.error().message();
  const auto received = server.finish();
  if (received.size() != 1) {
    ADD_FAILURE() << "expected one request, got " << received.size();
    return {};
  }
  EXPECT_EQ(received[0].type, 0u);
  return received[0].payload;
}

TEST(CursorCommands, TextsOfEveryOperation) {
  struct Case {
    const char* name;
    std::function<SwayStatus(SwayClient&)> operation;
    std::string text;
  };
  const std::string seat = "seat0";
  const Case cases[] = {
      {"set", [&](SwayClient& c) { return c.cursor_set(seat, 1280, -5); },
       "seat seat0 cursor set 1280 -5"},
      {"set far", [&](SwayClient& c) { return c.cursor_set("seat1", 9000000000, 0); },
       "seat seat1 cursor set 9000000000 0"},
      {"move", [&](SwayClient& c) { return c.cursor_move(seat, 1.0, -0.5); },
       "seat seat0 cursor move 1.000 -0.500"},
      {"move fractions", [&](SwayClient& c) { return c.cursor_move(seat, 0.5, -12.25); },
       "seat seat0 cursor move 0.500 -12.250"},
      {"move rounds to three places",
       [&](SwayClient& c) { return c.cursor_move(seat, 2.0 / 3.0, 1234.56789); },
       "seat seat0 cursor move 0.667 1234.568"},
      {"press left", [&](SwayClient& c) { return c.cursor_button(seat, PointerButton::Left, false); },
       "seat seat0 cursor press button1"},
      {"release middle",
       [&](SwayClient& c) { return c.cursor_button(seat, PointerButton::Middle, true); },
       "seat seat0 cursor release button2"},
      {"press right", [&](SwayClient& c) { return c.cursor_button(seat, PointerButton::Right, false); },
       "seat seat0 cursor press button3"},
      {"click right", [&](SwayClient& c) { return c.cursor_click(seat, PointerButton::Right); },
       "seat seat0 cursor press button3; seat seat0 cursor release button3"},
      {"click left", [&](SwayClient& c) { return c.cursor_click(seat, PointerButton::Left); },
       "seat seat0 cursor press button1; seat seat0 cursor release button1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(sent_command(c.operation), c.text);
  }
}

TEST(CursorCommands, ScrollStepBecomesRoundedButtonPresses) {
  struct Case {
    ScrollDirection direction;
    double step;
    int button;
    int presses;
  };
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  const Case cases[] = {
      {ScrollDirection::Up, 45, 4, 3},
      {ScrollDirection::Up, 7, 4, 1},
      {ScrollDirection::Down, 22.5, 5, 2},  // 1.5 rounds away from zero
      {ScrollDirection::Down, 22.4, 5, 1},
      {ScrollDirection::Left, 0, 6, 1},
      {ScrollDirection::Right, -30, 7, 1},
      {ScrollDirection::Right, -inf, 7, 1},
      {ScrollDirection::Up, nan, 4, 1},
      {ScrollDirection::Down, 15 * 100, 5, 100},
      // Beyond 100 presses the step is clipped, not refused.
      {ScrollDirection::Down, 15 * 101, 5, 100},
      {ScrollDirection::Up, 1e300, 4, 100},
      {ScrollDirection::Up, inf, 4, 100},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "step " << c.step << " button " << c.button);
    const std::string clause = "seat seat0 cursor press button" + std::to_string(c.button);
    EXPECT_EQ(sent_command([&](SwayClient& client) {
                return client.cursor_scroll("seat0", c.direction, c.step);
              }),
              repeat_joined(clause, c.presses));
  }
}

TEST(CursorCommands, SeatNamesThatWouldChangeTheCommandAreRefusedUnsent) {
  const std::string names[] = {"",          "seat0; exec rm -rf ~", "two words", "a,b",
                               "\"quoted\"", "it's",                "back\\slash", "tab\there",
                               "new\nline"};
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    ScriptedSwayServer server({{accepted}, {accepted}});
    SwayClient client(server.path());
    const std::function<SwayStatus()> operations[] = {
        [&] { return client.cursor_set(name, 1, 2); },
        [&] { return client.pointer_to_focused_window(name); },
        [&] { return client.cursor_move(name, 1, 2); },
        [&] { return client.cursor_button(name, PointerButton::Left, false); },
        [&] { return client.cursor_click(name, PointerButton::Left); },
        [&] { return client.cursor_scroll(name, ScrollDirection::Up, 15); },
    };
    for (const auto& operation : operations) {
      auto status = operation();
      ASSERT_FALSE(status.has_value());
      EXPECT_EQ(status.error().kind, SwayError::Kind::InvalidSeat);
      EXPECT_THAT(status.error().message(), StartsWith("seat name \""));
      EXPECT_THAT(status.error().message(), HasSubstr("cannot be used in a Sway command"));
    }
    EXPECT_TRUE(server.finish().empty());
  }
  // Names Sway itself uses pass unchanged, including the wildcard seat.
  EXPECT_EQ(sent_command([](SwayClient& c) { return c.cursor_set("*", 0, 0); }),
            "seat * cursor set 0 0");
  EXPECT_EQ(sent_command([](SwayClient& c) { return c.cursor_set("seat-2_x.y", 0, 0); }),
            "seat seat-2_x.y cursor set 0 0");
}

TEST(RunCommand, FirstRefusalDecidesTheResult) {
  struct Case {
    const char* reply;
    const char* message;  // nullptr: success
  };
  const Case cases[] = {
      {R"([{"success":true}])", nullptr},
      {R"([])", nullptr},
      {R"( [ {"success":true} , {"success":true,"error":null} ] )", nullptr},
      {R"([{"success":false}])", "Sway rejected cursor command: unknown Sway error"},
      {R"([{"success":false,"error":null}])", "Sway rejected cursor command: unknown Sway error"},
      {R"([{"success":false,"error":"Unknown/invalid command 'x'"}])",
       "Sway rejected cursor command: Unknown/invalid command 'x'"},
      {R"([{"success":true},{"success":false,"error":"second"},{"success":false,"error":"third"}])",
       "Sway rejected cursor command: second"},
      {R"([{"success":false,"parse_error":true,"error":"Expected 'cursor'"}])",
       "Sway rejected cursor command: Expected 'cursor'"},
      {R"([[false,"as an array"]])", "Sway rejected cursor command: as an array"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reply);
    ScriptedSwayServer server({{testing::json_reply(c.reply)}});
    SwayClient client(server.path());
    auto status = client.run_command("seat seat0 cursor press button1");
    if (c.message == nullptr) {
      EXPECT_TRUE(status.has_value()) << status.error().message();
    } else {
      ASSERT_FALSE(status.has_value());
      EXPECT_EQ(status.error().kind, SwayError::Kind::Command);
      EXPECT_EQ(status.error().message(), c.message);
    }
  }
}

// Each operation's decoding failures read "invalid Sway IPC response: " and the decoder's text.
TEST(RepliesDecoding, MalformedRepliesNameTheProblem) {
  struct Case {
    const char* name;
    SwayMessage message;
    std::string reply;
    std::string fragment;
  };
  const std::string tiny_root =
      R"({"id":1,"type":"root","rect":{"x":0,"y":0,"width":10,"height":10}})";
  const std::string seats = R"([{"name":"seat0","focus":5}])";
  const Case cases[] = {
      {"workspace without output", SwayMessage::GetWorkspaces, R"([{"focused":true}])",
       "missing field `output`"},
      {"workspace without focused", SwayMessage::GetWorkspaces, R"([{"output":"DP-1"}])",
       "missing field `focused`"},
      {"duplicate key", SwayMessage::GetWorkspaces,
       R"([{"output":"DP-1","focused":true,"output":"DP-2"}])", "duplicate field `output`"},
      {"short array form", SwayMessage::GetWorkspaces, R"([["DP-1"]])", "invalid length 1"},
      {"wrong value type", SwayMessage::GetWorkspaces, R"([{"output":"DP-1","focused":"yes"}])",
       "invalid type: string \"yes\", expected a boolean at line 1 column"},
      {"not an array", SwayMessage::GetWorkspaces, R"({"output":"DP-1","focused":true})",
       "invalid type: map, expected a sequence"},
      {"trailing characters", SwayMessage::GetWorkspaces, R"([] x)", "trailing characters"},
      {"cut short", SwayMessage::GetWorkspaces, R"([{"output":"DP-1",)", "EOF while parsing"},
      {"empty", SwayMessage::GetWorkspaces, "", "EOF while parsing"},
      {"command without success", SwayMessage::RunCommand, R"([{"error":"x"}])",
       "missing field `success`"},
      {"command error not a string", SwayMessage::RunCommand, R"([{"success":false,"error":3}])",
       "invalid type: integer `3`, expected a string"},
      {"seat without focus", SwayMessage::GetSeats, R"([{"name":"seat0"}])",
       "missing field `focus`"},
      {"seat focus not an integer", SwayMessage::GetSeats, R"([{"name":"seat0","focus":1.5}])",
       "invalid type: floating point `1.5`, expected i64"},
      {"node without rect", SwayMessage::GetTree, R"({"id":1,"type":"root"})",
       "missing field `rect`"},
      {"rect without height", SwayMessage::GetTree,
       R"({"id":1,"type":"root","rect":{"x":0,"y":0,"width":10}})", "missing field `height`"},
      {"negative width", SwayMessage::GetTree,
       R"({"id":1,"type":"root","rect":{"x":0,"y":0,"width":-1,"height":10}})",
       "invalid value: integer `-1`, expected u32"},
      {"x beyond 32 bits", SwayMessage::GetTree,
       R"({"id":1,"type":"root","rect":{"x":2147483648,"y":0,"width":1,"height":1}})",
       "invalid value: integer `2147483648`, expected i32"},
      {"child without id", SwayMessage::GetTree,
       tiny_root.substr(0, tiny_root.size() - 1) + R"(,"nodes":[{"type":"con"}]})",
       "missing field `id`"},
      {"floating child without type", SwayMessage::GetTree,
       tiny_root.substr(0, tiny_root.size() - 1) + R"(,"floating_nodes":[{"id":2}]})",
       "missing field `type`"},
      {"visible not a boolean", SwayMessage::GetTree,
       tiny_root.substr(0, tiny_root.size() - 1) + R"(,"visible":1})",
       "invalid type: integer `1`, expected a boolean"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<ScriptedReply> script;
    if (c.message == SwayMessage::GetTree) script.push_back({testing::json_reply(seats)});
    script.push_back({testing::json_reply(c.reply)});
    ScriptedSwayServer server(std::move(script));
    SwayClient client(server.path());

    SwayError error;
    switch (c.message) {
      case SwayMessage::GetWorkspaces: {
        auto result = client.focused_output();
        ASSERT_FALSE(result.has_value());
        error = result.error();
        break;
      }
      case SwayMessage::RunCommand: {
        auto result = client.cursor_set("seat0", 0, 0);
        ASSERT_FALSE(result.has_value());
        error = result.error();
        break;
      }
      case SwayMessage::GetSeats:
      case SwayMessage::GetTree: {
        auto result = client.pointer_to_focused_window("seat0");
        ASSERT_FALSE(result.has_value());
        error = result.error();
        break;
      }
    }
    EXPECT_EQ(error.kind, SwayError::Kind::Json);
    EXPECT_THAT(error.message(), StartsWith("invalid Sway IPC response: "));
    EXPECT_THAT(error.message(), HasSubstr(c.fragment));
  }
}

TEST(RepliesDecoding, OverlyDeepTreeIsRefused) {
  std::string tree;
  const int depth = 300;
  for (int i = 0; i < depth; ++i) {
    tree += R"({"id":)" + std::to_string(i + 1) +
            R"(,"type":"con","rect":{"x":0,"y":0,"width":9,"height":9},"nodes":[)";
  }
  tree += "]";
  for (int i = 1; i < depth; ++i) tree += "}]";
  tree += "}";
  ScriptedSwayServer server(
      {{testing::json_reply(R"([{"name":"seat0","focus":3}])")}, {testing::json_reply(tree)}});
  SwayClient client(server.path());
  auto status = client.pointer_to_focused_window("seat0");
  ASSERT_FALSE(status.has_value());
  EXPECT_EQ(status.error().kind, SwayError::Kind::Json);
}

TEST(FocusedOutput, FirstFocusedWorkspaceInReplyOrderWins) {
  struct Case {
    const char* reply;
    const char* output;  // nullptr: no focused workspace
  };
  const Case cases[] = {
      {R"([{"output":"DP-1","focused":false},{"output":"HDMI-A-1","focused":true}])", "HDMI-A-1"},
      {R"([{"output":"DP-2","focused":true},{"output":"DP-1","focused":true}])", "DP-2"},
      // Extra keys, as Sway sends them, are skipped whatever their values hold.
      {R"([{"id":4,"name":"1","rect":{"x":0},"nodes":[[],{}],"output":"eDP-1","focused":true}])",
       "eDP-1"},
      {R"([["DP-3",false],["DP-4",true]])", "DP-4"},
      {R"([{"output":"DP-1","focused":false}])", nullptr},
      {R"([])", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reply);
    ScriptedSwayServer server({{testing::json_reply(c.reply, 1)}});
    SwayClient client(server.path());
    auto output = client.focused_output();
    if (c.output != nullptr) {
      ASSERT_TRUE(output.has_value()) << output.error().message();
      EXPECT_EQ(*output, std::optional<std::string>(c.output));
    } else {
      ASSERT_FALSE(output.has_value());
      EXPECT_EQ(output.error().kind, SwayError::Kind::NoFocusedWorkspace);
      EXPECT_EQ(output.error().message(), "Sway reported no focused workspace");
    }
    const auto received = server.finish();
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].type, 1u);
    EXPECT_EQ(received[0].payload, "");
  }
}

TEST(FocusedOutput, ResolvedOutputIsLoggedAtDebugLevel) {
  // The only test in this program that installs the process's logger.
  char path[] = "/tmp/tarvik-sway-log.XXXXXX";
  const int fd = ::mkstemp(path);
  ASSERT_GE(fd, 0);
  ASSERT_TRUE(init_logging(LogLevel::Debug, fd).has_value());
  {
    ScriptedSwayServer server(
        {{testing::json_reply(R"([{"output":"DP-1","focused":false},{"output":"DP-2","focused":true}])")}});
    SwayClient client(server.path());
    ASSERT_TRUE(client.focused_output().has_value());
  }
  std::ifstream file(path);
  std::stringstream text;
  text << file.rdbuf();
  ::unlink(path);
  EXPECT_THAT(text.str(), HasSubstr(R"("level":"DBG","target":"tarvik::sway",)"
                                    R"("message":"resolved focused output output=DP-2"})"));
}

// A tree with the root at (-100, 50), one output, one workspace, and the node under test among
// the workspace's tiled or floating children next to an unrelated window.
std::string tree_with(const std::string& node, bool floating) {
  const std::string neighbour =
      R"({"id":30,"type":"con","app_id":"other","rect":{"x":-100,"y":50,"width":10,"height":10},)"
      R"("window_rect":{"x":0,"y":0,"width":10,"height":10}})";
  const std::string children = neighbour + "," + node;
  return R"({"id":1,"type":"root","rect":{"x":-100,"y":50,"width":2000,"height":1000},"nodes":[)"
         R"({"id":2,"type":"output","name":"DP-1","rect":{"x":-100,"y":50,"width":2000,"height":1000},"nodes":[)"
         R"({"id":3,"type":"workspace","rect":{"x":-100,"y":50,"width":2000,"height":1000},)" +
         std::string(floating ? R"("nodes":[],"floating_nodes":[)" : R"("floating_nodes":[],"nodes":[)") +
         children + "]}]}]}";
}

TEST(PointerToFocusedWindow, MovesToTheCentreOfAUsableWindow) {
  struct Case {
    const char* name;
    std::string node;
    bool floating;
    std::string command;
  };
  // rect (200, 150) and window_rect (2, 30, 501 x 301) inside it: centre at
  // 200 + 2 + 250 - (-100) = 552 and 150 + 30 + 150 - 50 = 280.
  const std::string geometry =
      R"("rect":{"x":200,"y":150,"width":505,"height":333},"window_rect":{"x":2,"y":30,"width":501,"height":301})";
  const Case cases[] = {
      {"native window", R"({"id":42,"type":"con","app_id":"term","shell":"xdg_shell",)" + geometry + "}",
       false, "seat seat0 cursor set 552 280"},
      {"visible null and only an X11 window",
       R"({"id":42,"type":"con","visible":null,"app_id":null,"window":8388610,)" + geometry + "}",
       false, "seat seat0 cursor set 552 280"},
      {"shell alone, visible true",
       R"({"id":42,"type":"con","visible":true,"shell":"xdg_shell",)" + geometry + "}", false,
       "seat seat0 cursor set 552 280"},
      {"tiled con held among floating nodes",
       R"({"id":42,"type":"con","app_id":"x",)" + geometry + "}", true,
       "seat seat0 cursor set 552 280"},
      {"array form", R"([42,"con",{"x":200,"y":150,"width":505,"height":333},)"
                     R"([2,30,501,301],true,"xdg_shell","term",null,[],[]])",
       false, "seat seat0 cursor set 552 280"},
      {"one pixel at the root's origin",
       R"({"id":42,"type":"con","app_id":"x","rect":{"x":-100,"y":50,"width":1,"height":1},)"
       R"("window_rect":{"x":0,"y":0,"width":1,"height":1}})",
       false, "seat seat0 cursor set 0 0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedSwayServer server(
        {{testing::json_reply(R"([{"name":"seat1","focus":30},{"name":"seat0","focus":42}])", 101)},
         {testing::json_reply(tree_with(c.node, c.floating), 4)},
         {accepted}});
    SwayClient client(server.path());
    auto status = client.pointer_to_focused_window("seat0");
    EXPECT_TRUE(status.has_value()) << status.error().message();
    const auto received = server.finish();
    ASSERT_EQ(received.size(), 3u);
    EXPECT_EQ(received[0].type, 101u);
    EXPECT_EQ(received[1].type, 4u);
    EXPECT_EQ(received[2].type, 0u);
    EXPECT_EQ(received[2].payload, c.command);
  }
}

TEST(PointerToFocusedWindow, UnusableFocusIsRefusedWithoutMovingThePointer) {
  struct Case {
    const char* name;
    std::string seats;
    std::string node;  // empty: the seat reply alone decides
  };
  const std::string rects =
      R"("rect":{"x":0,"y":0,"width":100,"height":100},"window_rect":{"x":0,"y":0,"width":100,"height":100})";
  const std::string focus42 = R"([{"name":"seat0","focus":42}])";
  const Case cases[] = {
      {"seat focus 0", R"([{"name":"seat0","focus":0}])", ""},
      {"seat not listed", R"([{"name":"seat1","focus":42}])", ""},
      {"no seats", "[]", ""},
      {"floating window", focus42, R"({"id":42,"type":"floating_con","app_id":"x",)" + rects + "}"},
      {"focus on a workspace", R"([{"name":"seat0","focus":3}])", ""},
      {"invisible window", focus42, R"({"id":42,"type":"con","visible":false,"app_id":"x",)" + rects + "}"},
      {"no window identity", focus42,
       R"({"id":42,"type":"con","app_id":null,"shell":null,"window":null,)" + rects + "}"},
      {"window_rect absent", focus42,
       R"({"id":42,"type":"con","app_id":"x","rect":{"x":0,"y":0,"width":100,"height":100}})"},
      {"window_rect without width", focus42,
       R"({"id":42,"type":"con","app_id":"x","rect":{"x":0,"y":0,"width":100,"height":100},)"
       R"("window_rect":{"x":0,"y":0,"width":0,"height":100}})"},
      {"window_rect without height", focus42,
       R"({"id":42,"type":"con","app_id":"x","rect":{"x":0,"y":0,"width":100,"height":100},)"
       R"("window_rect":{"x":0,"y":0,"width":100,"height":0}})"},
      {"type differs in case", focus42, R"({"id":42,"type":"Con","app_id":"x",)" + rects + "}"},
      {"focused id not in the tree", R"([{"name":"seat0","focus":99}])", ""},
      {"centre left of the root", focus42,
       R"({"id":42,"type":"con","app_id":"x","rect":{"x":-300,"y":100,"width":100,"height":100},)"
       R"("window_rect":{"x":0,"y":0,"width":100,"height":100}})"},
      {"centre at the root's right edge", focus42,
       R"({"id":42,"type":"con","app_id":"x","rect":{"x":1899,"y":100,"width":2,"height":2},)"
       R"("window_rect":{"x":0,"y":0,"width":2,"height":2}})"},
      {"centre below the root", focus42,
       R"({"id":42,"type":"con","app_id":"x","rect":{"x":0,"y":2000,"width":100,"height":100},)"
       R"("window_rect":{"x":0,"y":0,"width":100,"height":100}})"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string node = c.node.empty() ? R"({"id":50,"type":"con","app_id":"x",)" + rects + "}"
                                            : c.node;
    ScriptedSwayServer server({{testing::json_reply(c.seats, 101)},
                               {testing::json_reply(tree_with(node, false), 4)},
                               {accepted}});
    SwayClient client(server.path());
    auto status = client.pointer_to_focused_window("seat0");
    ASSERT_FALSE(status.has_value());
    EXPECT_EQ(status.error().kind, SwayError::Kind::NoFocusedWindow);
    EXPECT_EQ(status.error().message(), "Sway reported no usable focused window for seat seat0");
    const auto received = server.finish();
    ASSERT_FALSE(received.empty());
    for (const auto& request : received) EXPECT_NE(request.type, 0u) << "a cursor command was sent";
  }
}

TEST(PointerToFocusedWindow, FailuresOfTheLaterStepsPassThrough) {
  const std::string seats = testing::json_reply(R"([{"name":"seat0","focus":42}])", 101);
  const std::string tree = testing::json_reply(
      tree_with(R"({"id":42,"type":"con","app_id":"x","rect":{"x":-100,"y":50,"width":10,"height":10},)"
                R"("window_rect":{"x":0,"y":0,"width":10,"height":10}})",
                false),
      4);
  {
    SCOPED_TRACE("tree reply with a bad header");
    ScriptedSwayServer server({{seats}, {testing::header(4, 2, "i3-ipx") + "{}"}});
    SwayClient client(server.path());
    auto status = client.pointer_to_focused_window("seat0");
    ASSERT_FALSE(status.has_value());
    EXPECT_EQ(status.error().kind, SwayError::Kind::InvalidHeader);
  }
  {
    SCOPED_TRACE("cursor command refused");
    ScriptedSwayServer server(
        {{seats}, {tree}, {testing::json_reply(R"([{"success":false,"error":"no seat"}])")}});
    SwayClient client(server.path());
    auto status = client.pointer_to_focused_window("seat0");
    ASSERT_FALSE(status.has_value());
    EXPECT_EQ(status.error().message(), "Sway rejected cursor command: no seat");
    const auto received = server.finish();
    ASSERT_EQ(received.size(), 3u);
    EXPECT_EQ(received[2].payload, "seat seat0 cursor set 5 5");
  }
}

// Sway moves by the whole part of each amount, truncated toward zero; the carry hands the rest
// to the next command. Each case is a run of motions with the amounts to send for each and the
// distance Sway has moved in total at the end.
TEST(CursorMoveCarry, FractionsAddUpToWholePixels) {
  struct Case {
    const char* name;
    std::vector<CursorMoveCarry::Amounts> motions;
    std::vector<CursorMoveCarry::Amounts> sent;
    CursorMoveCarry::Amounts moved;
  };
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const Case cases[] = {
      {"halves", {{0.5, 0.5}, {0.5, 0.5}, {0.5, 0.5}}, {{0.5, 0.5}, {1.0, 1.0}, {0.5, 0.5}},
       {1, 1}},
      {"negative halves", {{-0.5, 0}, {-0.5, 0}}, {{-0.5, 0}, {-1.0, 0}}, {-1, 0}},
      {"whole amounts carry nothing", {{3, -2}, {1, 1}}, {{3, -2}, {1, 1}}, {4, -1}},
      {"mixed signs", {{1.25, -0.75}, {-0.5, -0.75}}, {{1.25, -0.75}, {-0.25, -1.5}}, {1, -1}},
      // The command text rounds to three decimals: 0.9996 goes out as 1.000 and moves one
      // pixel, so what is carried is the 0.0004 it overshot.
      {"rounded up by the text", {{0.9996, 0}, {0.0002, 0}}, {{0.9996, 0}, {-0.0002, 0}},
       {1, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CursorMoveCarry carry;
    CursorMoveCarry::Amounts moved;
    ASSERT_EQ(c.motions.size(), c.sent.size());
    for (std::size_t i = 0; i < c.motions.size(); ++i) {
      const auto amounts = carry.amounts(c.motions[i].dx, c.motions[i].dy);
      EXPECT_NEAR(amounts.dx, c.sent[i].dx, 1e-9) << "motion " << i;
      EXPECT_NEAR(amounts.dy, c.sent[i].dy, 1e-9) << "motion " << i;
      carry.sent(amounts);
      moved.dx += std::trunc(std::round(amounts.dx * 1000) / 1000);
      moved.dy += std::trunc(std::round(amounts.dy * 1000) / 1000);
    }
    EXPECT_EQ(moved, c.moved);
  }

  // A motion that is not a number passes through and neither takes nor loses the carry.
  CursorMoveCarry carry;
  carry.sent(carry.amounts(0.5, 0.25));
  const auto odd = carry.amounts(nan, 1);
  EXPECT_TRUE(std::isnan(odd.dx));
  EXPECT_DOUBLE_EQ(odd.dy, 1.25);
  carry.sent(odd);
  EXPECT_DOUBLE_EQ(carry.carried().dx, 0.5);
  EXPECT_DOUBLE_EQ(carry.carried().dy, 0.25);
  // A motion that is never sent (the command failed) changes nothing.
  (void)carry.amounts(0.5, 0.5);
  EXPECT_DOUBLE_EQ(carry.carried().dx, 0.5);
}

}  // namespace
}  // namespace tarvik
