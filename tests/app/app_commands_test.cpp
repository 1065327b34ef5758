#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include <unistd.h>

#include "app/app_support.h"
#include "config/config.h"

namespace tarvik::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

Command grid_command(GridOptions options = {}) { return command::Grid{std::move(options)}; }

GridOptions on_output(std::string name) {
  GridOptions options;
  options.output = std::move(name);
  return options;
}

GridOptions with_scope(OutputScope scope) {
  GridOptions options;
  options.scope = scope;
  return options;
}

TEST(AppCreate, RequiresShortcutInhibitionUnlessConfiguredOtherwise) {
  struct Case {
    bool preserve_focus;
    std::optional<bool> require;
    bool available;
    bool created;
  };
  const Case cases[] = {
      {false, std::nullopt, true, true},  {false, std::nullopt, false, false},
      {false, true, false, false},        {false, false, false, true},
      {true, std::nullopt, false, true},  {true, true, false, true},
  };
  for (const Case& c : cases) {
    Config config;
    config.general.preserve_focus = c.preserve_focus;
    config.general.require_shortcut_inhibit = c.require;
    auto backend = standard_backend();
    backend->inhibition = c.available;
    auto app = App::create(std::move(backend), config, std::nullopt);
    EXPECT_EQ(app.has_value(), c.created)
        << c.preserve_focus << " " << c.require.value_or(-1) << " " << c.available;
    if (!app) {
      EXPECT_EQ(app.error(), "required keyboard shortcut inhibition is unavailable");
    }
  }
}

TEST(AppCreate, RegistersItselfForBackendEventsAndStartsIdle) {
  auto h = make_harness();
  EXPECT_EQ(h->backend->events(), h->app.get());
  EXPECT_EQ(h->app->mode(), ModeKind::Idle);
  EXPECT_TRUE(h->calls().empty());
}

TEST(AppCommands, CancelWhileIdleStillParksTheOverlays) {
  auto h = make_harness();
  EXPECT_EQ(h->request(command::Cancel{}), "cancelled");
  EXPECT_EQ(h->calls(), cancel_calls());
  EXPECT_EQ(h->backend->generation, 1u);
}

TEST(AppCommands, GridTakesTheKeyboardOnTheFocusedOutputAndDraws) {
  auto h = make_harness();
  EXPECT_EQ(h->request(grid_command()), "grid active");
  EXPECT_EQ(h->calls(), concat({{"focused_output"},
                                cancel_calls(),
                                {"capture_keyboard DP-1 false", "present DP-1 1920x1080"}}));
  EXPECT_EQ(h->app->mode(), ModeKind::Grid);
}

TEST(AppCommands, MouseTakesTheKeyboardAndDrawsTheBadge) {
  auto h = make_harness();
  EXPECT_EQ(h->request(command::Mouse{}), "mouse mode active");
  EXPECT_EQ(h->calls(), concat({{"focused_output"},
                                cancel_calls(),
                                {"capture_keyboard DP-1 false", "present DP-1 1920x1080"}}));
  EXPECT_EQ(h->app->mode(), ModeKind::Mouse);
}

TEST(AppCommands, PreserveFocusIsPassedToTheKeyboardCapture) {
  Config config;
  config.general.preserve_focus = true;
  auto h = make_harness(config);
  ASSERT_TRUE(h->request(command::Mouse{}));
  EXPECT_THAT(h->calls(), ::testing::Contains("capture_keyboard DP-1 true"));
}

TEST(AppCommands, ClickAndScrollEndTheModeFirst) {
  auto h = make_harness();
  ASSERT_TRUE(h->request(grid_command()));
  h->calls();
  EXPECT_EQ(h->request(command::Click{PointerButton::Right}), "clicked");
  EXPECT_EQ(h->calls(), concat({{"focused_output"}, cancel_calls(), {"click right"}}));
  EXPECT_EQ(h->app->mode(), ModeKind::Idle);
}

TEST(AppCommands, ScrollUsesTheRequestStepOrTheConfiguredOne) {
  struct Case {
    ScrollDirection direction;
    std::optional<double> step;
    std::string expected;
  };
  const Case cases[] = {
      {ScrollDirection::Up, std::nullopt, "scroll up 7"},
      {ScrollDirection::Down, std::nullopt, "scroll down 7"},
      {ScrollDirection::Left, std::nullopt, "scroll left 3.5"},
      {ScrollDirection::Right, std::nullopt, "scroll right 3.5"},
      // The request's step is used as given, without any range check.
      {ScrollDirection::Up, 250.25, "scroll up 250.25"},
      {ScrollDirection::Left, -4.0, "scroll left -4"},
      {ScrollDirection::Down, 0.0, "scroll down 0"},
  };
  Config config;
  config.scroll.vertical_step = 7;
  config.scroll.horizontal_step = 3.5;
  auto h = make_harness(config);
  for (const Case& c : cases) {
    EXPECT_EQ(h->request(command::Scroll{c.direction, c.step}), "scrolled");
    EXPECT_EQ(h->calls(), concat({{"focused_output"}, cancel_calls(), {c.expected}}));
  }
}

TEST(AppCommands, ScrollOnTheFocusedWindowBringsThePointerThereFirst) {
  Config config;
  config.scroll.target = ScrollTarget::FocusedWindow;
  auto h = make_harness(config);
  EXPECT_EQ(h->request(command::Scroll{ScrollDirection::Down, std::nullopt}), "scrolled");
  EXPECT_EQ(h->calls(), concat({{"focused_output"},
                                cancel_calls(),
                                {"roundtrip", "pointer_to_focused_window seat0", "scroll down 15"}}));
}

TEST(AppCommands, ClickFirstReleasesAButtonLockedInMouseMode) {
  auto h = make_harness();
  ASSERT_TRUE(h->request(command::Mouse{}));
  h->press("v");
  h->press("s");
  h->release("s");
  EXPECT_THAT(h->calls(), ::testing::Contains("set_button left press"));
  EXPECT_EQ(h->request(command::Click{PointerButton::Left}), "clicked");
  EXPECT_EQ(h->calls(), (std::vector<std::string>{"focused_output", "cancel_captures",
                                                  "set_button left release",
                                                  "increment_input_generation",
                                                  "release_keyboard", "park_overlays",
                                                  "click left"}));
}

// Each request fails with its text, and the failure path (cancel) leaves the daemon idle.
struct FailureCase {
  const char* what;
  std::function<void(RecordingBackend&)> setup;
  Command command;
  std::string error;
};

class AppCommandFailureTest : public ::testing::TestWithParam<FailureCase> {};

TEST_P(AppCommandFailureTest, AnswersTheErrorAndEndsTheMode) {
  const FailureCase& c = GetParam();
  auto backend = standard_backend();
  if (c.setup) c.setup(*backend);
  auto h = make_harness(Config{}, std::move(backend));
  const auto answer = h->request(c.command);
  ASSERT_FALSE(answer.has_value()) << c.what;
  EXPECT_EQ(answer.error(), c.error) << c.what;
  EXPECT_EQ(h->app->mode(), ModeKind::Idle) << c.what;
  const auto calls = h->calls();
  ASSERT_FALSE(calls.empty());
  EXPECT_EQ(calls.back(), "park_overlays") << c.what;
}

void focus(RecordingBackend& backend, std::optional<std::string> name) {
  backend.fake_compositor().focused = std::move(name);
}

const SwayError kSwayDown{SwayError::Kind::MissingSocket, ""};

INSTANTIATE_TEST_SUITE_P(
    Cases, AppCommandFailureTest,
    ::testing::Values(
        FailureCase{"nested daemon", nullptr, command::Daemon{},
                    "daemon requests cannot be nested"},
        FailureCase{"focus query fails",
                    [](RecordingBackend& b) { b.fake_compositor().focused = std::unexpected(kSwayDown); },
                    grid_command(), kSwayDown.message()},
        FailureCase{"focused output unknown: grid",
                    [](RecordingBackend& b) { focus(b, "HDMI-A-9"); }, grid_command(),
                    "focused output HDMI-A-9 is not active"},
        FailureCase{"focused output unknown: mouse",
                    [](RecordingBackend& b) { focus(b, "HDMI-A-9"); }, command::Mouse{},
                    "focused output HDMI-A-9 is not active"},
        FailureCase{"focused output unknown: click",
                    [](RecordingBackend& b) { focus(b, "HDMI-A-9"); },
                    command::Click{PointerButton::Left}, "focused output HDMI-A-9 is not active"},
        FailureCase{"focused output unknown: scroll",
                    [](RecordingBackend& b) { focus(b, "HDMI-A-9"); },
                    command::Scroll{ScrollDirection::Up, std::nullopt},
                    "focused output HDMI-A-9 is not active"},
        FailureCase{"named output missing", nullptr,
                    grid_command(on_output("nope")), "output \"nope\" is not active"},
        FailureCase{"named output missing, name needs escapes", nullptr,
                    grid_command(on_output("we\"ird\\\n")),
                    "output \"we\\\"ird\\\\\\n\" is not active"},
        FailureCase{"focused scope with no focused output known",
                    [](RecordingBackend& b) { focus(b, std::nullopt); }, grid_command(),
                    "grid needs at least one region"},
        FailureCase{"mouse mode with no focused output known",
                    [](RecordingBackend& b) { focus(b, std::nullopt); }, command::Mouse{},
                    "no configured output is available for keyboard input"},
        FailureCase{"keyboard capture fails",
                    [](RecordingBackend& b) {
                      b.failures["capture_keyboard"] = "overlay for output DP-1 is unavailable";
                    },
                    grid_command(), "overlay for output DP-1 is unavailable"},
        FailureCase{"the first frame cannot be shown",
                    [](RecordingBackend& b) { b.failures["present"] = "no buffer"; },
                    command::Mouse{}, "no buffer"},
        FailureCase{"click fails",
                    [](RecordingBackend& b) { b.failures["click"] = "Sway rejected cursor command: x"; },
                    command::Click{PointerButton::Middle}, "Sway rejected cursor command: x"},
        FailureCase{"scroll fails",
                    [](RecordingBackend& b) { b.failures["scroll"] = "no seat"; },
                    command::Scroll{ScrollDirection::Left, 2.0}, "no seat"}));

TEST(AppCommands, ScrollOnTheFocusedWindowFailsWithEachStep) {
  struct Case {
    std::function<void(RecordingBackend&)> setup;
    std::string error;
  };
  const Case cases[] = {
      {[](RecordingBackend& b) { b.failures["roundtrip"] = "connection lost"; }, "connection lost"},
      {[](RecordingBackend& b) {
         b.fake_compositor().failures["pointer_to_focused_window"] =
             SwayError{SwayError::Kind::NoFocusedWindow, "seat0"};
       },
       SwayError{SwayError::Kind::NoFocusedWindow, "seat0"}.message()},
  };
  for (const Case& c : cases) {
    Config config;
    config.scroll.target = ScrollTarget::FocusedWindow;
    auto backend = standard_backend();
    c.setup(*backend);
    auto h = make_harness(config, std::move(backend));
    const auto answer = h->request(command::Scroll{ScrollDirection::Up, std::nullopt});
    ASSERT_FALSE(answer);
    EXPECT_EQ(answer.error(), c.error);
    EXPECT_THAT(h->calls(), ::testing::Not(::testing::Contains(::testing::StartsWith("scroll "))));
  }
}

// ---- Choosing outputs ------------------------------------------------------------------------

std::unique_ptr<RecordingBackend> two_outputs(std::optional<std::string> focused) {
  auto backend = std::make_unique<RecordingBackend>();
  backend->set_outputs(
      {OutputRecord{"DP-1", 0, 0, 1920, 1080}, OutputRecord{"HDMI-A-1", 1920, 0, 1280, 720}});
  backend->fake_compositor().focused = std::move(focused);
  return backend;
}

TEST(AppOutputs, GridRegionsAndKeyboardOutputFollowScopeAndFocus) {
  struct Case {
    const char* what;
    std::optional<std::string> focused;
    GridOptions options;
    std::vector<std::string> drawn_and_keyboard;
  };
  const Case cases[] = {
      {"focused scope", "HDMI-A-1", {}, {"capture_keyboard HDMI-A-1 false", "present HDMI-A-1 1280x720"}},
      {"all outputs, keyboard on the focused one",
       "HDMI-A-1",
       with_scope(OutputScope::All),
       {"capture_keyboard HDMI-A-1 false", "present DP-1 1920x1080", "present HDMI-A-1 1280x720"}},
      {"a named output that is not focused takes the keyboard",
       "DP-1",
       on_output("HDMI-A-1"),
       {"capture_keyboard HDMI-A-1 false", "present HDMI-A-1 1280x720"}},
  };
  for (const Case& c : cases) {
    auto h = make_harness(Config{}, two_outputs(c.focused));
    EXPECT_EQ(h->request(grid_command(c.options)), "grid active") << c.what;
    auto calls = h->calls();
    calls.erase(calls.begin(), calls.begin() + 1 + static_cast<std::ptrdiff_t>(cancel_calls().size()));
    EXPECT_EQ(calls, c.drawn_and_keyboard) << c.what;
  }
}

TEST(AppOutputs, ConfiguredScopeAppliesWhenTheRequestNamesNone) {
  Config config;
  config.general.scope = OutputScope::All;
  auto h = make_harness(config, two_outputs("DP-1"));
  ASSERT_TRUE(h->request(grid_command()));
  const auto calls = h->calls();
  EXPECT_THAT(calls, ::testing::Contains("present HDMI-A-1 1280x720"));
  EXPECT_THAT(calls, ::testing::Contains("capture_keyboard DP-1 false"));
}

TEST(AppOutputs, KeyboardGoesToTheFirstOutputWithAnOverlayWhenTheFocusedHasNone) {
  auto backend = two_outputs("DP-1");
  backend->overlay_list.erase(backend->overlay_list.begin());
  auto h = make_harness(Config{}, std::move(backend));
  ASSERT_TRUE(h->request(grid_command(with_scope(OutputScope::All))));
  EXPECT_THAT(h->calls(), ::testing::Contains("capture_keyboard HDMI-A-1 false"));
}

TEST(AppOutputs, TheLastFocusedOutputIsKeptWhenTheCompositorReportsNone) {
  auto h = make_harness(Config{}, two_outputs("HDMI-A-1"));
  ASSERT_TRUE(h->request(command::Cancel{}));
  ASSERT_TRUE(h->request(command::Click{PointerButton::Left}));
  h->compositor().focused = std::optional<std::string>{};
  h->calls();
  EXPECT_EQ(h->request(command::Mouse{}), "mouse mode active");
  EXPECT_THAT(h->calls(), ::testing::Contains("capture_keyboard HDMI-A-1 false"));
}

// ---- Reload ----------------------------------------------------------------------------------

class AppReloadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("tarvik-app-reload-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(dir_);
    path_ = (dir_ / "config.toml").string();
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  void write(const std::string& text) { std::ofstream(path_) << text; }

  std::filesystem::path dir_;
  std::string path_;
};

TEST_F(AppReloadTest, AMissingFileGivesTheDefaults) {
  Config config;
  config.scroll.vertical_step = 99;
  auto h = make_harness(config, nullptr, path_);
  EXPECT_EQ(h->request(command::Reload{}), "configuration reloaded");
  EXPECT_EQ(h->app->config(), Config{});
}

TEST_F(AppReloadTest, KeepsTheModeAndRedrawsItWithTheNewSettings) {
  auto h = make_harness(Config{}, nullptr, path_);
  ASSERT_TRUE(h->request(command::Mouse{}));
  h->calls();
  write("[scroll]\nvertical_step = 40.0\n[bindings.mouse]\nscroll_up = \"w\"\n");
  EXPECT_EQ(h->request(command::Reload{}), "configuration reloaded");
  EXPECT_EQ(h->calls(), std::vector<std::string>{"present DP-1 1920x1080"});
  EXPECT_EQ(h->app->mode(), ModeKind::Mouse);
  h->press("w");
  EXPECT_EQ(h->calls(), std::vector<std::string>{"scroll up 40"});
}

TEST_F(AppReloadTest, ChangingPreserveFocusEndsTheMode) {
  auto h = make_harness(Config{}, nullptr, path_);
  ASSERT_TRUE(h->request(command::Mouse{}));
  h->calls();
  write("[general]\npreserve_focus = true\n");
  EXPECT_EQ(h->request(command::Reload{}), "configuration reloaded");
  EXPECT_EQ(h->calls(), cancel_calls());
  EXPECT_EQ(h->app->mode(), ModeKind::Idle);
  EXPECT_TRUE(h->app->config().general.preserve_focus);
}

TEST_F(AppReloadTest, AFailedReloadKeepsTheRunningConfiguration) {
  Config config;
  config.scroll.vertical_step = 99;
  config.general.require_shortcut_inhibit = false;
  auto backend = standard_backend();
  backend->inhibition = false;
  auto h = make_harness(config, std::move(backend), path_);

  struct Case {
    std::string file;
    std::string error_start;
  };
  const Case cases[] = {
      {"[grid]\nmax_cell = 3\n", "invalid config " + path_ + ": "},
      {"[grid]\nmax_label_length = 5\n", "invalid config: "},
      // Valid, but without the key that let the daemon run without shortcut inhibition.
      {"[scroll]\nvertical_step = 1.0\n", "required keyboard shortcut inhibition is unavailable"},
  };
  for (const Case& c : cases) {
    write(c.file);
    const auto answer = h->request(command::Reload{});
    ASSERT_FALSE(answer) << c.file;
    EXPECT_TRUE(answer.error().starts_with(c.error_start)) << answer.error();
    EXPECT_EQ(h->app->config(), config) << c.file;
  }
}

}  // namespace
}  // namespace tarvik::testing
