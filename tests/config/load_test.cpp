#include <filesystem>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "config/config.h"
#include "config_support.h"

namespace tarvik {
namespace {

using config_testing::load_text;
using config_testing::records_during;
using config_testing::ScopedEnv;
using config_testing::TempDir;

struct PathCase {
  std::optional<std::string> xdg;
  std::optional<std::string> home;
  std::string expected;
};

TEST(ConfigPath, DefaultLocationFromTheEnvironment) {
  const std::vector<PathCase> cases = {
      {"/xdg", "/home/u", "/xdg/tarvik/config.toml"},
      {"/xdg/", std::nullopt, "/xdg/tarvik/config.toml"},
      // Set but empty still counts as set, and leaves a relative path.
      {"", "/home/u", "tarvik/config.toml"},
      {std::nullopt, "/home/u", "/home/u/.config/tarvik/config.toml"},
      {std::nullopt, "/", "/.config/tarvik/config.toml"},
      {std::nullopt, "", ".config/tarvik/config.toml"},
  };
  for (const auto& c : cases) {
    const ScopedEnv xdg("XDG_CONFIG_HOME", c.xdg);
    const ScopedEnv home("HOME", c.home);
    const auto path = config_path(std::nullopt);
    ASSERT_TRUE(path.has_value()) << c.expected;
    EXPECT_EQ(*path, c.expected);
  }
}

TEST(ConfigPath, ExplicitPathIsUsedUnchangedAndNeedsNoEnvironment) {
  const ScopedEnv xdg("XDG_CONFIG_HOME", std::nullopt);
  const ScopedEnv home("HOME", std::nullopt);
  for (const std::string given : {"relative.toml", "./a/../b.toml", "/abs//x.toml", ""}) {
    EXPECT_EQ(config_path(given), given);
  }
  const auto missing = config_path(std::nullopt);
  ASSERT_FALSE(missing.has_value());
  EXPECT_EQ(missing.error().kind, ConfigError::Kind::NoConfigDirectory);
  EXPECT_EQ(missing.error().message(), "HOME and XDG_CONFIG_HOME are both unset");
  EXPECT_EQ(load_config(std::nullopt).error(), missing.error());
}

TEST(LoadConfig, ReadsTheFileAtTheDefaultLocation) {
  const TempDir dir;
  dir.write("xdg/tarvik/config.toml", "[grid]\nmax_cells = 100\n");
  dir.write("home/.config/tarvik/config.toml", "[grid]\nmax_cells = 200\n");
  {
    const ScopedEnv xdg("XDG_CONFIG_HOME", (dir.path() / "xdg").string());
    const ScopedEnv home("HOME", (dir.path() / "home").string());
    const auto loaded = load_config(std::nullopt);
    ASSERT_TRUE(loaded.has_value()) << loaded.error().message();
    EXPECT_EQ(loaded->grid.max_cells, 100u);
  }
  {
    const ScopedEnv xdg("XDG_CONFIG_HOME", std::nullopt);
    const ScopedEnv home("HOME", (dir.path() / "home").string());
    const auto loaded = load_config(std::nullopt);
    ASSERT_TRUE(loaded.has_value()) << loaded.error().message();
    EXPECT_EQ(loaded->grid.max_cells, 200u);
  }
  {
    // An XDG directory without the file means the defaults; HOME is not consulted.
    const ScopedEnv xdg("XDG_CONFIG_HOME", (dir.path() / "home").string());
    const ScopedEnv home("HOME", (dir.path() / "home").string());
    EXPECT_EQ(load_config(std::nullopt), Config{});
  }
}

TEST(LoadConfig, EmptyXdgConfigHomeReadsRelativeToTheWorkingDirectory) {
  const TempDir dir;
  dir.write("tarvik/config.toml", "[grid]\nmax_cells = 300\n");
  const auto previous = std::filesystem::current_path();
  std::filesystem::current_path(dir.path());
  const ScopedEnv xdg("XDG_CONFIG_HOME", "");
  const auto loaded = load_config(std::nullopt);
  std::filesystem::current_path(previous);
  ASSERT_TRUE(loaded.has_value()) << loaded.error().message();
  EXPECT_EQ(loaded->grid.max_cells, 300u);
}

TEST(LoadConfig, NothingAtThePathMeansTheDefaults) {
  const TempDir dir;
  const std::string file = dir.write("plain.toml", "[grid]\nmax_cells = 100\n");
  const auto dangling = dir.path() / "dangling.toml";
  std::filesystem::create_symlink(dir.path() / "gone.toml", dangling);
  const auto linked = dir.path() / "linked.toml";
  std::filesystem::create_symlink(file, linked);

  for (const std::string& absent : {(dir.path() / "missing.toml").string(), dangling.string(),
                                   file + "/under-a-file.toml", std::string(5000, 'x')}) {
    const auto loaded = load_config(absent);
    ASSERT_TRUE(loaded.has_value()) << absent << ": " << loaded.error().message();
    EXPECT_EQ(*loaded, Config{});
  }
  // A link to a file is followed.
  const auto loaded = load_config(linked.string());
  ASSERT_TRUE(loaded.has_value()) << loaded.error().message();
  EXPECT_EQ(loaded->grid.max_cells, 100u);
}

TEST(LoadConfig, UnreadableFilesFailWithTheSystemError) {
  const TempDir dir;
  const std::string directory = (dir.path() / "config.toml").string();
  std::filesystem::create_directory(directory);
  const auto loaded = load_config(directory);
  ASSERT_FALSE(loaded.has_value());
  EXPECT_EQ(loaded.error().kind, ConfigError::Kind::Read);
  EXPECT_EQ(loaded.error().message(),
            "cannot read config " + directory + ": Is a directory (os error 21)");
}

TEST(LoadConfig, EndlessFilesAreRefusedInsteadOfFillingMemory) {
  const auto loaded = load_config("/dev/zero");
  ASSERT_FALSE(loaded.has_value());
  EXPECT_EQ(loaded.error().message(), "cannot read config /dev/zero: File too large (os error 27)");
}

TEST(LoadConfig, FileWithoutReadPermissionFails) {
  if (::geteuid() == 0) {
    GTEST_SKIP() << "running as root: permission checks always pass, so the file stays readable";
  }
  const TempDir dir;
  const std::string file = dir.write("config.toml", "[grid]\nmax_cells = 100\n");
  ASSERT_EQ(::chmod(file.c_str(), 0), 0);
  const auto loaded = load_config(file);
  ASSERT_FALSE(loaded.has_value());
  EXPECT_EQ(loaded.error().kind, ConfigError::Kind::Read);
  EXPECT_EQ(loaded.error().message(),
            "cannot read config " + file + ": Permission denied (os error 13)");
}

TEST(LoadConfig, TextMustBeUtf8) {
  const std::vector<std::string> invalid = {
      "# caf\xe9\n",                        // Latin-1
      "a = 1 # \xc0\xaf\n",                 // overlong
      "# \xed\xa0\x80\n",                   // surrogate
      "# \xf4\x90\x80\x80\n",               // above U+10FFFF
      "[grid]\nmax_cells = 1 # \xe2\x82",   // cut off at the end
      "\xff\xfe[\x00g\x00r\x00i\x00d\x00]\x00",  // UTF-16
  };
  const TempDir dir;
  for (const auto& bytes : invalid) {
    const std::string file = dir.write("config.toml", bytes);
    const auto loaded = load_config(file);
    ASSERT_FALSE(loaded.has_value());
    EXPECT_EQ(loaded.error().kind, ConfigError::Kind::Read);
    EXPECT_EQ(loaded.error().message(),
              "cannot read config " + file + ": stream did not contain valid UTF-8");
  }
  const auto valid = load_text("# caf\xc3\xa9 \xe2\x82\xac \xf0\x9d\x84\x9e\n[bindings.grid]\nback = \"\xc3\xa9\"\n");
  ASSERT_TRUE(valid.has_value()) << valid.error().message();
  EXPECT_EQ(valid->bindings.grid.back, "\xc3\xa9");
}

TEST(LoadConfig, ErrorsNameThePathAsLossyText) {
  const TempDir dir;
  const std::string file = dir.write("bad\xff" "name.toml", "[grid]\nmax_cell = 1\n");
  const auto loaded = load_config(file);
  ASSERT_FALSE(loaded.has_value());
  EXPECT_EQ(loaded.error().path, file);  // the cause keeps the real bytes
  const std::string shown = (dir.path() / "bad\xef\xbf\xbdname.toml").string();
  EXPECT_TRUE(loaded.error().message().starts_with("invalid config " + shown + ": TOML parse error at line 2, column 1\n"))
      << loaded.error().message();
}

TEST(LoadConfig, ParseErrorText) {
  const TempDir dir;
  const std::string file = dir.write("config.toml", "[general]\nscope = \"every\"\n");
  const auto loaded = load_config(file);
  ASSERT_FALSE(loaded.has_value());
  EXPECT_EQ(loaded.error().message(),
            "invalid config " + file +
                ": TOML parse error at line 2, column 9\n"
                "  |\n"
                "2 | scope = \"every\"\n"
                "  |         ^^^^^^^\n"
                "unknown variant `every`, expected one of `focused`, `all`");
}

TEST(LoadConfig, ExampleFileHoldsEveryDefault) {
  const std::string example = std::string(TARVIK_SOURCE_DIR) + "/config.example.toml";
  ASSERT_TRUE(std::filesystem::exists(example));
  const auto loaded = load_config(example);
  ASSERT_TRUE(loaded.has_value()) << loaded.error().message();
  EXPECT_EQ(*loaded, Config{});
}

// ---- the deprecated key ----

const std::string kCombination =
    "general.preserve_focus cannot be combined with deprecated general.require_shortcut_inhibit; "
    "remove require_shortcut_inhibit";
const std::string kWarnTrue =
    "general.require_shortcut_inhibit is deprecated; remove it to keep the default behavior, or "
    "set general.preserve_focus = true to preserve application focus";
const std::string kWarnFalse =
    "general.require_shortcut_inhibit is deprecated; false retains legacy permissive operation "
    "for compatibility; remove it to require shortcut inhibition, or replace it with "
    "general.preserve_focus = true to preserve application focus (different behavior)";

TEST(DeprecatedKey, CannotBeCombinedWithPreserveFocus) {
  for (const std::string text : {
           "[general]\npreserve_focus = false\nrequire_shortcut_inhibit = false\n",
           "[general]\npreserve_focus = true\nrequire_shortcut_inhibit = true\n",
           "[general]\nrequire_shortcut_inhibit = true\npreserve_focus = false\n",
       }) {
    const auto loaded = load_text(text);
    ASSERT_FALSE(loaded.has_value()) << text;
    EXPECT_EQ(loaded.error().kind, ConfigError::Kind::Parse);
    // Reported at the deprecated key, wherever it sits.
    const auto& report = loaded.error().source;
    const auto line = text.find("require") < text.find("preserve") ? "2" : "3";
    EXPECT_TRUE(report.starts_with(std::string("TOML parse error at line ") + line + ", column 1\n"))
        << report;
    EXPECT_TRUE(report.ends_with("\n" + kCombination)) << report;
  }
}

struct WarningCase {
  std::string toml;
  std::optional<bool> value;
  std::vector<std::string> warnings;
};

TEST(DeprecatedKey, TakesEffectAndWarnsOncePerLoad) {
  const std::vector<WarningCase> cases = {
      {"[general]\nrequire_shortcut_inhibit = true\n", true, {kWarnTrue}},
      {"[general]\nrequire_shortcut_inhibit = false\n", false, {kWarnFalse}},
      {"[general]\npreserve_focus = true\n", std::nullopt, {}},
      {"", std::nullopt, {}},
  };
  for (const auto& c : cases) {
    std::expected<Config, ConfigError> loaded;
    const auto records = records_during([&] { loaded = load_text(c.toml); });
    ASSERT_TRUE(loaded.has_value()) << c.toml << loaded.error().message();
    EXPECT_EQ(loaded->general.require_shortcut_inhibit, c.value) << c.toml;
    std::vector<std::string> messages;
    for (const auto& record : records) {
      EXPECT_EQ(record.level, "WRN");
      EXPECT_EQ(record.target, "tarvik::config");
      messages.push_back(record.message);
    }
    EXPECT_EQ(messages, c.warnings) << c.toml;
  }
}

TEST(DeprecatedKey, NoWarningWhenTheLoadFails) {
  const auto records = records_during([] {
    EXPECT_FALSE(load_text("[general]\nrequire_shortcut_inhibit = false\n[grid]\nmax_depth = 0\n"));
    EXPECT_FALSE(load_text("[general]\nrequire_shortcut_inhibit = false\n[grid]\nmax_deep = 1\n"));
  });
  EXPECT_TRUE(records.empty());
}

}  // namespace
}  // namespace tarvik
