#include "cli/parser.h"

#include <cmath>
#include <filesystem>
#include <vector>

#include <gtest/gtest.h>

#include "cli/texts.h"

namespace tarvik {
namespace {

using Args = std::vector<std::string>;

std::expected<ParsedCommandLine, CliError> parse(const Args& args) {
  return parse_command_line(args, "tarvik");
}

GlobalOptions globals(std::string level = "info", std::optional<std::string> file = std::nullopt) {
  return GlobalOptions{std::move(level), std::move(file)};
}

command::Grid grid(GridOptions options) { return command::Grid{std::move(options)}; }

struct Accepted {
  Args args;
  ParsedCommandLine expected;
};

TEST(Parser, AcceptsEveryCommandForm) {
  const Accepted cases[] = {
      {{"reload"}, {command::Reload{}, globals()}},
      {{"cancel"}, {command::Cancel{}, globals()}},
      {{"mouse"}, {command::Mouse{}, globals()}},
      {{"daemon"}, {command::Daemon{}, globals()}},
      {{"daemon", "--seat", "seat1", "--config", "/c.toml", "--seat", "seat0"},
       {command::Daemon{{"/c.toml", "seat0"}}, globals()}},
      {{"click", "left"}, {command::Click{PointerButton::Left}, globals()}},
      {{"click", "middle"}, {command::Click{PointerButton::Middle}, globals()}},
      {{"click", "right"}, {command::Click{PointerButton::Right}, globals()}},
      {{"scroll", "down"}, {command::Scroll{ScrollDirection::Down, std::nullopt}, globals()}},
      {{"scroll", "left", "--step", "2.5", "--step", "-3e1"},
       {command::Scroll{ScrollDirection::Left, -30.0}, globals()}},
      {{"grid"}, {grid({}), globals()}},
      {{"grid", "--scope", "focused", "--scope", "all", "--action", "double-click",
        "--auto-descend", "--no-auto-descend", "--max-depth", "+7"},
       {grid({OutputScope::All, std::nullopt, GridAction::DoubleClick, false, 7}), globals()}},
      {{"grid", "--output", "", "--action", "scroll-right", "--max-depth", "007",
        "--auto-descend"},
       {grid({std::nullopt, "", GridAction::ScrollRight, true, 7}), globals()}},
      // An option value is taken whatever it looks like.
      {{"grid", "--output", "--scope"},
       {grid({std::nullopt, "--scope", GridAction::Choose, std::nullopt, std::nullopt}),
        globals()}},
      {{"grid", "--max-depth", "0"},
       {grid({std::nullopt, std::nullopt, GridAction::Choose, std::nullopt, 0}), globals()}},
      {{"grid", "--max-depth", "255"},
       {grid({std::nullopt, std::nullopt, GridAction::Choose, std::nullopt, 255}), globals()}},
  };
  for (const auto& c : cases) {
    const auto result = parse(c.args);
    ASSERT_TRUE(result) << ::testing::PrintToString(c.args) << ": " << result.error().message();
    EXPECT_EQ(*result, c.expected) << ::testing::PrintToString(c.args);
  }
}

TEST(Parser, AcceptsEveryGridActionWord) {
  const std::pair<const char*, GridAction> words[] = {
      {"choose", GridAction::Choose},          {"move", GridAction::Move},
      {"mouse", GridAction::Mouse},            {"left", GridAction::Left},
      {"middle", GridAction::Middle},          {"right", GridAction::Right},
      {"double-click", GridAction::DoubleClick}, {"scroll", GridAction::Scroll},
      {"scroll-up", GridAction::ScrollUp},     {"scroll-down", GridAction::ScrollDown},
      {"scroll-left", GridAction::ScrollLeft}, {"scroll-right", GridAction::ScrollRight},
  };
  for (const auto& [word, action] : words) {
    const auto result = parse({"grid", "--action", word});
    ASSERT_TRUE(result) << word;
    EXPECT_EQ(std::get<command::Grid>(result->command).options.action, action) << word;
  }
}

TEST(Parser, GlobalOptionsAreTakenFromAnywhereAndLaterWins) {
  struct Case {
    Args args;
    GlobalOptions expected;
  };
  const Case cases[] = {
      {{"--log-level=trace", "grid"}, globals("trace")},
      {{"grid", "--log-level", "trace"}, globals("trace")},
      {{"--log-level", "warn", "cancel", "--log-level=debug"}, globals("debug")},
      {{"cancel", "--log-file", "/tmp/a", "--log-file=/tmp/b"}, globals("info", "/tmp/b")},
      {{"--log-file=", "cancel"}, globals("info", "")},
      // The value of --log-file is taken whatever it looks like.
      {{"--log-file", "--log-level", "cancel"}, globals("info", "--log-level")},
  };
  for (const auto& c : cases) {
    const auto result = parse(c.args);
    ASSERT_TRUE(result) << ::testing::PrintToString(c.args) << ": " << result.error().message();
    EXPECT_EQ(result->globals, c.expected) << ::testing::PrintToString(c.args);
  }
}

TEST(Parser, GlobalOptionsAreRemovedEvenInThePlaceOfAnOptionValue) {
  // "--output" loses its value to the global option that follows it.
  const auto result = parse({"grid", "--output", "--log-file", "x"});
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error().message(), "missing value for --output");

  const auto scroll = parse({"scroll", "up", "--step", "--log-level", "debug", "4"});
  ASSERT_TRUE(scroll) << scroll.error().message();
  EXPECT_EQ(std::get<command::Scroll>(scroll->command).step, 4.0);
  EXPECT_EQ(scroll->globals.log_level, "debug");
}

struct Rejected {
  Args args;
  std::string message;
};

TEST(Parser, RejectsWithTheExactMessage) {
  const Rejected cases[] = {
      {{}, "missing command; try `tarvik --help`"},
      {{"--log-level", "debug"}, "missing command; try `tarvik --help`"},
      {{"frobnicate"}, "unknown argument: frobnicate"},
      {{"--verbose", "grid"}, "unknown argument: --verbose"},
      {{"reload", "now"}, "unknown argument: now"},
      {{"cancel", "--all"}, "unknown argument: --all"},
      {{"mouse", "x"}, "unknown argument: x"},
      {{"grid", "--help"}, "unknown argument: --help"},
      {{"grid", "--scope"}, "missing value for --scope"},
      {{"grid", "--output"}, "missing value for --output"},
      {{"grid", "--action"}, "missing value for --action"},
      {{"grid", "--max-depth"}, "missing value for --max-depth"},
      {{"grid", "--scope", "every"}, "invalid value: every"},
      {{"grid", "--scope", "Focused"}, "invalid value: Focused"},
      {{"grid", "--action", "click"}, "invalid value: click"},
      {{"grid", "--action", "Move"}, "invalid value: Move"},
      {{"grid", "--scope", "all", "--output", "DP-1"},
       "invalid value: --output and --scope are mutually exclusive"},
      {{"grid", "--output", "DP-1", "--scope", "focused", "--auto-descend"},
       "invalid value: --output and --scope are mutually exclusive"},
      // Mutual exclusion is checked after all options, so later errors win.
      {{"grid", "--scope", "all", "--output", "DP-1", "--bogus"}, "unknown argument: --bogus"},
      {{"grid", "--scope", "all", "--output", "DP-1", "--max-depth", "300"},
       "invalid value: --max-depth"},
      {{"click"}, "missing value for button"},
      {{"click", "Left"}, "invalid value: Left"},
      {{"click", "left", "right"}, "unknown argument: right"},
      {{"scroll"}, "missing value for direction"},
      {{"scroll", "sideways"}, "invalid value: sideways"},
      // The first word after "scroll" is always the direction.
      {{"scroll", "--step", "3", "up"}, "invalid value: --step"},
      {{"scroll", "up", "--step"}, "missing value for --step"},
      {{"scroll", "up", "3"}, "unknown argument: 3"},
      {{"scroll", "up", "--step", "0x10"}, "invalid value: 0x10"},
      {{"scroll", "up", "--step", " 3"}, "invalid value:  3"},
      {{"daemon", "--config"}, "missing value for --config"},
      {{"daemon", "--seat"}, "missing value for --seat"},
      {{"daemon", "--output", "x"}, "unknown argument: --output"},
      {{"cancel", "--log-level"}, "missing value for --log-level"},
      {{"cancel", "--log-file"}, "missing value for --log-file"},
  };
  for (const auto& c : cases) {
    const auto result = parse(c.args);
    ASSERT_FALSE(result) << ::testing::PrintToString(c.args);
    EXPECT_EQ(result.error().message(), c.message) << ::testing::PrintToString(c.args);
  }
}

TEST(Parser, MaxDepthErrorsCarryTheOptionNameNotTheText) {
  for (const char* depth : {"256", "-1", "+", "", "1000", "7a", " 7", "++7", "٣"}) {
    const auto result = parse({"grid", "--max-depth", depth});
    ASSERT_FALSE(result) << depth;
    EXPECT_EQ(result.error(), (CliError{CliError::Kind::InvalidValue, "--max-depth"})) << depth;
  }
}

TEST(Parser, LogLevelIsCheckedOnlyAfterTheCommandParsed) {
  const Rejected cases[] = {
      {{"--log-level=", "cancel"},
       R"(invalid value: invalid log level ""; expected error, warn, info, debug, or trace)"},
      {{"cancel", "--log-level", "Debug"},
       R"(invalid value: invalid log level "Debug"; expected error, warn, info, debug, or trace)"},
      {{"--log-level", "a\"b\\c\nd\x01", "cancel"},
       R"(invalid value: invalid log level "a\"b\\c\nd\u0001"; expected error, warn, info, debug, or trace)"},
      // A bad command word is reported before a bad level.
      {{"--log-level", "loud", "bogus"}, "unknown argument: bogus"},
      {{"--log-level", "loud", "grid", "--scope", "all", "--output", "x"},
       "invalid value: --output and --scope are mutually exclusive"},
      {{"--log-level", "loud"}, "missing command; try `tarvik --help`"},
  };
  for (const auto& c : cases) {
    const auto result = parse(c.args);
    ASSERT_FALSE(result) << ::testing::PrintToString(c.args);
    EXPECT_EQ(result.error().message(), c.message) << ::testing::PrintToString(c.args);
  }
  for (const char* level : {"error", "warn", "info", "debug", "trace"}) {
    EXPECT_TRUE(parse({"cancel", "--log-level", level})) << level;
  }
}

TEST(Parser, HelpAndVersionInCommandPositionAreErrorsCarryingTheText) {
  const auto help = parse({"--log-level", "debug", "--help"});
  ASSERT_FALSE(help);
  EXPECT_EQ(help.error(), (CliError{CliError::Kind::Help, usage_text("tarvik")}));
  EXPECT_EQ(help.error().message(), usage_text("tarvik"));
  const auto version = parse_command_line(Args{"--log-file=x", "-V"}, "tarvik-dev");
  ASSERT_FALSE(version);
  EXPECT_EQ(version.error().message(), version_text("tarvik-dev"));
  const auto missing = parse_command_line(Args{}, "tarvik-dev");
  ASSERT_FALSE(missing);
  EXPECT_EQ(missing.error().message(), "missing command; try `tarvik-dev --help`");
}

TEST(Parser, AnyArgumentThatIsNotUtf8IsRefused) {
  const std::string bad = "caf\xe9";
  const Args cases[] = {
      {bad},
      {"grid", "--output", bad},
      {"--log-level", bad, "cancel"},
      {"cancel", "--log-file", bad},
      {"--log-file=" + bad, "cancel"},
      // Refused before the command is even looked at.
      {"bogus", bad},
  };
  for (const auto& args : cases) {
    const auto result = parse(args);
    ASSERT_FALSE(result) << ::testing::PrintToString(args);
    EXPECT_EQ(result.error().message(), "argument is not valid UTF-8");
  }
  // Valid multi-byte text is fine.
  const auto result = parse({"grid", "--output", "Écran-✓-𝄞"});
  ASSERT_TRUE(result);
  EXPECT_EQ(std::get<command::Grid>(result->command).options.output, "Écran-✓-𝄞");
}

TEST(HelpRequest, LooksOnlyAtTheFirstArgument) {
  EXPECT_EQ(help_request(Args{"-h"}, "tarvik"), usage_text("tarvik"));
  EXPECT_EQ(help_request(Args{"--help", "bogus", "\xff"}, "tarvik"), usage_text("tarvik"));
  EXPECT_EQ(help_request(Args{"-V"}, "tarvik-dev"), version_text("tarvik-dev"));
  EXPECT_EQ(help_request(Args{"--version", "extra", "words"}, "tarvik"), version_text("tarvik"));
  for (const Args& args : {Args{}, Args{"grid", "--help"}, Args{"--log-level", "info", "-h"},
                           Args{"--help=yes"}, Args{"-H"}, Args{"\xff", "--help"}}) {
    EXPECT_EQ(help_request(args, "tarvik"), std::nullopt) << ::testing::PrintToString(args);
  }
}

TEST(Step, FollowsTheDecimalGrammar) {
  struct Case {
    const char* text;
    double value;
  };
  const Case accepted[] = {
      {"3", 3},       {"+3", 3},        {"-3", -3},         {"0.5", 0.5},     {".5", 0.5},
      {"5.", 5},      {"1e3", 1000},    {"1E+3", 1000},     {"25e-1", 2.5},   {"-0", -0.0},
      {"007", 7},     {"1e400", HUGE_VAL}, {"-1e400", -HUGE_VAL}, {"1e-400", 0},
      {"inf", HUGE_VAL}, {"-Inf", -HUGE_VAL}, {"+INFINITY", HUGE_VAL}, {"iNfInItY", HUGE_VAL},
      {"0.1", 0.1},
  };
  for (const auto& c : accepted) {
    const auto step = parse_step(c.text);
    ASSERT_TRUE(step) << c.text;
    EXPECT_EQ(*step, c.value) << c.text;
    EXPECT_EQ(std::signbit(*step), std::signbit(c.value)) << c.text;
  }
  for (const char* text : {"nan", "NaN", "-nan", "+NAN"}) {
    const auto step = parse_step(text);
    ASSERT_TRUE(step) << text;
    EXPECT_TRUE(std::isnan(*step)) << text;
  }
  for (const char* text : {"", "+", "-", ".", "e3", "1e", "1e+", "0x10", "0x1p3", " 3", "3 ",
                           "3\n", "1_000", "1,5", "--3", "+-3", "in", "infinit", "nan(1)",
                           "infinityy", "1.2.3", "١"}) {
    EXPECT_EQ(parse_step(text), std::nullopt) << '"' << text << '"';
  }
}

TEST(Utf8, RejectsMalformedSequences) {
  for (const char* valid : {"", "ascii", "\xc2\x80", "\xdf\xbf", "\xe0\xa0\x80", "\xed\x9f\xbf",
                            "\xef\xbf\xbf", "\xf0\x90\x80\x80", "\xf4\x8f\xbf\xbf"}) {
    EXPECT_TRUE(logging::is_valid_utf8(valid)) << ::testing::PrintToString(std::string(valid));
  }
  for (const char* invalid : {"\x80", "\xbf", "\xc0\x80", "\xc1\xbf", "\xc2", "\xc2\x41",
                              "\xe0\x80\x80", "\xe0\x9f\xbf", "\xed\xa0\x80", "\xe2\x82",
                              "\xf0\x80\x80\x80", "\xf4\x90\x80\x80", "\xf5\x80\x80\x80", "\xff",
                              "ok\xe2\x82"}) {
    EXPECT_FALSE(logging::is_valid_utf8(invalid)) << ::testing::PrintToString(std::string(invalid));
  }
}

TEST(DisplayName, IsTarvikDevOnlyForThatExactFileName) {
  struct Case {
    std::optional<std::string_view> arg0;
    const char* name;
  };
  const Case cases[] = {
      {"tarvik-dev", "tarvik-dev"},
      {"/usr/local/bin/tarvik-dev", "tarvik-dev"},
      {"./build/tarvik-dev", "tarvik-dev"},
      {"tarvik", "tarvik"},
      {"/usr/bin/tarvik", "tarvik"},
      {"tarvik-dev2", "tarvik"},
      {"Tarvik-dev", "tarvik"},
      {"/opt/tarvik-dev/tarvik", "tarvik"},
      {"", "tarvik"},
      {std::nullopt, "tarvik"},
      {"/bin/tarvik-dev\xff", "tarvik"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(display_name(c.arg0), c.name) << (c.arg0 ? *c.arg0 : "<none>");
  }
}

TEST(Texts, UsageAndVersionCarryTheDisplayName) {
  for (const char* name : {"tarvik", "tarvik-dev"}) {
    const std::string usage = usage_text(name);
    EXPECT_FALSE(usage.ends_with('\n'));
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = usage.find('\n', start)) != std::string::npos; start = end + 1) {
      lines.push_back(usage.substr(start, end - start));
    }
    lines.push_back(usage.substr(start));
    ASSERT_EQ(lines.size(), 24u);
    for (std::size_t i = 0; i < 8; ++i) {
      EXPECT_TRUE(lines[i].starts_with(std::string(name) + " ")) << lines[i];
      // The name is followed by the rest of the line, never by a second copy of itself.
      EXPECT_EQ(lines[i].find("tarvik", std::string_view(name).size()), std::string::npos);
    }
    EXPECT_EQ(lines[0], std::string(name) + " [GLOBAL OPTIONS] daemon [--config PATH] [--seat NAME]");
    EXPECT_EQ(lines[8], "");
    EXPECT_EQ(lines[23], "  scroll-up, scroll-down, scroll-left, scroll-right");

    EXPECT_EQ(version_text(name), std::string(name) + " v0.2.0(" + std::string(build_id()) + ")");
  }
  EXPECT_FALSE(build_id().empty());
  EXPECT_EQ(build_id().find_first_of(" ()\n"), std::string_view::npos);
  // Built from a checkout, the identifier is the source revision rather than the fallback.
  if (std::filesystem::exists(std::filesystem::path(TARVIK_SOURCE_DIR) / ".git")) {
    EXPECT_NE(build_id(), "unknown");
  }
}

}  // namespace
}  // namespace tarvik
