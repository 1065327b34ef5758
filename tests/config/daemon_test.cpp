// The daemon's start-up loads the configuration before it connects to anything: a bad file ends
// the process with the error text, a good one lets it go on to the compositor.
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "config_support.h"

namespace tarvik {
namespace {

using config_testing::run_tarvik;
using config_testing::TempDir;

using Env = std::vector<std::pair<std::string, std::optional<std::string>>>;

// No compositor and no Sway can be reached, so the daemon never gets past its start-up.
Env isolated(const TempDir& dir) {
  return {{"SWAYSOCK", "/nonexistent"},
          {"XDG_RUNTIME_DIR", dir.path().string()},
          {"WAYLAND_DISPLAY", "tarvik-config-test-no-display"},
          {"WAYLAND_SOCKET", std::nullopt},
          {"XDG_CONFIG_HOME", (dir.path() / "xdg").string()},
          {"HOME", (dir.path() / "home").string()}};
}

TEST(DaemonStartup, BadFileEndsTheProcessWithTheErrorText) {
  const TempDir dir;
  const std::string bad = dir.write("bad.toml", "[grid]\nmax_cell = 1\n");
  const std::string invalid = dir.write("invalid.toml", "[grid]\nmax_label_length = 5\n");
  const std::string directory = (dir.path() / "adir").string();
  std::filesystem::create_directory(directory);

  struct Case {
    std::string path;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {bad,
       "tarvik: invalid config " + bad +
           ": TOML parse error at line 2, column 1\n"
           "  |\n"
           "2 | max_cell = 1\n"
           "  | ^^^^^^^^\n"
           "unknown field `max_cell`, expected one of `root_min_tile_width`, `root_min_tile_height`, "
           "`min_tile_width`, `min_tile_height`, `refinement_zoom`, `max_label_length`, "
           "`max_depth`, `max_cells`, `auto_descend`, `exit_on_scroll`, `unmatched`, "
           "`unmatched_opacity`\n"},
      {invalid, "tarvik: invalid config: max_label_length must be between 1 and 4\n"},
      {directory, "tarvik: cannot read config " + directory + ": Is a directory (os error 21)\n"},
  };
  for (const auto& c : cases) {
    const auto run = run_tarvik({"daemon", "--config", c.path}, isolated(dir), dir.path());
    EXPECT_EQ(run.exit_code, 1) << run.stderr_text;
    EXPECT_TRUE(run.stderr_text.ends_with(c.expected)) << run.stderr_text;
    // The start-up line comes first and names the option as given.
    const auto started = run.stderr_text.find("initializing daemon seat=None config=Some(\"" + c.path + "\")");
    EXPECT_NE(started, std::string::npos) << run.stderr_text;
    EXPECT_LT(started, run.stderr_text.find("tarvik: ")) << run.stderr_text;
  }
}

TEST(DaemonStartup, DefaultLocationIsUsedWithoutConfigOption) {
  const TempDir dir;
  dir.write("xdg/tarvik/config.toml", "[motion]\ntick_hz = 1\n");
  const auto run = run_tarvik({"daemon"}, isolated(dir), dir.path());
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_TRUE(run.stderr_text.ends_with("tarvik: invalid config: invalid motion speed or tick rate\n"))
      << run.stderr_text;

  Env no_directory = isolated(dir);
  no_directory.push_back({"XDG_CONFIG_HOME", std::nullopt});
  no_directory.push_back({"HOME", std::nullopt});
  const auto unset = run_tarvik({"daemon"}, no_directory, dir.path());
  EXPECT_EQ(unset.exit_code, 1);
  EXPECT_TRUE(unset.stderr_text.ends_with("tarvik: HOME and XDG_CONFIG_HOME are both unset\n"))
      << unset.stderr_text;
}

TEST(DaemonStartup, GoodFileGetsAsFarAsTheCompositorAndWarnsAboutTheDeprecatedKey) {
  const TempDir dir;
  const std::string file = dir.write("ok.toml", "[general]\nrequire_shortcut_inhibit = false\n");
  const std::string log = (dir.path() / "log.jsonl").string();
  for (const auto& path : {file, (dir.path() / "missing.toml").string()}) {
    const auto run = run_tarvik({"--log-file", log, "daemon", "--config", path}, isolated(dir), dir.path());
    EXPECT_EQ(run.exit_code, 1) << run.stderr_text;
    EXPECT_NE(run.stderr_text.find("\ntarvik: cannot connect to Wayland: "), std::string::npos)
        << run.stderr_text;
  }
  const auto lines = [&] {
    std::ifstream in(log);
    std::vector<std::string> out;
    for (std::string line; std::getline(in, line);) {
      if (line.find("tarvik::config") != std::string::npos) out.push_back(line);
    }
    return out;
  }();
  // One warning, from the run with the file; the missing file is silent.
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("\"level\":\"WRN\",\"target\":\"tarvik::config\",\"message\":"
                          "\"general.require_shortcut_inhibit is deprecated; false retains legacy"),
            std::string::npos)
      << lines[0];
}

}  // namespace
}  // namespace tarvik
