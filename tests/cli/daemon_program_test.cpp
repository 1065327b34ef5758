// `tarvik daemon` becomes the daemon program: where it is looked for, what happens when it is not
// there or cannot run, and that the command line, the display name and the process carry over.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <regex>
#include <thread>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "cli/texts.h"
#include "daemon_support.h"
#include "support/process_support.h"

extern char** environ;

namespace tarvik {
namespace {

using testing::RunOptions;
using testing::RunResult;
using testing::TempDir;
using testing::hermetic;
using testing::read_file;

namespace fs = std::filesystem;

const fs::path kTarvik = TARVIK_EXECUTABLE;
const fs::path kTarvikDev = kTarvik.parent_path() / "tarvik-dev";
const fs::path kDaemonProgram = kTarvik.parent_path() / "tarvik-daemon";

void write_program(const fs::path& path, const std::string& text, fs::perms perms) {
  fs::create_directories(path.parent_path());
  std::ofstream(path) << text;
  fs::permissions(path, perms);
}

// Stands in for the daemon program: shows which process it runs in and what it was given.
const std::string kEchoDaemon = "#!/bin/sh\necho \"pid=$$ args=$*\"\n";
constexpr auto kExecutable = fs::perms::owner_all | fs::perms::group_read | fs::perms::others_read;

// A copy of the small program in <root>/bin under `name`, as an installation lays it out; the
// directory is resolved because that is how the program sees its own location.
struct Installed {
  explicit Installed(std::string name = "tarvik") {
    root = fs::canonical(dir.path());
    program = root / "bin" / name;
    fs::create_directories(program.parent_path());
    fs::copy_file(kTarvik, program);
  }
  fs::path beside() const { return root / "bin" / "tarvik-daemon"; }
  fs::path libexec(std::string_view name) const {
    return root / "libexec" / name / "tarvik-daemon";
  }
  TempDir dir;
  fs::path root;
  fs::path program;
};

TEST(DaemonProgram, MissingIsOneErrorNamingWhereItWasLookedFor) {
  for (const std::string name : {"tarvik", "tarvik-dev"}) {
    Installed installed(name);
    const fs::path log = installed.root / "log.json";
    const RunResult result =
        testing::run_program(installed.program, {"--log-file", log.string(), "daemon"},
                             hermetic({{"SWAYSOCK", (installed.root / "sway.sock").string()}}));
    std::string places = installed.beside().string() + " or " + installed.libexec(name).string();
    if (name == "tarvik-dev") places += " or " + installed.libexec("tarvik").string();
    EXPECT_EQ(result.err, name + ": cannot run the daemon program " + places +
                              ": No such file or directory (os error 2)\n");
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.exit_status, 1);
    // Nothing was started: not even the log file was opened.
    EXPECT_FALSE(fs::exists(log));
  }
}

TEST(DaemonProgram, OneThatCannotRunIsNamedWithItsError) {
  struct Case {
    std::string what;
    fs::perms perms;  // none: a directory stands there
    std::string error;
  };
  const Case cases[] = {
      {"not executable", fs::perms::owner_read | fs::perms::owner_write,
       "Permission denied (os error 13)"},
      {"a directory", fs::perms::none, "Permission denied (os error 13)"},
      {"not a program", kExecutable, "Exec format error (os error 8)"},
  };
  for (const auto& c : cases) {
    Installed installed;
    if (c.perms == fs::perms::none) {
      fs::create_directories(installed.beside());
    } else {
      write_program(installed.beside(), "neither a script nor a program\n", c.perms);
    }
    // A runnable one further along is not used to hide the broken one.
    write_program(installed.libexec("tarvik"), kEchoDaemon, kExecutable);
    const RunResult result = testing::run_program(installed.program, {"daemon"}, hermetic());
    EXPECT_EQ(result.err, "tarvik: cannot run the daemon program " + installed.beside().string() +
                              ": " + c.error + "\n")
        << c.what;
    EXPECT_EQ(result.out, "") << c.what;
    EXPECT_EQ(result.exit_status, 1) << c.what;
  }
}

TEST(DaemonProgram, RunsInTheSameProcessWithTheSameArguments) {
  struct Case {
    std::string name;
    bool beside;                 // a stand-in beside the program, which then must win
    std::string libexec_folder;  // "": none in libexec
  };
  const Case cases[] = {{"tarvik", true, ""},
                        {"tarvik", false, "tarvik"},
                        {"tarvik-dev", false, "tarvik-dev"},
                        // A tarvik-dev linked to a regular installation uses its daemon program.
                        {"tarvik-dev", false, "tarvik"},
                        // Beside wins over the installed layout: a build tree is used as built.
                        {"tarvik-dev", true, "tarvik-dev"}};
  const std::vector<std::string> args = {"--log-level", "debug", "daemon", "--seat",
                                         "seat 1",      "--config", "c.toml", "--log-file=x/y"};
  for (const auto& c : cases) {
    Installed installed(c.name);
    if (c.beside) {
      write_program(installed.beside(), "#!/bin/sh\necho \"beside pid=$$ args=$*\"\n",
                    kExecutable);
    }
    if (!c.libexec_folder.empty()) {
      write_program(installed.libexec(c.libexec_folder), kEchoDaemon, kExecutable);
    }
    const RunResult result = testing::run_program(installed.program, args, hermetic());
    const std::string prefix = c.beside ? "beside " : "";
    const std::string label = c.name + " " + (c.beside ? "beside " : "") + c.libexec_folder;
    // The shell joins its arguments with spaces, so "seat 1" reads as two words here.
    EXPECT_EQ(result.out, prefix + "pid=" + std::to_string(result.pid) +
                              " args=--log-level debug daemon --seat seat 1 --config c.toml "
                              "--log-file=x/y\n")
        << label;
    EXPECT_EQ(result.err, "") << label;
    EXPECT_EQ(result.exit_status, 0) << label;
    // The log file is the daemon program's to open.
    EXPECT_FALSE(fs::exists(installed.root / "x")) << label;
  }
}

TEST(DaemonProgram, WrongArgumentsAreReportedWithoutStartingIt) {
  struct Case {
    std::vector<std::string> args;
    std::string err;
  };
  const Case cases[] = {
      {{"daemon", "--bogus"}, "tarvik: unknown argument: --bogus\n"},
      {{"daemon", "--seat"}, "tarvik: missing value for --seat\n"},
      {{"daemon", "--config", "a", "--config"}, "tarvik: missing value for --config\n"},
      {{"daemon", "--log-level"}, "tarvik: missing value for --log-level\n"},
      {{"--log-level=loud", "daemon"},
       "tarvik: invalid value: invalid log level \"loud\"; expected error, warn, info, debug, or "
       "trace\n"},
      {{"daemon", "\xff"}, "tarvik: argument is not valid UTF-8\n"},
      {{"--log-level", "warn", "daemon", "--help"}, "tarvik: unknown argument: --help\n"},
  };
  Installed installed;
  write_program(installed.beside(), kEchoDaemon, kExecutable);
  for (const auto& c : cases) {
    const RunResult result = testing::run_program(installed.program, c.args, hermetic());
    EXPECT_EQ(result.out, "") << ::testing::PrintToString(c.args);
    EXPECT_EQ(result.err, c.err) << ::testing::PrintToString(c.args);
    EXPECT_EQ(result.exit_status, 1) << ::testing::PrintToString(c.args);
  }
}

// The real daemon program, started through the link: it names itself tarvik-dev, and the start
// is logged once, on standard error and in the file, though both programs read --log-file.
TEST(DaemonProgram, KeepsTheDisplayNameAndLogsTheStartOnce) {
  TempDir dir;
  std::filesystem::create_directory(dir.path() / "config");
  const fs::path log = dir.path() / "log.json";
  for (int run = 0; run < 2; ++run) {
    const RunResult result = testing::run_program(
        kTarvikDev, {"--log-file", log.string(), "daemon", "--log-level=debug"},
        hermetic({{"SWAYSOCK", (dir.path() / "sway.sock").string()},
                  {"XDG_RUNTIME_DIR", dir.path().string()},
                  {"XDG_CONFIG_HOME", (dir.path() / "config").string()},
                  {"WAYLAND_DISPLAY", "no-such-display"}}));
    EXPECT_EQ(result.exit_status, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_THAT(result.err, ::testing::StartsWith("INF "));
    const std::regex start_line("(^|\n)INF [^\n]* starting tarvik-dev v0\\.2\\.0\\(");
    EXPECT_EQ(std::distance(std::sregex_iterator(result.err.begin(), result.err.end(), start_line),
                            std::sregex_iterator()),
              1)
        << result.err;
    EXPECT_THAT(result.err, ::testing::HasSubstr(" using Sway IPC socket path="));
    // The daemon program's own failure, under the name it was started by.
    EXPECT_TRUE(std::regex_search(result.err, std::regex("\ntarvik-dev: [^\n]+\n$")))
        << result.err;
  }
  // Two runs, two start records: appended, never truncated, never written twice by one run.
  const std::string file = read_file(log);
  const std::regex record(R"("message":"starting tarvik-dev v0\.2\.0\()");
  EXPECT_EQ(std::distance(std::sregex_iterator(file.begin(), file.end(), record),
                          std::sregex_iterator()),
            2)
      << file;
}

// A compositor socket that takes connections but never answers them: a daemon connecting to it
// waits in its first roundtrip, alive long enough to be looked at.
class SilentCompositor {
 public:
  explicit SilentCompositor(const fs::path& path) {
    listener_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string text = path.string();
    if (listener_ < 0 || text.size() >= sizeof address.sun_path) throw std::runtime_error("socket");
    std::memcpy(address.sun_path, text.c_str(), text.size() + 1);
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener_, 16) != 0) {
      throw std::runtime_error("cannot bind the silent compositor's socket");
    }
  }
  ~SilentCompositor() { ::close(listener_); }
  SilentCompositor(const SilentCompositor&) = delete;
  SilentCompositor& operator=(const SilentCompositor&) = delete;

 private:
  int listener_ = -1;
};

std::string proc_text(pid_t pid, const char* entry) {
  std::string text = read_file(fs::path("/proc") / std::to_string(pid) / entry);
  if (text.ends_with('\n')) text.pop_back();
  return text;
}

// Process lists and `pkill -x` see the daemon under the name it was started by, not under the
// daemon program's file name, and it is still the process that was started.
TEST(DaemonProgram, RunningDaemonKeepsItsProcessAndName) {
  TempDir dir;
  const fs::path root = fs::canonical(dir.path());
  SilentCompositor compositor(root / "wayland-silent");
  std::vector<std::string> env_strings;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string_view text(*entry);
    if (!text.starts_with("SWAYSOCK=") && !text.starts_with("XDG_RUNTIME_DIR=") &&
        !text.starts_with("WAYLAND_DISPLAY=") && !text.starts_with("WAYLAND_SOCKET=") &&
        !text.starts_with("XDG_CONFIG_HOME=")) {
      env_strings.emplace_back(text);
    }
  }
  env_strings.push_back("SWAYSOCK=" + (root / "sway.sock").string());
  env_strings.push_back("XDG_RUNTIME_DIR=" + root.string());
  env_strings.push_back("WAYLAND_DISPLAY=wayland-silent");
  env_strings.push_back("XDG_CONFIG_HOME=" + (root / "config").string());
  std::vector<char*> envp;
  for (auto& s : env_strings) envp.push_back(s.data());
  envp.push_back(nullptr);

  const fs::path daemon_program = fs::canonical(kDaemonProgram);
  for (const fs::path& program : {kTarvik, kTarvikDev}) {
    const std::string name = program.filename().string();
    std::vector<std::string> argv_strings{program.string(), "--log-level=error", "daemon"};
    std::vector<char*> argv;
    for (auto& s : argv_strings) argv.push_back(s.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()), 0);
    posix_spawn_file_actions_destroy(&actions);

    // The program is replaced, then renames itself: wait for both, a few seconds at most.
    std::string exe;
    std::string comm;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (std::chrono::steady_clock::now() < deadline) {
      std::error_code ignored;
      exe = fs::read_symlink(fs::path("/proc") / std::to_string(pid) / "exe", ignored).string();
      comm = proc_text(pid, "comm");
      if (exe == daemon_program.string() && comm != "tarvik-daemon") break;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(exe, daemon_program.string()) << name;
    EXPECT_EQ(comm, name);
    // Argument zero travels unchanged.
    EXPECT_EQ(proc_text(pid, "cmdline").substr(0, program.string().size()), program.string());
    ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
  }
}

// Run under its own name, the daemon program answers the other commands as tarvik does.
TEST(DaemonProgram, RunDirectlyBehavesAsTarvik) {
  struct Case {
    std::vector<std::string> args;
    std::string out;
    std::string err;
    int status;
  };
  // The version text as the small program prints it: both are linked from the same build.
  const std::string version = testing::run_program(kTarvik, {"--version"}, hermetic()).out;
  const Case cases[] = {
      {{"--help"}, usage_text("tarvik") + "\n", "", 0},
      {{"-V"}, version, "", 0},
      {{}, "", "tarvik: missing command; try `tarvik --help`\n", 1},
      {{"click", "up"}, "", "tarvik: invalid value: up\n", 1},
      {{"--log-level", "warn", "cancel"}, "", "tarvik: XDG_RUNTIME_DIR is unset\n", 1},
      {{"--log-level", "warn", "daemon"}, "", "tarvik: SWAYSOCK is unset; cannot connect to Sway\n",
       1},
  };
  for (const auto& c : cases) {
    const RunResult result = testing::run_program(kDaemonProgram, c.args, hermetic());
    EXPECT_EQ(result.out, c.out) << ::testing::PrintToString(c.args);
    EXPECT_EQ(result.err, c.err) << ::testing::PrintToString(c.args);
    EXPECT_EQ(result.exit_status, c.status) << ::testing::PrintToString(c.args);
  }

  TempDir dir;
  testing::ScriptedDaemon daemon(dir.path() / "tarvik-wayland-1.sock",
                                 R"({"ok":true,"message":"cancelled"})" "\n");
  const RunResult result = testing::run_program(
      kDaemonProgram, {"--log-level=warn", "click", "right"},
      hermetic({{"XDG_RUNTIME_DIR", dir.path().string()}, {"WAYLAND_DISPLAY", "wayland-1"}}));
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_THAT(daemon.requests(),
              ::testing::ElementsAre(R"({"version":1,"command":{"Click":"right"}})" "\n"));
}

// The point of the split: a client command loads none of the daemon's display, drawing, font,
// keyboard or configuration libraries. Read from the dynamic section's names in each file.
TEST(DaemonProgram, OnlyTheDaemonProgramLinksTheDaemonsLibraries) {
  const std::string small = read_file(kTarvik);
  const std::string full = read_file(kDaemonProgram);
  for (const std::string library :
       {"libwayland-client.so", "libcairo.so", "libfreetype.so", "libxkbcommon.so"}) {
    EXPECT_THAT(full, ::testing::HasSubstr(library)) << "the check cannot see " << library;
    EXPECT_THAT(small, ::testing::Not(::testing::HasSubstr(library))) << library;
  }
}

}  // namespace
}  // namespace tarvik
