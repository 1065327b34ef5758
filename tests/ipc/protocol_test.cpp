#include "ipc/protocol.h"

#include <limits>

#include <gtest/gtest.h>

#include "ipc/request_handler.h"
#include "ipc_support.h"

namespace tarvik {
namespace {

using testing::LogCapture;
using testing::RecordingHandler;

GridOptions grid(std::optional<OutputScope> scope, std::optional<std::string> output,
                 GridAction action, std::optional<bool> auto_descend,
                 std::optional<std::uint8_t> max_depth) {
  return GridOptions{scope, std::move(output), action, auto_descend, max_depth};
}

std::string request_text(const Command& command) {
  auto text = encode_request(Request{1, command});
  EXPECT_TRUE(text.has_value()) << text.error().message();
  return text.value_or("");
}

TEST(ProtocolEncode, RequestTextsAreCompactWithKeysInOrder) {
  struct Case {
    Command command;
    std::string text;
  };
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  const std::vector<Case> cases = {
      {command::Reload{}, R"({"version":1,"command":"Reload"})"},
      {command::Cancel{}, R"({"version":1,"command":"Cancel"})"},
      {command::Mouse{}, R"({"version":1,"command":"Mouse"})"},
      {command::Grid{grid(std::nullopt, "DP-1", GridAction::Choose, true, std::nullopt)},
       R"({"version":1,"command":{"Grid":{"scope":null,"output":"DP-1","action":"choose","auto_descend":true,"max_depth":null}}})"},
      {command::Grid{grid(OutputScope::All, std::nullopt, GridAction::DoubleClick, false, 255)},
       R"({"version":1,"command":{"Grid":{"scope":"all","output":null,"action":"double-click","auto_descend":false,"max_depth":255}}})"},
      {command::Click{PointerButton::Left}, R"({"version":1,"command":{"Click":"left"}})"},
      {command::Scroll{ScrollDirection::Down, std::nullopt},
       R"({"version":1,"command":{"Scroll":{"direction":"down","step":null}}})"},
      {command::Scroll{ScrollDirection::Up, 3.0},
       R"({"version":1,"command":{"Scroll":{"direction":"up","step":3.0}}})"},
      {command::Scroll{ScrollDirection::Left, 0.5},
       R"({"version":1,"command":{"Scroll":{"direction":"left","step":0.5}}})"},
      // A step that is not finite has no JSON number and travels as absent.
      {command::Scroll{ScrollDirection::Right, nan},
       R"({"version":1,"command":{"Scroll":{"direction":"right","step":null}}})"},
      {command::Scroll{ScrollDirection::Right, -inf},
       R"({"version":1,"command":{"Scroll":{"direction":"right","step":null}}})"},
      {command::Daemon{DaemonOptions{"/etc/t \"x\".toml", std::nullopt}},
       R"({"version":1,"command":{"Daemon":{"config":"/etc/t \"x\".toml","seat":null}}})"},
  };
  for (const auto& c : cases) EXPECT_EQ(request_text(c.command), c.text);
}

TEST(ProtocolEncode, CommandJsonIsTheLogForm) {
  EXPECT_EQ(command_json(command::Reload{}), R"("Reload")");
  EXPECT_EQ(command_json(command::Click{PointerButton::Middle}), R"({"Click":"middle"})");
}

TEST(ProtocolEncode, TextThatIsNotUtf8CannotTravel) {
  auto bad_path = encode_request(Request{1, command::Daemon{DaemonOptions{"/tmp/\xff.toml", {}}}});
  ASSERT_FALSE(bad_path.has_value());
  EXPECT_EQ(bad_path.error().message(), "path contains invalid UTF-8 characters");
  auto bad_output = encode_request(
      Request{1, command::Grid{grid(std::nullopt, "\xc3", GridAction::Move, {}, {})}});
  ASSERT_FALSE(bad_output.has_value());
  EXPECT_EQ(bad_output.error().message(), "text contains invalid UTF-8 characters");
  // The log line still shows the command.
  EXPECT_EQ(command_json(command::Daemon{DaemonOptions{"/tmp/\xff", {}}}),
            "{\"Daemon\":{\"config\":\"/tmp/\xef\xbf\xbd\",\"seat\":null}}");
}

TEST(ProtocolEncode, ResponseText) {
  EXPECT_EQ(encode_response(Response{true, "grid active"}), R"({"ok":true,"message":"grid active"})");
  EXPECT_EQ(encode_response(Response{false, "a \"b\"\n\x01"}),
            R"({"ok":false,"message":"a \"b\"\n\u0001"})");
}

// Every word of every enumeration survives the wire in both directions.
TEST(ProtocolRoundTrip, EveryCommandShapeDecodesToItself) {
  std::vector<Command> commands = {
      command::Reload{}, command::Cancel{}, command::Mouse{},
      command::Daemon{DaemonOptions{"/c.toml", "seat1"}}, command::Daemon{DaemonOptions{}},
      command::Grid{grid(std::nullopt, "", GridAction::Choose, std::nullopt, 0)},
      command::Scroll{ScrollDirection::Up, 1e-300}, command::Scroll{ScrollDirection::Up, -12.25}};
  for (int a = 0; a <= static_cast<int>(GridAction::ScrollRight); ++a) {
    commands.emplace_back(std::in_place_type<command::Grid>,
                          grid(OutputScope::Focused, std::nullopt, static_cast<GridAction>(a),
                               a % 2 == 0, static_cast<std::uint8_t>(a)));
  }
  commands.emplace_back(std::in_place_type<command::Grid>,
                        grid(OutputScope::All, std::nullopt, GridAction::Move, {}, {}));
  for (int b = 0; b <= static_cast<int>(PointerButton::Right); ++b) {
    commands.emplace_back(std::in_place_type<command::Click>, static_cast<PointerButton>(b));
  }
  for (int d = 0; d <= static_cast<int>(ScrollDirection::Right); ++d) {
    commands.emplace_back(std::in_place_type<command::Scroll>, static_cast<ScrollDirection>(d),
                          std::nullopt);
  }
  for (const auto& command : commands) {
    const std::string text = request_text(command);
    auto decoded = decode_request(text);
    ASSERT_TRUE(decoded.has_value()) << text << ": " << decoded.error().message();
    EXPECT_EQ(decoded->command, command) << text;
    EXPECT_EQ(decoded->version, 1);
  }
}

TEST(ProtocolDecode, AcceptsEveryPermittedForm) {
  struct Case {
    std::string text;
    Request expected;
  };
  const std::vector<Case> cases = {
      {"[1,\"Cancel\"]", {1, command::Cancel{}}},
      {R"({"version":1,"client":"other","command":"Reload"})", {1, command::Reload{}}},
      {R"({"command":"Mouse","extra":{"a":[1,2,{"b":null}]},"version":1})", {1, command::Mouse{}}},
      {" \t{\"version\":1,\"command\":{\"Click\":\"right\"}}\r\n",
       {1, command::Click{PointerButton::Right}}},
      {R"({"version":1,"command":{"Grid":{"action":"left"}}})",
       {1, command::Grid{grid({}, {}, GridAction::Left, {}, {})}}},
      {R"({"version":1,"command":{"Grid":[null,"DP-2","move",false,3]}})",
       {1, command::Grid{grid({}, "DP-2", GridAction::Move, false, 3)}}},
      {R"({"version":1,"command":{"Grid":{"max_depth":null,"action":"scroll-up","scope":"focused"}}})",
       {1, command::Grid{grid(OutputScope::Focused, {}, GridAction::ScrollUp, {}, {})}}},
      {R"({"version":1,"command":{"Scroll":{"step":2,"direction":"down"}}})",
       {1, command::Scroll{ScrollDirection::Down, 2.0}}},
      {R"({"version":1,"command":{"Scroll":["left",null]}})",
       {1, command::Scroll{ScrollDirection::Left, std::nullopt}}},
      {R"({"version":1,"command":{"Daemon":{"seat":"s"}}})",
       {1, command::Daemon{DaemonOptions{std::nullopt, "s"}}}},
      {R"({"version":1,"command":{"Reload":null}})", {1, command::Reload{}}},
      // Other versions decode; refusing them is the request handling's business.
      {R"({"version":65535,"command":"Reload"})", {65535, command::Reload{}}},
  };
  for (const auto& c : cases) {
    auto decoded = decode_request(c.text);
    ASSERT_TRUE(decoded.has_value()) << c.text << ": " << decoded.error().message();
    EXPECT_EQ(*decoded, c.expected) << c.text;
  }
}

TEST(ProtocolDecode, RequestErrorsHaveTheirFormsAndPositions) {
  struct Case {
    std::string text;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"", "EOF while parsing a value at line 1 column 0"},
      {R"({"version":1})", "missing field `command` at line 1 column 13"},
      {R"({"command":"Reload"})", "missing field `version` at line 1 column 20"},
      {R"({"version":1,"version":1,"command":"Reload"})",
       "duplicate field `version` at line 1 column 22"},
      {R"({"version":1,"command":"Bogus"})",
       "unknown variant `Bogus`, expected one of `Daemon`, `Reload`, `Cancel`, `Grid`, `Mouse`, "
       "`Click`, `Scroll` at line 1 column 30"},
      {R"({"version":1,"command":{"Grid":{"scope":"some","action":"move"}}})",
       "unknown variant `some`, expected `focused` or `all` at line 1 column 46"},
      {R"({"version":1,"command":{"Grid":{"action":"pick"}}})",
       "unknown variant `pick`, expected one of `choose`, `move`, `mouse`, `left`, `middle`, "
       "`right`, `double-click`, `scroll`, `scroll-up`, `scroll-down`, `scroll-left`, "
       "`scroll-right` at line 1 column 47"},
      {R"({"version":1,"command":{"Click":"top"}})",
       "unknown variant `top`, expected one of `left`, `middle`, `right` at line 1 column 37"},
      {R"({"version":1,"command":{"Scroll":{"direction":"sideways"}}})",
       "unknown variant `sideways`, expected one of `up`, `down`, `left`, `right` at line 1 "
       "column 56"},
      {"[1]", "invalid length 1, expected struct Request with 2 elements at line 1 column 3"},
      {R"({"version":1,"command":{"Scroll":["up"]}})",
       "invalid length 1, expected struct variant Command::Scroll with 2 elements at line 1 "
       "column 39"},
      {R"({"version":1,"command":{"Daemon":[null]}})",
       "invalid length 1, expected struct DaemonOptions with 2 elements at line 1 column 39"},
      {R"({"version":1,"command":{"Grid":["all"]}})",
       "invalid length 1, expected struct GridOptions with 5 elements at line 1 column 38"},
      {R"({"version":1,"command":{"Grid":{}}})", "missing field `action` at line 1 column 33"},
      // The command line refuses a scope together with an output; so does the daemon.
      {R"({"version":1,"command":{"Grid":{"scope":"all","output":"DP-1","action":"move"}}})",
       "`scope` and `output` are mutually exclusive at line 1 column 78"},
      {R"({"version":1,"command":{"Grid":["focused","DP-1","move",null,null]}})",
       "`scope` and `output` are mutually exclusive at line 1 column 66"},
      {R"({"version":1,"command":{"Scroll":{"step":1}}})",
       "missing field `direction` at line 1 column 43"},
      {R"({"version":70000,"command":"Reload"})",
       "invalid value: integer `70000`, expected u16 at line 1 column 16"},
      {R"({"version":-1,"command":"Reload"})",
       "invalid value: integer `-1`, expected u16 at line 1 column 13"},
      {R"({"version":"1","command":"Reload"})",
       "invalid type: string \"1\", expected u16 at line 1 column 14"},
      {R"({"version":1,"command":{"Grid":{"max_depth":256,"action":"move"}}})",
       "invalid value: integer `256`, expected u8 at line 1 column 47"},
      {R"({"version":1,"command":{"Grid":{"action":"move","auto_descend":1}}})",
       "invalid type: integer `1`, expected a boolean at line 1 column 64"},
      {R"({"version":1,"command":{"Scroll":{"direction":"up","step":"3"}}})",
       "invalid type: string \"3\", expected f64 at line 1 column 61"},
      {R"({"version":1,"command":"Grid"})",
       "invalid type: unit variant, expected newtype variant at line 1 column 29"},
      {R"({"version":1,"command":{"Mouse":1}})",
       "invalid type: integer `1`, expected unit at line 1 column 33"},
      {R"({"version":1,"command":"Reload"} x)", "trailing characters at line 1 column 34"},
      // The whole request is decoded before the version is looked at.
      {R"({"version":2,"command":"Nope"})",
       "unknown variant `Nope`, expected one of `Daemon`, `Reload`, `Cancel`, `Grid`, `Mouse`, "
       "`Click`, `Scroll` at line 1 column 29"},
  };
  for (const auto& c : cases) {
    auto decoded = decode_request(c.text);
    ASSERT_FALSE(decoded.has_value()) << c.text;
    EXPECT_EQ(decoded.error().message(), c.message) << c.text;
  }
}

TEST(ProtocolDecode, ResponseForms) {
  EXPECT_EQ(decode_response(R"({"message":"m","ok":false})"), (Response{false, "m"}));
  EXPECT_EQ(decode_response(R"([true,"x"])"), (Response{true, "x"}));
  auto missing = decode_response(R"({"ok":true})");
  ASSERT_FALSE(missing.has_value());
  EXPECT_EQ(missing.error().message(), "missing field `message` at line 1 column 11");
  auto short_array = decode_response("[true]");
  ASSERT_FALSE(short_array.has_value());
  EXPECT_EQ(short_array.error().message(),
            "invalid length 1, expected struct Response with 2 elements at line 1 column 6");
}

TEST(HandleRequest, AnswersEachOutcome) {
  struct Case {
    std::string name;
    std::string text;
    std::expected<std::string, std::string> reply;
    Response expected;
    std::size_t commands_seen;
    int cancels;
  };
  const std::vector<Case> cases = {
      {"success", "{\"version\":1,\"command\":\"Reload\"}\n", "configuration reloaded",
       {true, "configuration reloaded"}, 1, 0},
      {"controller failure cancels the mode first", R"({"version":1,"command":{"Daemon":{"config":null,"seat":null}}})",
       std::unexpected(std::string("daemon requests cannot be nested")),
       {false, "daemon requests cannot be nested"}, 1, 1},
      {"decoding failure", R"({"version":1})", "unused",
       {false, "invalid daemon message: missing field `command` at line 1 column 13"}, 0, 0},
      {"other version", R"({"version":2,"command":"Reload"})", "unused",
       {false, "daemon rejected request: protocol version 2 is unsupported; expected 1"}, 0, 0},
      {"empty request", "", "unused",
       {false, "invalid daemon message: EOF while parsing a value at line 1 column 0"}, 0, 0},
  };
  for (const auto& c : cases) {
    RecordingHandler handler;
    handler.reply = c.reply;
    EXPECT_EQ(handle_request(c.text, handler), c.expected) << c.name;
    EXPECT_EQ(handler.commands.size(), c.commands_seen) << c.name;
    EXPECT_EQ(handler.cancels, c.cancels) << c.name;
  }
}

TEST(HandleRequest, PassesTheDecodedCommandAndLogsIt) {
  auto& log = LogCapture::instance();
  log.take();
  RecordingHandler handler;
  const Response response = handle_request(
      R"({"version":1,"command":{"Grid":{"output":"HDMI-A-1","action":"right"}}})", handler);
  EXPECT_TRUE(response.ok);
  ASSERT_EQ(handler.commands.size(), 1u);
  EXPECT_EQ(handler.commands[0],
            Command(command::Grid{grid({}, "HDMI-A-1", GridAction::Right, {}, {})}));
  EXPECT_EQ(log.messages("tarvik::wayland"),
            std::vector<std::string>{
                R"(received IPC command={"Grid":{"scope":null,"output":"HDMI-A-1","action":"right","auto_descend":null,"max_depth":null}})"});

  handle_request(R"({"version":1,"command":"Reload"})", handler);
  EXPECT_EQ(log.messages("tarvik::wayland"),
            std::vector<std::string>{R"(received IPC command="Reload")"});
}

}  // namespace
}  // namespace tarvik
