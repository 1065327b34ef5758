// The built program, run as users run it: which stream gets which text, and the exit status.
#include <fstream>
#include <regex>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "cli/texts.h"
#include "daemon_support.h"
#include "support/process_support.h"

namespace tarvik {
namespace {

using testing::RunOptions;
using testing::RunResult;
using testing::ScriptedDaemon;
using testing::StdoutTarget;
using testing::TempDir;
using testing::hermetic;
using testing::read_file;

const std::filesystem::path kTarvik = TARVIK_EXECUTABLE;
const std::filesystem::path kTarvikDev = kTarvik.parent_path() / "tarvik-dev";

RunResult run(const std::filesystem::path& program, const std::vector<std::string>& args,
              const RunOptions& options = hermetic()) {
  return testing::run_program(program, args, options);
}

const std::string kTimestamp = R"(\d\d:\d\d:\d\d\.\d{3}Z)";

std::string escaped(std::string_view text) {
  static const std::regex special(R"([.^$|()\[\]{}*+?\\])");
  return std::regex_replace(std::string(text), special, R"(\$&)");
}

// The build identifier the executable was linked with. Taken from the program itself: the
// checkout moves on while a shared build directory is reconfigured, so the test's own copy of
// the library may carry a newer one.
std::string executable_build_id() {
  static const std::string id = [] {
    const RunResult result = testing::run_program(kTarvik, {"--version"}, {});
    std::smatch match;
    const std::regex form(R"(tarvik v0\.2\.0\(([^()\s]+)\)\n)");
    return std::regex_match(result.out, match, form) ? match[1].str() : "<malformed version text>";
  }();
  return id;
}

std::string version(std::string_view name) {
  return std::string(name) + " v0.2.0(" + executable_build_id() + ")";
}

std::string starting_line(std::string_view name) {
  return "INF " + kTimestamp + " starting " + escaped(version(name)) + "\n";
}

TEST(Entry, CommandLinesGiveTheirStreamsAndStatus) {
  struct Case {
    std::filesystem::path program;
    std::vector<std::string> args;
    std::string out;
    std::string err;
    int status;
  };
  const std::string usage = usage_text("tarvik");
  const std::string tarvik_version = version("tarvik");
  const std::string invalid_level_tail = "; expected error, warn, info, debug, or trace\n";
  const Case cases[] = {
      {kTarvik, {}, "", "tarvik: missing command; try `tarvik --help`\n", 1},
      {kTarvik, {"--help"}, usage + "\n", "", 0},
      {kTarvik, {"-h", "bogus", "\xff"}, usage + "\n", "", 0},
      {kTarvik, {"--version", "extra", "words"}, tarvik_version + "\n", "", 0},
      {kTarvik, {"-V"}, tarvik_version + "\n", "", 0},
      // Help anywhere but first is an error carrying the text.
      {kTarvik, {"--log-level", "debug", "--help"}, "", "tarvik: " + usage + "\n", 1},
      {kTarvik, {"--log-file=x", "-V"}, "", "tarvik: " + tarvik_version + "\n", 1},
      {kTarvik, {"grid", "--help"}, "", "tarvik: unknown argument: --help\n", 1},
      {kTarvik, {"bogus", "--log-level=x"}, "", "tarvik: unknown argument: bogus\n", 1},
      {kTarvik, {"--log-level=", "cancel"}, "",
       "tarvik: invalid value: invalid log level \"\"" + invalid_level_tail, 1},
      {kTarvik, {"cancel", "--log-level", "LOUD"}, "",
       "tarvik: invalid value: invalid log level \"LOUD\"" + invalid_level_tail, 1},
      {kTarvik, {"--log-file=", "cancel"}, "",
       "tarvik: cannot open log file: No such file or directory (os error 2)\n", 1},
      {kTarvik, {"scroll", "--step", "3", "up"}, "", "tarvik: invalid value: --step\n", 1},
      {kTarvik, {"grid", "--max-depth", "256"}, "", "tarvik: invalid value: --max-depth\n", 1},
      {kTarvik, {"grid", "--scope", "all", "--output", "DP-1"}, "",
       "tarvik: invalid value: --output and --scope are mutually exclusive\n", 1},
      {kTarvik, {"grid", "--scope", "all", "--output", "DP-1", "x"}, "",
       "tarvik: unknown argument: x\n", 1},
      {kTarvik, {"click", "\xff"}, "", "tarvik: argument is not valid UTF-8\n", 1},
      {kTarvik, {"\xff", "--help"}, "", "tarvik: argument is not valid UTF-8\n", 1},
      {kTarvik, {"--log-level", "warn", "daemon", "--seat", "seat0"}, "",
       "tarvik: SWAYSOCK is unset; cannot connect to Sway\n", 1},
      {kTarvik, {"--log-level", "warn", "cancel"}, "", "tarvik: XDG_RUNTIME_DIR is unset\n", 1},
      {kTarvikDev, {}, "", "tarvik-dev: missing command; try `tarvik-dev --help`\n", 1},
      {kTarvikDev, {"--help"}, usage_text("tarvik-dev") + "\n", "", 0},
      {kTarvikDev, {"--version"}, version("tarvik-dev") + "\n", "", 0},
      {kTarvikDev, {"click", "up"}, "", "tarvik-dev: invalid value: up\n", 1},
  };
  for (const auto& c : cases) {
    const RunResult result = run(c.program, c.args);
    const std::string label =
        c.program.filename().string() + " " + ::testing::PrintToString(c.args);
    EXPECT_EQ(result.out, c.out) << label;
    EXPECT_EQ(result.err, c.err) << label;
    EXPECT_EQ(result.exit_status, c.status) << label;
  }
}

TEST(Entry, HelpThatCannotBeWrittenEndsAbnormally) {
  struct Case {
    std::vector<std::string> args;
    StdoutTarget target;
    std::string err;
  };
  const Case cases[] = {
      {{"--help"}, StdoutTarget::DevFull,
       "failed printing to stdout: No space left on device (os error 28)\n"},
      {{"-V"}, StdoutTarget::DevFull,
       "failed printing to stdout: No space left on device (os error 28)\n"},
      {{"-h"}, StdoutTarget::Closed, "failed printing to stdout: Bad file descriptor (os error 9)\n"},
  };
  for (const auto& c : cases) {
    RunOptions options = hermetic();
    options.stdout_target = c.target;
    const RunResult result = run(kTarvik, c.args, options);
    EXPECT_EQ(result.err, c.err) << c.args[0];
    EXPECT_NE(result.exit_status, 0);
    EXPECT_NE(result.exit_status, 1);
  }
  // Help reported as an error goes to standard error and is unaffected by a full stdout.
  RunOptions options = hermetic();
  options.stdout_target = StdoutTarget::DevFull;
  const RunResult result = run(kTarvik, {"grid", "--help"}, options);
  EXPECT_EQ(result.err, "tarvik: unknown argument: --help\n");
  EXPECT_EQ(result.exit_status, 1);
}

TEST(Entry, DefaultLevelLogsTheStartBeforeTheError) {
  for (const auto& program : {kTarvik, kTarvikDev}) {
    const std::string name = program.filename().string();
    const RunResult result = run(program, {"cancel"});
    EXPECT_TRUE(std::regex_match(
        result.err, std::regex(starting_line(name) + name + ": XDG_RUNTIME_DIR is unset\n")))
        << result.err;
    EXPECT_EQ(result.exit_status, 1);
  }
}

TEST(Entry, DaemonLogsTheSwaySocketAndReportsStartUpFailure) {
  TempDir dir;
  std::filesystem::create_directory(dir.path() / "config");
  const RunResult result =
      run(kTarvik, {"daemon", "--log-level=debug"},
          hermetic({{"SWAYSOCK", (dir.path() / "sway.sock").string()},
                    {"XDG_RUNTIME_DIR", dir.path().string()},
                    {"XDG_CONFIG_HOME", (dir.path() / "config").string()},
                    {"WAYLAND_DISPLAY", "no-such-display"}}));
  EXPECT_EQ(result.exit_status, 1);
  EXPECT_EQ(result.out, "");
  EXPECT_TRUE(std::regex_search(
      result.err, std::regex("^" + starting_line("tarvik") + "DBG " + kTimestamp +
                             " using Sway IPC socket path=" + escaped(dir.path().string()) +
                             "/sway\\.sock\n")))
      << result.err;
  // Whatever failed, it is the last line, with the name in front.
  EXPECT_TRUE(std::regex_search(result.err, std::regex("\ntarvik: [^\n]+\n$"))) << result.err;
}

TEST(Entry, LogFileReceivesJsonLinesAppendedUnderCreatedParents) {
  TempDir dir;
  const auto log = dir.path() / "state" / "tarvik" / "log.json";
  std::filesystem::create_directories(log.parent_path());
  std::ofstream(log) << "kept from before\n";
  for (int i = 0; i < 2; ++i) {
    const RunResult result = run(kTarvik, {"--log-file", log.string(), "cancel"});
    EXPECT_EQ(result.exit_status, 1);
  }
  const std::string line = R"(\{"timestamp":")" + kTimestamp +
                           R"(","level":"INF","target":"tarvik","message":"starting )" +
                           escaped(version("tarvik")) + R"("\}\n)";
  EXPECT_TRUE(std::regex_match(read_file(log), std::regex("kept from before\n" + line + line)))
      << read_file(log);

  // Parents that do not exist yet are created.
  const auto fresh = dir.path() / "a" / "b" / "c.json";
  run(kTarvik, {"cancel", "--log-file=" + fresh.string()});
  EXPECT_TRUE(std::regex_match(read_file(fresh), std::regex(line))) << read_file(fresh);

  // Below the level, nothing reaches the file either.
  const auto quiet = dir.path() / "quiet.json";
  run(kTarvik, {"cancel", "--log-file", quiet.string(), "--log-level", "warn"});
  EXPECT_TRUE(std::filesystem::exists(quiet));
  EXPECT_EQ(read_file(quiet), "");

  const RunResult result = run(kTarvik, {"--log-file", dir.path().string(), "cancel"});
  EXPECT_EQ(result.err, "tarvik: cannot open log file: Is a directory (os error 21)\n");
  EXPECT_EQ(result.exit_status, 1);
}

// A client command against a stand-in daemon in a private runtime directory.
class ClientCommand : public ::testing::Test {
 protected:
  RunOptions env() {
    return hermetic({{"XDG_RUNTIME_DIR", dir_.path().string()}, {"WAYLAND_DISPLAY", "wayland-1"}});
  }
  std::filesystem::path socket(std::string_view name) {
    return dir_.path() / (std::string(name) + "-wayland-1.sock");
  }
  TempDir dir_;
};

TEST_F(ClientCommand, SuccessPrintsNothingAndExitsZero) {
  ScriptedDaemon daemon(socket("tarvik"), R"({"ok":true,"message":"grid active"})" "\n");
  const RunResult result = run(
      kTarvik, {"--log-level", "warn", "grid", "--output", "DP-1", "--auto-descend"}, env());
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_THAT(daemon.requests(),
              ::testing::ElementsAre(
                  R"({"version":1,"command":{"Grid":{"scope":null,"output":"DP-1","action":"choose","auto_descend":true,"max_depth":null}}})"
                  "\n"));
}

TEST_F(ClientCommand, DefaultLevelLogsStartAndSendingButStdoutStaysEmpty) {
  ScriptedDaemon daemon(socket("tarvik"), R"({"ok":true,"message":"cancelled"})");
  const RunResult result = run(kTarvik, {"cancel"}, env());
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_TRUE(std::regex_match(
      result.err,
      std::regex(starting_line("tarvik") + "INF " + kTimestamp + R"( sending command="Cancel"\n)")))
      << result.err;
}

TEST_F(ClientCommand, RefusalIsReportedWithTheDisplayName) {
  ScriptedDaemon daemon(socket("tarvik-dev"), R"({"ok":false,"message":"x"})" "\n");
  const RunResult result = run(kTarvikDev, {"click", "left", "--log-level=error"}, env());
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, "tarvik-dev: daemon rejected request: x\n");
  EXPECT_EQ(result.exit_status, 1);
  EXPECT_THAT(daemon.requests(),
              ::testing::ElementsAre(R"({"version":1,"command":{"Click":"left"}})" "\n"));
}

TEST_F(ClientCommand, NoDaemonIsAConnectError) {
  // A daemon of the other name does not answer for this one.
  ScriptedDaemon other(socket("tarvik-dev"), R"({"ok":true,"message":"cancelled"})", 0);
  const RunResult result = run(kTarvik, {"--log-level", "error", "reload"}, env());
  EXPECT_EQ(result.err, "tarvik: cannot connect to daemon at " + socket("tarvik").string() +
                            ": No such file or directory (os error 2); start it with `tarvik daemon`\n");
  EXPECT_EQ(result.exit_status, 1);
}

}  // namespace
}  // namespace tarvik
